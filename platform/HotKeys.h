#pragma once

// Global hot keys and the keyboard state under the platform's names, over X11 (the key
// is grabbed on the root window of the application's own X connection). Virtual key
// codes and modifier flags are the platform's: Space 49, F1 122, ...; Command 0x100,
// Shift 0x200, Option 0x800, Control 0x1000 (Command is the Super key, Option Alt).
// Without X11 (the offscreen platform, Wayland) a hot key is bound through the desktop
// portal's GlobalShortcuts interface where the session bus offers it (ShortcutsPortal.h),
// else registration fails quietly; no key reads as held. Main thread only.

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

using OSStatus = std::int32_t;
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;
inline constexpr OSStatus eventNotHandledErr = -9874;
inline constexpr OSStatus eventHotKeyExistsErr = -9878;
inline constexpr OSStatus eventHotKeyInvalidErr = -9879;

inline constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

inline constexpr std::uint32_t kEventClassKeyboard = fourCharCode("keyb");
inline constexpr std::uint32_t kEventHotKeyPressed = 5;

// Modifier flags of a hot key.
inline constexpr std::uint32_t cmdKey = 0x0100;
inline constexpr std::uint32_t shiftKey = 0x0200;
inline constexpr std::uint32_t optionKey = 0x0800;
inline constexpr std::uint32_t controlKey = 0x1000;

// Virtual key codes.
enum : std::uint32_t {
    kVK_Command = 55,
    kVK_Shift = 56,
    kVK_Option = 58,
    kVK_Control = 59,
    kVK_RightCommand = 54,
    kVK_RightShift = 60,
    kVK_RightOption = 61,
    kVK_RightControl = 62,
    kVK_Space = 49,
    kVK_F1 = 122,
    kVK_F2 = 120,
    kVK_F3 = 99,
    kVK_F4 = 118,
    kVK_F5 = 96,
    kVK_F6 = 97,
    kVK_F7 = 98,
    kVK_F8 = 100,
    kVK_F9 = 101,
    kVK_F10 = 109,
    kVK_F11 = 103,
    kVK_F12 = 111,
};

// The X key symbol of a virtual key code; nothing for a code without one here.
std::optional<std::uint32_t> keySymbolForVirtualKeyCode(std::uint32_t keyCode);

struct EventTypeSpec {
    std::uint32_t eventClass;
    std::uint32_t eventKind;
};

struct EventHotKeyID {
    std::uint32_t signature;
    std::uint32_t id;
    friend bool operator==(const EventHotKeyID&, const EventHotKeyID&) = default;
};

struct OpaqueEventTargetRef;
struct OpaqueEventRef;
struct OpaqueEventHandlerCallRef;
struct OpaqueEventHandlerRef;
struct OpaqueEventHotKeyRef;
using EventTargetRef = OpaqueEventTargetRef*;
using EventRef = OpaqueEventRef*;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventHandlerRef = OpaqueEventHandlerRef*;
using EventHotKeyRef = OpaqueEventHotKeyRef*;
using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef, EventRef, void* userData);
using EventHandlerUPP = EventHandlerProcPtr;

// The one target of this application's events.
EventTargetRef GetApplicationEventTarget();

// Adds a handler for the event types on the target. An event goes to the handlers of
// its type, the one installed last first, until one returns noErr. The same handler
// with the same user data and types is installed only once (the first reference is
// given again). outRef may be null.
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, std::uint32_t numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef handler);

// Grabs the key with the modifiers on the root window (also with NumLock and CapsLock
// on). A press then sends the target a keyboard event of kind kEventHotKeyPressed
// carrying the identifier. eventHotKeyInvalidErr for a key code without a key symbol
// here or bits other than the four modifiers; eventHotKeyExistsErr when another program
// holds the combination, when it is Control+Alt with a function key (the X server's
// console switch), or there is neither X11 nor a shortcuts portal (logged once per
// combination). Through the portal the result is noErr once the binding is on its way:
// the portal's refusal comes later and is logged, and a press the desktop reports
// (Activated) sends the same event.
// What the desktop's shortcut settings name the hot key with this identifier (the
// shortcuts portal shows it); its identifier when none was given. Set before registering.
void SetEventHotKeyDescription(EventHotKeyID id, const QString& description);
OSStatus RegisterEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers, EventHotKeyID id,
                             EventTargetRef target, std::uint32_t options, EventHotKeyRef* outRef);
OSStatus UnregisterEventHotKey(EventHotKeyRef hotKey);

std::uint32_t GetEventClass(EventRef event);
std::uint32_t GetEventKind(EventRef event);
// The identifier of a hot-key event; nothing for any other event.
std::optional<EventHotKeyID> GetEventHotKeyID(EventRef event);

// The state of the whole keyboard by virtual key code: the key with code k is down
// when bit (k mod 8) of byte (k div 8) is set. Filled for the modifier keys (55, 56,
// 58, 59 left-hand; 54, 60, 61, 62 right-hand) and the hot keys' keys.
using KeyMap = std::array<std::uint8_t, 16>;
void GetKeys(KeyMap& keys);
inline bool isKeyDown(const KeyMap& keys, std::uint32_t code) {
    return code < 128 && (keys[code / 8] >> (code % 8)) & 1;
}
inline void setKeyDown(KeyMap& keys, std::uint32_t code, bool down) {
    if (code >= 128)
        return;
    const auto bit = std::uint8_t(1u << (code % 8));
    keys[code / 8] =
        down ? std::uint8_t(keys[code / 8] | bit) : std::uint8_t(keys[code / 8] & ~bit);
}

// Tests fix what GetKeys reports (an empty function restores the keyboard).
using GetKeysSource = std::function<KeyMap()>;
void setGetKeysSource(GetKeysSource source);

// The hot keys registered now, for tests and diagnostics.
struct RegisteredHotKey {
    std::uint32_t keyCode;
    std::uint32_t modifiers;
    EventHotKeyID id;
};
std::vector<RegisteredHotKey> registeredHotKeys();

} // namespace platform
