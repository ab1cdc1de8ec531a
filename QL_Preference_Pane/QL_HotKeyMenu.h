#pragma once

#include <QString>

#include <vector>

// The hot-key popup's entries and the conversions between them and the stored
// settings ("openMenuKey" is a virtual key code, "openMenuModifiers" the modifier
// bits Command 0x100, Shift 0x200, Option 0x800, Control 0x1000).

// Modifier bits of a popup entry's mask (the menu items' encoding).
enum : unsigned {
    QLPopupCommandMask = 0x100000,
    QLPopupOptionMask = 0x80000,
    QLPopupControlMask = 0x40000,
    QLPopupShiftMask = 0x20000,
};

// Modifier bits of the stored setting.
enum : int {
    QLCarbonCommandKey = 0x100,
    QLCarbonShiftKey = 0x200,
    QLCarbonOptionKey = 0x800,
    QLCarbonControlKey = 0x1000,
};

inline constexpr int QLSpaceKeyIndex = 49;

struct QL_HotKeyEntry {
    bool separator = false;
    QString title;
    int keyIndex = 0;  // the represented object: 49 for Space, n for Fn
    unsigned mask = 0; // QLPopup…Mask bits
    int tag = 0;       // mask | keyIndex << 5
    bool alternate = false;
};

// The 208 entries in popup order: fifteen Space combinations, a separator, then for
// F1 to F12 the plain key followed by its fifteen combinations.
std::vector<QL_HotKeyEntry> QL_HotKeyMenuEntries();

// The tag of the entry for a stored key code and modifiers.
int QL_HotKeyTag(int keyCode, int modifiers);

// Key index and virtual key code: Space 49 is 49, F1 122, F2 120, F3 99, F4 118, F5 96,
// F6 97, F7 98, F8 100, F9 101, F10 109, F11 103, F12 111. A code not in the list
// gives the Space index; an index not in the list gives the Space code.
int QL_KeyCodeForKeyIndex(int keyIndex);
int QL_KeyIndexForKeyCode(int keyCode);

// Each modifier present on one side sets its partner on the other; other bits are
// dropped.
unsigned QL_PopupMaskForModifiers(int modifiers);
int QL_ModifiersForPopupMask(unsigned mask);
