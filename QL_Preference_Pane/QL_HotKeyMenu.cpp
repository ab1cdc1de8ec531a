#include "QL_Preference_Pane/QL_HotKeyMenu.h"

#include <array>
#include <utility>

namespace {

constexpr char16_t commandGlyph = 0x2318;
constexpr char16_t optionGlyph = 0x2325;
constexpr char16_t controlGlyph = 0x2303;
constexpr char16_t shiftGlyph = 0x21E7;

struct Combination {
    unsigned mask;
    std::array<char16_t, 4> glyphs; // in title order; 0 ends the list
};

// The fifteen modifier combinations, in the order the popup lists them.
constexpr std::array<Combination, 15> combinations{{
    {0x100000, {commandGlyph}},
    {0x180000, {commandGlyph, optionGlyph}},
    {0x140000, {commandGlyph, controlGlyph}},
    {0x120000, {commandGlyph, shiftGlyph}},
    {0x1C0000, {commandGlyph, optionGlyph, controlGlyph}},
    {0x1A0000, {commandGlyph, optionGlyph, shiftGlyph}},
    {0x160000, {commandGlyph, controlGlyph, shiftGlyph}},
    {0x1E0000, {commandGlyph, optionGlyph, controlGlyph, shiftGlyph}},
    {0x80000, {optionGlyph}},
    {0xC0000, {optionGlyph, controlGlyph}},
    {0xA0000, {optionGlyph, shiftGlyph}},
    {0xE0000, {optionGlyph, controlGlyph, shiftGlyph}},
    {0x40000, {controlGlyph}},
    {0x60000, {controlGlyph, shiftGlyph}},
    {0x20000, {shiftGlyph}},
}};

constexpr std::array<std::pair<int, int>, 13> keyCodes{{
    {QLSpaceKeyIndex, 49},
    {1, 122},
    {2, 120},
    {3, 99},
    {4, 118},
    {5, 96},
    {6, 97},
    {7, 98},
    {8, 100},
    {9, 101},
    {10, 109},
    {11, 103},
    {12, 111},
}};

constexpr std::array<std::pair<int, unsigned>, 4> modifierPartners{{
    {QLCarbonCommandKey, QLPopupCommandMask},
    {QLCarbonOptionKey, QLPopupOptionMask},
    {QLCarbonControlKey, QLPopupControlMask},
    {QLCarbonShiftKey, QLPopupShiftMask},
}};

QL_HotKeyEntry entry(const QString& keyName, int keyIndex, const Combination* combination) {
    QL_HotKeyEntry e;
    QString title;
    if (combination) {
        for (char16_t glyph : combination->glyphs) {
            if (!glyph)
                break;
            title += QChar(glyph);
            title += QLatin1Char(' ');
        }
        e.mask = combination->mask;
        e.alternate = true;
    }
    e.title = title + keyName;
    e.keyIndex = keyIndex;
    e.tag = int(e.mask) | keyIndex << 5;
    return e;
}

} // namespace

std::vector<QL_HotKeyEntry> QL_HotKeyMenuEntries() {
    std::vector<QL_HotKeyEntry> entries;
    entries.reserve(208);
    for (const Combination& c : combinations)
        entries.push_back(entry(QStringLiteral("Space"), QLSpaceKeyIndex, &c));
    QL_HotKeyEntry separator;
    separator.separator = true;
    entries.push_back(separator);
    for (int n = 1; n <= 12; ++n) {
        const QString name = QStringLiteral("F%1").arg(n);
        entries.push_back(entry(name, n, nullptr));
        for (const Combination& c : combinations)
            entries.push_back(entry(name, n, &c));
    }
    return entries;
}

int QL_HotKeyTag(int keyCode, int modifiers) {
    return int(QL_PopupMaskForModifiers(modifiers)) | QL_KeyIndexForKeyCode(keyCode) << 5;
}

int QL_KeyCodeForKeyIndex(int keyIndex) {
    for (const auto& [index, code] : keyCodes)
        if (index == keyIndex)
            return code;
    return 49;
}

int QL_KeyIndexForKeyCode(int keyCode) {
    for (const auto& [index, code] : keyCodes)
        if (code == keyCode)
            return index;
    return QLSpaceKeyIndex;
}

unsigned QL_PopupMaskForModifiers(int modifiers) {
    unsigned mask = 0;
    for (const auto& [carbon, popup] : modifierPartners)
        if (modifiers & carbon)
            mask |= popup;
    return mask;
}

int QL_ModifiersForPopupMask(unsigned mask) {
    int modifiers = 0;
    for (const auto& [carbon, popup] : modifierPartners)
        if (mask & popup)
            modifiers |= carbon;
    return modifiers;
}
