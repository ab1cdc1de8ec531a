// The menu extra's life cycle and events: creation by the host, the settings and
// failed-write notifications, the hot key, and the test of held modifier keys.
#include "menuextra/QLMenuExtra.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/Preferences.h"
#include "shared/QL_Preferences.h"
#include "shared/QL_SoftwareUpdate.h"

namespace {

constexpr platform::EventHotKeyID kOpenMenuHotKeyID{platform::fourCharCode("gQLk"), 1};
constexpr platform::EventHotKeyID kQuickAddHotKeyID{platform::fourCharCode("gQLk"), 2};
constexpr platform::EventTypeSpec kHotKeyPressed{platform::kEventClassKeyboard,
                                                 platform::kEventHotKeyPressed};
const QString kFailedWriteNotification = QStringLiteral("Quillo_Failed_Write");

} // namespace

platform::OSStatus openMenuHotKeyHandler(platform::EventHandlerCallRef, platform::EventRef event,
                                         void* userData) {
    auto* extra = static_cast<QLMenuExtra*>(userData);
    const std::optional<platform::EventHotKeyID> id = platform::GetEventHotKeyID(event);
    if (id == kQuickAddHotKeyID)
        extra->quickAddMenuItemSelected(nullptr);
    else if (id == kOpenMenuHotKeyID)
        extra->openMenu();
    else
        return platform::eventNotHandledErr;
    return platform::noErr;
}

std::unique_ptr<QLMenuExtra>
QLMenuExtra::initWithBundle(std::shared_ptr<const platform::Bundle> bundle) {
    if (!bundle)
        return nullptr;
    // The menu, the maps, the pane's path and the store's watcher.
    std::unique_ptr<QLMenuExtra> extra(new QLMenuExtra(std::move(bundle)));
    QLMenuExtra* self = extra.get();

    auto& center = platform::DistributedNotificationCenter::defaultCenter();
    center.addObserver(self, QLPreferencesDidChangeNotification,
                       [self](const QString& name, const QString& object) {
                           self->preferencesDidChange(name, object);
                       });
    center.addObserver(self, kFailedWriteNotification,
                       [self](const QString& name, const QString& object) {
                           self->calendarFailedWrite(name, object);
                       });

    const QL_Preferences& preferences = QL_Preferences::sharedPreferences();
    if (preferences.checkForUpdatesOnLaunch())
        QL_SoftwareUpdate().checkForUpdatesWithNotification(false);
    if (preferences.useOpenMenuKey() || preferences.useQuickAddKey())
        self->installAndRegisterHotKey();
    self->loadMenuIcons();
    self->refreshMenu();
    return extra;
}

void QLMenuExtra::installAndRegisterHotKey() {
    const platform::EventTargetRef target = platform::GetApplicationEventTarget();
    if (!m_hotKeyHandler)
        platform::InstallEventHandler(target, openMenuHotKeyHandler, 1, &kHotKeyPressed, this,
                                      &m_hotKeyHandler);
    // The names a desktop's shortcut settings show for the keys.
    platform::SetEventHotKeyDescription(kOpenMenuHotKeyID,
                                        localizedText(QStringLiteral("HOT_KEY_gQLk_1")));
    platform::SetEventHotKeyDescription(kQuickAddHotKeyID,
                                        localizedText(QStringLiteral("HOT_KEY_gQLk_2")));
    const QL_Preferences& preferences = QL_Preferences::sharedPreferences();
    // A combination that cannot be had (another program holds it, no X11) is logged by
    // the platform; the menu works without it.
    if (preferences.useOpenMenuKey())
        platform::RegisterEventHotKey(std::uint32_t(preferences.openMenuKey()),
                                      std::uint32_t(preferences.openMenuModifiers()),
                                      kOpenMenuHotKeyID, target, 0, &m_gMyHotKeyRef);
    // One combination cannot do two things: the menu's key keeps it.
    const bool sameAsMenu = preferences.useOpenMenuKey() &&
                            preferences.quickAddKey() == preferences.openMenuKey() &&
                            preferences.quickAddModifiers() == preferences.openMenuModifiers();
    if (preferences.useQuickAddKey() && sameAsMenu)
        platform::NSLog(QStringLiteral(
            "Quillo :: installAndRegisterHotKey :: the quick-add key is the menu's key"));
    else if (preferences.useQuickAddKey())
        platform::RegisterEventHotKey(std::uint32_t(preferences.quickAddKey()),
                                      std::uint32_t(preferences.quickAddModifiers()),
                                      kQuickAddHotKeyID, target, 0, &m_quickAddHotKeyRef);
}

void QLMenuExtra::unregisterHotKey() {
    for (platform::EventHotKeyRef* key : {&m_gMyHotKeyRef, &m_quickAddHotKeyRef}) {
        if (!*key)
            continue;
        platform::UnregisterEventHotKey(*key);
        *key = nullptr;
    }
}

void QLMenuExtra::preferencesDidChange(const QString&, const QString&) {
    platform::CFPreferencesAppSynchronize(kQLApplicationID);
    unregisterHotKey();
    const QL_Preferences& preferences = QL_Preferences::sharedPreferences();
    if (preferences.useOpenMenuKey() || preferences.useQuickAddKey())
        installAndRegisterHotKey();
    refreshMenu();
    setMenuIcon();
}

void QLMenuExtra::calendarFailedWrite(const QString&, const QString&) {
    m_needsRefresh = true;
}

void QLMenuExtra::openMenu() {
    popUpMenu(m_theMenu.get());
}

bool QLMenuExtra::allKeysPressed(std::int32_t modifiers) {
    platform::KeyMap keys;
    platform::GetKeys(keys);
    platform::NSLog(QStringLiteral("Intel version of allKeysPressed."));
    struct Row {
        std::int32_t bit;
        std::uint32_t keyCode;
    };
    constexpr Row rows[] = {{1, platform::kVK_Control},
                            {2, platform::kVK_Option},
                            {4, platform::kVK_Shift},
                            {8, platform::kVK_Command}};
    for (const Row& row : rows)
        if (platform::isKeyDown(keys, row.keyCode) != bool(modifiers & row.bit))
            return false;
    return true;
}
