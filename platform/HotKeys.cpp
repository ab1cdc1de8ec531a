#include "platform/HotKeys.h"

#include "platform/Log.h"
#include "platform/ShortcutsPortal.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>

struct platform::OpaqueEventTargetRef {
    int unused = 0;
};

struct platform::OpaqueEventRef {
    std::uint32_t eventClass = 0;
    std::uint32_t eventKind = 0;
    std::optional<EventHotKeyID> hotKeyID;
};

struct platform::OpaqueEventHandlerRef {
    EventTargetRef target;
    EventHandlerUPP proc;
    std::vector<EventTypeSpec> types;
    void* userData;
};

struct platform::OpaqueEventHotKeyRef {
    std::uint32_t keyCode;
    std::uint32_t modifiers;
    EventHotKeyID id;
    EventTargetRef target;
    std::vector<xcb_keycode_t> keyCodes; // X key codes of the key symbol
    std::uint16_t xModifiers;            // the X modifier mask without the lock keys
    bool viaPortal = false;              // bound through the desktop's shortcuts portal
};

namespace platform {
namespace {

// X key symbols.
enum : std::uint32_t {
    XK_space = 0x0020,
    XK_F1 = 0xffbe,
    XK_Num_Lock = 0xff7f,
    XK_Shift_L = 0xffe1,
    XK_Shift_R = 0xffe2,
    XK_Control_L = 0xffe3,
    XK_Control_R = 0xffe4,
    XK_Alt_L = 0xffe9,
    XK_Alt_R = 0xffea,
    XK_Super_L = 0xffeb,
    XK_Super_R = 0xffec,
    XK_ISO_Level3_Shift = 0xfe03,
};

struct VirtualKey {
    std::uint32_t code;
    std::uint32_t keySymbol;
};

// The keys a hot key can use, then the modifier keys GetKeys reports. The right-hand
// Option key is Alt_R, or AltGr on keyboards that make it a level-3 shift.
constexpr VirtualKey hotKeyKeys[] = {
    {kVK_Space, XK_space}, {kVK_F1, XK_F1},     {kVK_F2, XK_F1 + 1},  {kVK_F3, XK_F1 + 2},
    {kVK_F4, XK_F1 + 3},   {kVK_F5, XK_F1 + 4}, {kVK_F6, XK_F1 + 5},  {kVK_F7, XK_F1 + 6},
    {kVK_F8, XK_F1 + 7},   {kVK_F9, XK_F1 + 8}, {kVK_F10, XK_F1 + 9}, {kVK_F11, XK_F1 + 10},
    {kVK_F12, XK_F1 + 11},
};
constexpr VirtualKey modifierKeys[] = {
    {kVK_Command, XK_Super_L},
    {kVK_RightCommand, XK_Super_R},
    {kVK_Shift, XK_Shift_L},
    {kVK_RightShift, XK_Shift_R},
    {kVK_Option, XK_Alt_L},
    {kVK_RightOption, XK_Alt_R},
    {kVK_RightOption, XK_ISO_Level3_Shift},
    {kVK_Control, XK_Control_L},
    {kVK_RightControl, XK_Control_R},
};

class HotKeyFilter;

struct State {
    OpaqueEventTargetRef applicationTarget;
    std::vector<std::unique_ptr<OpaqueEventHandlerRef>> handlers;
    std::vector<std::unique_ptr<OpaqueEventHotKeyRef>> hotKeys;
    std::set<QString> logged;
    std::vector<std::pair<EventHotKeyID, QString>> descriptions;
    GetKeysSource keysSource;
    std::unique_ptr<HotKeyFilter> filter;
    xcb_key_symbols_t* symbols = nullptr;
    xcb_connection_t* symbolsConnection = nullptr;
    // Owned by the application object, so it goes before the bus connection does.
    QPointer<ShortcutsPortal> portal;
};

State& state() {
    static State s;
    return s;
}

void logOnce(const QString& line) {
    if (state().logged.insert(line).second)
        NSLog(line);
}

// The application's own X connection; null without X11.
xcb_connection_t* xConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    // Qt's default screen; the hot key is the same on every screen of one display.
    return it.rem ? it.data->root : XCB_NONE;
}

xcb_key_symbols_t* keySymbols(xcb_connection_t* c) {
    State& s = state();
    if (s.symbolsConnection != c) {
        if (s.symbols)
            xcb_key_symbols_free(s.symbols);
        s.symbols = xcb_key_symbols_alloc(c);
        s.symbolsConnection = c;
    }
    return s.symbols;
}

std::vector<xcb_keycode_t> keyCodesOf(xcb_connection_t* c, std::uint32_t keySymbol) {
    std::vector<xcb_keycode_t> codes;
    xcb_key_symbols_t* syms = keySymbols(c);
    if (!syms)
        return codes;
    xcb_keycode_t* list = xcb_key_symbols_get_keycode(syms, keySymbol);
    for (xcb_keycode_t* k = list; k && *k != XCB_NO_SYMBOL; ++k)
        if (std::find(codes.begin(), codes.end(), *k) == codes.end())
            codes.push_back(*k);
    std::free(list);
    return codes;
}

// The X modifier bits that hold a key symbol (Alt, Super, NumLock vary by keymap).
std::uint16_t modifierMaskOf(xcb_connection_t* c, std::uint32_t keySymbol, std::uint16_t fallback) {
    const std::vector<xcb_keycode_t> codes = keyCodesOf(c, keySymbol);
    xcb_get_modifier_mapping_reply_t* reply =
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    if (!reply)
        return fallback;
    std::uint16_t mask = 0;
    const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    for (int mod = 0; mod < 8; ++mod)
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t k = map[mod * perModifier + i];
            if (k && std::find(codes.begin(), codes.end(), k) != codes.end())
                mask |= std::uint16_t(1u << mod);
        }
    std::free(reply);
    return mask ? mask : fallback;
}

std::uint16_t numLockMask(xcb_connection_t* c) {
    return modifierMaskOf(c, XK_Num_Lock, XCB_MOD_MASK_2);
}

std::uint16_t xModifiersFor(xcb_connection_t* c, std::uint32_t modifiers) {
    std::uint16_t x = 0;
    if (modifiers & cmdKey)
        x |= modifierMaskOf(c, XK_Super_L, XCB_MOD_MASK_4);
    if (modifiers & shiftKey)
        x |= XCB_MOD_MASK_SHIFT;
    if (modifiers & optionKey)
        x |= modifierMaskOf(c, XK_Alt_L, XCB_MOD_MASK_1);
    if (modifiers & controlKey)
        x |= XCB_MOD_MASK_CONTROL;
    return x;
}

// The four variants of a grab: as is, with NumLock, with CapsLock, with both.
std::vector<std::uint16_t> lockVariants(xcb_connection_t* c, std::uint16_t mods) {
    const std::uint16_t num = numLockMask(c);
    return {mods, std::uint16_t(mods | num), std::uint16_t(mods | XCB_MOD_MASK_LOCK),
            std::uint16_t(mods | num | XCB_MOD_MASK_LOCK)};
}

void ungrab(xcb_connection_t* c, const OpaqueEventHotKeyRef& hotKey) {
    const xcb_window_t root = rootWindow(c);
    for (xcb_keycode_t k : hotKey.keyCodes)
        for (std::uint16_t m : lockVariants(c, hotKey.xModifiers))
            xcb_ungrab_key(c, k, root, m);
    xcb_flush(c);
}

// All variants, or none: a partial grab is undone.
bool grab(xcb_connection_t* c, const OpaqueEventHotKeyRef& hotKey) {
    const xcb_window_t root = rootWindow(c);
    std::vector<xcb_void_cookie_t> cookies;
    for (xcb_keycode_t k : hotKey.keyCodes)
        for (std::uint16_t m : lockVariants(c, hotKey.xModifiers))
            cookies.push_back(
                xcb_grab_key_checked(c, 1, root, m, k, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool ok = !cookies.empty();
    for (xcb_void_cookie_t cookie : cookies)
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            ok = false;
            std::free(error);
        }
    if (!ok)
        ungrab(c, hotKey);
    return ok;
}

void dispatch(OpaqueEventRef& event);

// The portal's name for a hot key, stable across runs: the signature's four characters
// (or its hexadecimal digits when they are not letters and digits), a hyphen, the id.
QString shortcutIdOf(EventHotKeyID id) {
    QString signature;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((id.signature >> shift) & 0xff);
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            signature = QStringLiteral("%1").arg(id.signature, 8, 16, QLatin1Char('0'));
            break;
        }
        signature += QLatin1Char(c);
    }
    return signature + QLatin1Char('-') + QString::number(id.id);
}

// What the desktop's shortcut settings show for a hot key: the text its owner gave, or
// the id itself.
QString shortcutDescriptionOf(EventHotKeyID id) {
    for (const auto& [known, description] : state().descriptions)
        if (known == id && !description.isEmpty())
            return description;
    return shortcutIdOf(id);
}

// The set to bind; an identifier registered twice is bound once (the first, as the X11
// grab's first match wins).
std::vector<PortalShortcut> portalShortcuts() {
    std::vector<PortalShortcut> out;
    std::set<QString> ids;
    for (const auto& hotKey : state().hotKeys)
        if (hotKey->viaPortal && ids.insert(shortcutIdOf(hotKey->id)).second)
            out.push_back(
                {shortcutIdOf(hotKey->id), shortcutDescriptionOf(hotKey->id),
                 portalTriggerForHotKey(hotKey->keyCode, hotKey->modifiers).value_or(QString())});
    return out;
}

void portalShortcutActivated(const QString& shortcutId) {
    for (const auto& hotKey : state().hotKeys)
        if (hotKey->viaPortal && shortcutIdOf(hotKey->id) == shortcutId) {
            OpaqueEventRef event{kEventClassKeyboard, kEventHotKeyPressed, hotKey->id};
            dispatch(event);
            return;
        }
}

// The portal client, made on first use; null when the session bus has no portal that
// offers global shortcuts.
ShortcutsPortal* shortcutsPortal() {
    State& s = state();
    if (s.portal)
        return s.portal;
    if (ShortcutsPortal::availableVersion() < 1)
        return nullptr;
    s.portal = new ShortcutsPortal(portalShortcutActivated, QCoreApplication::instance());
    return s.portal;
}

void dispatch(OpaqueEventRef& event) {
    // Newest first; a handler may install or remove handlers while it runs.
    std::vector<OpaqueEventHandlerRef*> order;
    for (const auto& h : state().handlers)
        order.push_back(h.get());
    std::reverse(order.begin(), order.end());
    for (OpaqueEventHandlerRef* h : order) {
        const auto& list = state().handlers;
        const bool alive =
            std::any_of(list.begin(), list.end(), [h](const auto& p) { return p.get() == h; });
        if (!alive)
            continue;
        const bool wanted = std::any_of(h->types.begin(), h->types.end(), [&](auto t) {
            return t.eventClass == event.eventClass && t.eventKind == event.eventKind;
        });
        if (wanted && h->proc(nullptr, &event, h->userData) == noErr)
            return;
    }
}

class HotKeyFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        auto* generic = static_cast<xcb_generic_event_t*>(message);
        const std::uint8_t kind = generic->response_type & 0x7f;
        if (kind == XCB_MAPPING_NOTIFY) {
            remap();
            return false;
        }
        if (kind != XCB_KEY_PRESS && kind != XCB_KEY_RELEASE)
            return false;
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(generic);
        xcb_connection_t* c = xConnection();
        if (!c || key->event != rootWindow(c))
            return false;
        const std::uint16_t locks = std::uint16_t(numLockMask(c) | XCB_MOD_MASK_LOCK);
        const std::uint16_t mods = std::uint16_t(key->state & 0xff & ~locks);
        for (const auto& hotKey : state().hotKeys) {
            if (hotKey->xModifiers != mods ||
                std::find(hotKey->keyCodes.begin(), hotKey->keyCodes.end(), key->detail) ==
                    hotKey->keyCodes.end())
                continue;
            if (kind == XCB_KEY_PRESS) {
                OpaqueEventRef event{kEventClassKeyboard, kEventHotKeyPressed, hotKey->id};
                dispatch(event);
            }
            return true;
        }
        return false;
    }

private:
    // A new keyboard layout: grab the keys where they are now.
    static void remap() {
        xcb_connection_t* c = xConnection();
        if (!c)
            return;
        for (const auto& hotKey : state().hotKeys)
            if (!hotKey->viaPortal)
                ungrab(c, *hotKey);
        if (state().symbols) {
            xcb_key_symbols_free(state().symbols);
            state().symbols = nullptr;
            state().symbolsConnection = nullptr;
        }
        for (const auto& hotKey : state().hotKeys) {
            if (hotKey->viaPortal)
                continue;
            const std::uint32_t sym = *keySymbolForVirtualKeyCode(hotKey->keyCode);
            hotKey->keyCodes = keyCodesOf(c, sym);
            hotKey->xModifiers = xModifiersFor(c, hotKey->modifiers);
            if (!grab(c, *hotKey))
                logOnce(QStringLiteral("Quillo :: RegisterEventHotKey :: key %1 with modifiers "
                                       "0x%2 could not be grabbed again after a keyboard change")
                            .arg(hotKey->keyCode)
                            .arg(hotKey->modifiers, 0, 16));
        }
    }
};

} // namespace

std::optional<std::uint32_t> keySymbolForVirtualKeyCode(std::uint32_t keyCode) {
    for (const VirtualKey& k : hotKeyKeys)
        if (k.code == keyCode)
            return k.keySymbol;
    return std::nullopt;
}

EventTargetRef GetApplicationEventTarget() {
    return &state().applicationTarget;
}

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, std::uint32_t numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
    if (!target || !handler || (numTypes && !list))
        return paramErr;
    std::vector<EventTypeSpec> types(list, list + numTypes);
    for (const auto& h : state().handlers) {
        const bool sameTypes =
            h->types.size() == types.size() &&
            std::equal(types.begin(), types.end(), h->types.begin(), [](auto a, auto b) {
                return a.eventClass == b.eventClass && a.eventKind == b.eventKind;
            });
        if (h->target == target && h->proc == handler && h->userData == userData && sameTypes) {
            if (outRef)
                *outRef = h.get();
            return noErr;
        }
    }
    state().handlers.push_back(std::make_unique<OpaqueEventHandlerRef>(
        OpaqueEventHandlerRef{target, handler, std::move(types), userData}));
    if (outRef)
        *outRef = state().handlers.back().get();
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef handler) {
    auto& list = state().handlers;
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const auto& h) { return h.get() == handler; });
    if (it == list.end())
        return paramErr;
    list.erase(it);
    return noErr;
}

void SetEventHotKeyDescription(EventHotKeyID id, const QString& description) {
    auto& descriptions = state().descriptions;
    for (auto& [known, text] : descriptions)
        if (known == id) {
            text = description;
            return;
        }
    descriptions.emplace_back(id, description);
}

OSStatus RegisterEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers, EventHotKeyID id,
                             EventTargetRef target, std::uint32_t, EventHotKeyRef* outRef) {
    if (outRef)
        *outRef = nullptr;
    const std::uint32_t known = cmdKey | shiftKey | optionKey | controlKey;
    const std::optional<std::uint32_t> keySymbol = keySymbolForVirtualKeyCode(keyCode);
    if (!target || !keySymbol || (modifiers & ~known)) {
        logOnce(QStringLiteral("Quillo :: RegisterEventHotKey :: key %1 with modifiers 0x%2 "
                               "cannot be a hot key")
                    .arg(keyCode)
                    .arg(modifiers, 0, 16));
        return eventHotKeyInvalidErr;
    }
    // With Control and Alt held the X server takes F1 to F12 for switching consoles: such
    // a key would be grabbed and never arrive.
    if ((modifiers & controlKey) && (modifiers & optionKey) && *keySymbol >= XK_F1 &&
        *keySymbol <= XK_F1 + 11) {
        logOnce(QStringLiteral("Quillo :: RegisterEventHotKey :: key %1 with modifiers 0x%2 "
                               "switches consoles and cannot be a hot key")
                    .arg(keyCode)
                    .arg(modifiers, 0, 16));
        return eventHotKeyExistsErr;
    }
    State& s = state();
    xcb_connection_t* c = xConnection();
    if (!c) {
        // The desktop's portal binds the key; what it answers later is logged there.
        ShortcutsPortal* portal = shortcutsPortal();
        if (!portal) {
            logOnce(QStringLiteral("Quillo :: RegisterEventHotKey :: no X11 display and no "
                                   "GlobalShortcuts portal, so no global hot key; a keyboard "
                                   "shortcut of the desktop can run \"menubar-server --pop-up "
                                   "IDENTIFIER\" instead"));
            return eventHotKeyExistsErr;
        }
        s.hotKeys.push_back(std::make_unique<OpaqueEventHotKeyRef>(
            OpaqueEventHotKeyRef{keyCode, modifiers, id, target, {}, 0, true}));
        if (outRef)
            *outRef = s.hotKeys.back().get();
        portal->setShortcuts(portalShortcuts());
        return noErr;
    }
    auto hotKey = std::make_unique<OpaqueEventHotKeyRef>(OpaqueEventHotKeyRef{
        keyCode, modifiers, id, target, keyCodesOf(c, *keySymbol), xModifiersFor(c, modifiers)});
    if (!grab(c, *hotKey)) {
        logOnce(QStringLiteral("Quillo :: RegisterEventHotKey :: key %1 with modifiers 0x%2 "
                               "is taken by another program")
                    .arg(keyCode)
                    .arg(modifiers, 0, 16));
        return eventHotKeyExistsErr;
    }
    if (!s.filter) {
        s.filter = std::make_unique<HotKeyFilter>();
        QCoreApplication::instance()->installNativeEventFilter(s.filter.get());
    }
    s.hotKeys.push_back(std::move(hotKey));
    if (outRef)
        *outRef = s.hotKeys.back().get();
    return noErr;
}

OSStatus UnregisterEventHotKey(EventHotKeyRef hotKey) {
    auto& list = state().hotKeys;
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const auto& h) { return h.get() == hotKey; });
    if (it == list.end())
        return paramErr;
    const bool viaPortal = (*it)->viaPortal;
    if (xcb_connection_t* c = xConnection(); c && !viaPortal)
        ungrab(c, **it);
    list.erase(it);
    // The remaining set is bound again, or the session closed when none is left.
    if (viaPortal && state().portal)
        state().portal->setShortcuts(portalShortcuts());
    return noErr;
}

std::uint32_t GetEventClass(EventRef event) {
    return event ? event->eventClass : 0;
}

std::uint32_t GetEventKind(EventRef event) {
    return event ? event->eventKind : 0;
}

std::optional<EventHotKeyID> GetEventHotKeyID(EventRef event) {
    return event ? event->hotKeyID : std::nullopt;
}

void GetKeys(KeyMap& keys) {
    keys.fill(0);
    if (state().keysSource) {
        keys = state().keysSource();
        return;
    }
    xcb_connection_t* c = xConnection();
    if (!c)
        return;
    xcb_query_keymap_reply_t* reply = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
    if (!reply)
        return;
    const auto report = [&](const VirtualKey& k) {
        for (xcb_keycode_t code : keyCodesOf(c, k.keySymbol))
            if ((reply->keys[code / 8] >> (code % 8)) & 1)
                setKeyDown(keys, k.code, true);
    };
    for (const VirtualKey& k : modifierKeys)
        report(k);
    for (const VirtualKey& k : hotKeyKeys)
        report(k);
    std::free(reply);
}

void setGetKeysSource(GetKeysSource source) {
    state().keysSource = std::move(source);
}

std::vector<RegisteredHotKey> registeredHotKeys() {
    std::vector<RegisteredHotKey> out;
    for (const auto& h : state().hotKeys)
        out.push_back({h->keyCode, h->modifiers, h->id});
    return out;
}

} // namespace platform
