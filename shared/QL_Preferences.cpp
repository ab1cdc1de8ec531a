#include "shared/QL_Preferences.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/Preferences.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

const QString QLPreferencesDidChangeNotification =
    QStringLiteral("com.orvane.quillo.PreferencesDidChange");
const QString kQLApplicationID = QStringLiteral("com.orvane.quillo");

namespace {

// The number's value as a 32-bit integer; nothing for what is not a number or
// does not fit.
std::optional<qint64> integerValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return value.toLongLong();
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return value.toLongLong();
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (!std::isfinite(d) || d < double(std::numeric_limits<qint64>::min()) ||
            d > double(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(std::trunc(d));
    }
    default:
        return std::nullopt;
    }
}

} // namespace

QL_Preferences& QL_Preferences::sharedPreferences() {
    static QL_Preferences* shared = new QL_Preferences;
    return *shared;
}

void QL_Preferences::setObject(const QVariant& value, const QString& key) {
    platform::preferencesSetAppValue(key, value, kQLApplicationID);
    if (!platform::preferencesAppSynchronize(kQLApplicationID))
        platform::NSLog(
            QStringLiteral("Quillo :: setObject :: Could not save the setting %1").arg(key));
    platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
        QLPreferencesDidChangeNotification, kQLApplicationID);
}

std::optional<QVariant> QL_Preferences::objectForKey(const QString& key) const {
    return platform::preferencesCopyAppValue(key, kQLApplicationID);
}

bool QL_Preferences::boolForKey(const QString& key, bool defaultValue) const {
    const std::optional<QVariant> value = objectForKey(key);
    if (!value)
        return defaultValue;
    // A fraction such as 0.5 is true although it truncates to 0.
    if (value->typeId() == QMetaType::Double || value->typeId() == QMetaType::Float) {
        const double d = value->toDouble();
        return std::isnan(d) ? defaultValue : d != 0;
    }
    const std::optional<qint64> number = integerValue(*value);
    return number ? *number != 0 : defaultValue;
}

int QL_Preferences::intForKey(const QString& key, int defaultValue) const {
    const std::optional<QVariant> value = objectForKey(key);
    if (!value)
        return defaultValue;
    const std::optional<qint64> number = integerValue(*value);
    if (!number || *number < std::numeric_limits<int>::min() ||
        *number > std::numeric_limits<int>::max())
        return defaultValue;
    return int(*number);
}

int QL_Preferences::intForKey(const QString& key, int defaultValue, int lowest, int highest) const {
    const int value = intForKey(key, defaultValue);
    return value < lowest || value > highest ? defaultValue : value;
}

bool QL_Preferences::useSmallFontSize() const {
    return boolForKey(QStringLiteral("useSmallFontSize"), false);
}

void QL_Preferences::setUseSmallFontSize(bool value) {
    setObject(QVariant(value), QStringLiteral("useSmallFontSize"));
}

int QL_Preferences::sortOrder() const {
    return intForKey(QStringLiteral("sortOrder"), 0, 0, 4);
}

void QL_Preferences::setSortOrder(int value) {
    setObject(QVariant(value), QStringLiteral("sortOrder"));
}

bool QL_Preferences::showDueDates() const {
    return boolForKey(QStringLiteral("showDueDates"), false);
}

void QL_Preferences::setShowDueDates(bool value) {
    setObject(QVariant(value), QStringLiteral("showDueDates"));
}

bool QL_Preferences::showLabels() const {
    return boolForKey(QStringLiteral("showLabels"), true);
}

void QL_Preferences::setShowLabels(bool value) {
    setObject(QVariant(value), QStringLiteral("showLabels"));
}

bool QL_Preferences::showTooltips() const {
    return boolForKey(QStringLiteral("showTooltips"), true);
}

void QL_Preferences::setShowTooltips(bool value) {
    setObject(QVariant(value), QStringLiteral("showTooltips"));
}

int QL_Preferences::informationalIcons() const {
    return intForKey(QStringLiteral("informationalIcons"), 1, 0, 2);
}

void QL_Preferences::setInformationalIcons(int value) {
    setObject(QVariant(value), QStringLiteral("informationalIcons"));
}

bool QL_Preferences::highlightOverdueItems() const {
    return boolForKey(QStringLiteral("highlightOverdueItems"), false);
}

void QL_Preferences::setHighlightOverdueItems(bool value) {
    setObject(QVariant(value), QStringLiteral("highlightOverdueItems"));
}

bool QL_Preferences::colorItemsByCalendarColor() const {
    return boolForKey(QStringLiteral("colorItemsByCalendarColor"), false);
}

void QL_Preferences::setColorItemsByCalendarColor(bool value) {
    setObject(QVariant(value), QStringLiteral("colorItemsByCalendarColor"));
}

bool QL_Preferences::warnWhenRemovingItems() const {
    return boolForKey(QStringLiteral("warnWhenRemovingItems"), true);
}

void QL_Preferences::setWarnWhenRemovingItems(bool value) {
    setObject(QVariant(value), QStringLiteral("warnWhenRemovingItems"));
}

bool QL_Preferences::hideToDoItemsAfterCompletion() const {
    return boolForKey(QStringLiteral("hideToDoItemsAfterCompletion"), false);
}

void QL_Preferences::setHideToDoItemsAfterCompletion(bool value) {
    setObject(QVariant(value), QStringLiteral("hideToDoItemsAfterCompletion"));
}

// A negative day count would hide open to-dos (or every one without a due date): it
// reads as 0.
int QL_Preferences::numberOfDaysAfterCompletion() const {
    return std::max(intForKey(QStringLiteral("numberOfDaysAfterCompletion"), 7), 0);
}

void QL_Preferences::setNumberOfDaysAfterCompletion(int value) {
    setObject(QVariant(value), QStringLiteral("numberOfDaysAfterCompletion"));
}

bool QL_Preferences::showToDoItemsDue() const {
    return boolForKey(QStringLiteral("showToDoItemsDue"), false);
}

void QL_Preferences::setShowToDoItemsDue(bool value) {
    setObject(QVariant(value), QStringLiteral("showToDoItemsDue"));
}

int QL_Preferences::numberOfDaysBeforeDue() const {
    return std::max(intForKey(QStringLiteral("numberOfDaysBeforeDue"), 7), 0);
}

void QL_Preferences::setNumberOfDaysBeforeDue(int value) {
    setObject(QVariant(value), QStringLiteral("numberOfDaysBeforeDue"));
}

int QL_Preferences::menuIconImage() const {
    return intForKey(QStringLiteral("menuIconImage"), 0, 0, 5);
}

void QL_Preferences::setMenuIconImage(int value) {
    setObject(QVariant(value), QStringLiteral("menuIconImage"));
}

bool QL_Preferences::checkForUpdatesOnLaunch() const {
    return boolForKey(QStringLiteral("checkForUpdatesOnLaunch"), true);
}

void QL_Preferences::setCheckForUpdatesOnLaunch(bool value) {
    setObject(QVariant(value), QStringLiteral("checkForUpdatesOnLaunch"));
}

bool QL_Preferences::useOpenMenuKey() const {
    return boolForKey(QStringLiteral("useOpenMenuKey"), false);
}

void QL_Preferences::setUseOpenMenuKey(bool value) {
    setObject(QVariant(value), QStringLiteral("useOpenMenuKey"));
}

// The keys a hot key can be: Space and F1 to F12.
int QL_Preferences::hotKeyForKey(const QString& key) const {
    static constexpr int keyCodes[] = {49, 122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
    const int code = intForKey(key, 49);
    return std::find(std::begin(keyCodes), std::end(keyCodes), code) != std::end(keyCodes) ? code
                                                                                           : 49;
}

// Only Command, Shift, Option and Control (Carbon bits) make a hot key's modifiers.
int QL_Preferences::hotKeyModifiersForKey(const QString& key, int defaultValue) const {
    constexpr int known = 0x100 | 0x200 | 0x800 | 0x1000;
    const int modifiers = intForKey(key, defaultValue);
    return modifiers & ~known ? defaultValue : modifiers;
}

int QL_Preferences::openMenuKey() const {
    return hotKeyForKey(QStringLiteral("openMenuKey"));
}

void QL_Preferences::setOpenMenuKey(int value) {
    setObject(QVariant(value), QStringLiteral("openMenuKey"));
}

int QL_Preferences::openMenuModifiers() const {
    return hotKeyModifiersForKey(QStringLiteral("openMenuModifiers"), 0x1900);
}

void QL_Preferences::setOpenMenuModifiers(int value) {
    setObject(QVariant(value), QStringLiteral("openMenuModifiers"));
}

bool QL_Preferences::useQuickAddKey() const {
    return boolForKey(QStringLiteral("useQuickAddKey"), false);
}

void QL_Preferences::setUseQuickAddKey(bool value) {
    setObject(QVariant(value), QStringLiteral("useQuickAddKey"));
}

int QL_Preferences::quickAddKey() const {
    return hotKeyForKey(QStringLiteral("quickAddKey"));
}

void QL_Preferences::setQuickAddKey(int value) {
    setObject(QVariant(value), QStringLiteral("quickAddKey"));
}

// The open-menu key's default with Shift added, so the two defaults never collide.
int QL_Preferences::quickAddModifiers() const {
    return hotKeyModifiersForKey(QStringLiteral("quickAddModifiers"), 0x1B00);
}

void QL_Preferences::setQuickAddModifiers(int value) {
    setObject(QVariant(value), QStringLiteral("quickAddModifiers"));
}

int QL_Preferences::toggleStatusModifier() const {
    return intForKey(QStringLiteral("toggleStatusModifier"), 2, 0, 15);
}

void QL_Preferences::setToggleStatusModifier(int value) {
    setObject(QVariant(value), QStringLiteral("toggleStatusModifier"));
}

int QL_Preferences::removeToDoModifier() const {
    return intForKey(QStringLiteral("removeToDoModifier"), 1, 0, 15);
}

void QL_Preferences::setRemoveToDoModifier(int value) {
    setObject(QVariant(value), QStringLiteral("removeToDoModifier"));
}

bool QL_Preferences::trimLongTitles() const {
    return boolForKey(QStringLiteral("trimLongTitles"), false);
}

void QL_Preferences::setTrimLongTitles(bool value) {
    setObject(QVariant(value), QStringLiteral("trimLongTitles"));
}

int QL_Preferences::trimLongTitlesLength() const {
    return intForKey(QStringLiteral("trimLongTitlesLength"), 40);
}

void QL_Preferences::setTrimLongTitlesLength(int value) {
    setObject(QVariant(value), QStringLiteral("trimLongTitlesLength"));
}

bool QL_Preferences::hideSubscribedCalendars() const {
    return boolForKey(QStringLiteral("hideSubscribedCalendars"), false);
}

void QL_Preferences::setHideSubscribedCalendars(bool value) {
    setObject(QVariant(value), QStringLiteral("hideSubscribedCalendars"));
}

bool QL_Preferences::dueDateOnRight() const {
    return boolForKey(QStringLiteral("dueDateOnRight"), true);
}

void QL_Preferences::setDueDateOnRight(bool value) {
    setObject(QVariant(value), QStringLiteral("dueDateOnRight"));
}

int QL_Preferences::internalBuildNumber() const {
    return intForKey(QStringLiteral("internalBuildNumber"), 1);
}

void QL_Preferences::setInternalBuildNumber(int value) {
    setObject(QVariant(value), QStringLiteral("internalBuildNumber"));
}

bool QL_Preferences::firstRun() const {
    return boolForKey(QStringLiteral("firstRun"), true);
}

void QL_Preferences::setFirstRun(bool value) {
    setObject(QVariant(value), QStringLiteral("firstRun"));
}

// ---- The tray icon worth a glance

bool QL_Preferences::showDueCountOnIcon() const {
    return boolForKey(QStringLiteral("showDueCountOnIcon"), false);
}

void QL_Preferences::setShowDueCountOnIcon(bool value) {
    setObject(QVariant(value), QStringLiteral("showDueCountOnIcon"));
}

bool QL_Preferences::showNextDueInToolTip() const {
    return boolForKey(QStringLiteral("showNextDueInToolTip"), false);
}

void QL_Preferences::setShowNextDueInToolTip(bool value) {
    setObject(QVariant(value), QStringLiteral("showNextDueInToolTip"));
}

bool QL_Preferences::symbolicMenuIcon() const {
    return boolForKey(QStringLiteral("symbolicMenuIcon"), false);
}

void QL_Preferences::setSymbolicMenuIcon(bool value) {
    setObject(QVariant(value), QStringLiteral("symbolicMenuIcon"));
}

// ---- Reminders

bool QL_Preferences::showReminders() const {
    return boolForKey(QStringLiteral("showReminders"), false);
}

void QL_Preferences::setShowReminders(bool value) {
    setObject(QVariant(value), QStringLiteral("showReminders"));
}
