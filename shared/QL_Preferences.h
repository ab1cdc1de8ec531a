#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The name of the distributed notification posted after every change of a setting,
// "com.orvane.quillo.PreferencesDidChange"; observe it with any object.
extern const QString QLPreferencesDidChangeNotification;

// The preferences domain of both deliverables, "com.orvane.quillo"; it is also the
// object of the change notification.
extern const QString kQLApplicationID;

// The user's settings. Each getter reads the domain anew (no copy is kept here):
// an absent or non-numeric value reads as the default. Each setter stores the value
// (Booleans as Booleans, integers as integers), writes the domain to disk and posts
// QLPreferencesDidChangeNotification once, even when the value did not change.
// A process that wants another process's changes synchronises the domain first
// (platform::preferencesAppSynchronize(kQLApplicationID)).
// Used on the main thread.
class QL_Preferences {
public:
    static QL_Preferences& sharedPreferences();

    QL_Preferences(const QL_Preferences&) = delete;
    QL_Preferences& operator=(const QL_Preferences&) = delete;

    // Key, default:
    bool useSmallFontSize() const;             // false
    int sortOrder() const;                     // 0
    bool showDueDates() const;                 // false
    bool showLabels() const;                   // true
    bool showTooltips() const;                 // true
    int informationalIcons() const;            // 1
    bool highlightOverdueItems() const;        // false
    bool colorItemsByCalendarColor() const;    // false
    bool warnWhenRemovingItems() const;        // true
    bool hideToDoItemsAfterCompletion() const; // false
    int numberOfDaysAfterCompletion() const;   // 7
    bool showToDoItemsDue() const;             // false
    int numberOfDaysBeforeDue() const;         // 7
    int menuIconImage() const;                 // 0
    bool checkForUpdatesOnLaunch() const;      // true
    bool useOpenMenuKey() const;               // false
    int openMenuKey() const;                   // 49
    int openMenuModifiers() const;             // 6400 (0x1900)
    bool useQuickAddKey() const;               // false
    int quickAddKey() const;                   // 49
    int quickAddModifiers() const;             // 6912 (0x1B00)
    int toggleStatusModifier() const;          // 2
    int removeToDoModifier() const;            // 1
    bool trimLongTitles() const;               // false
    int trimLongTitlesLength() const;          // 40
    bool hideSubscribedCalendars() const;      // false
    bool dueDateOnRight() const;               // true
    int internalBuildNumber() const;           // 1
    bool firstRun() const;                     // true

    void setUseSmallFontSize(bool value);
    void setSortOrder(int value);
    void setShowDueDates(bool value);
    void setShowLabels(bool value);
    void setShowTooltips(bool value);
    void setInformationalIcons(int value);
    void setHighlightOverdueItems(bool value);
    void setColorItemsByCalendarColor(bool value);
    void setWarnWhenRemovingItems(bool value);
    void setHideToDoItemsAfterCompletion(bool value);
    void setNumberOfDaysAfterCompletion(int value);
    void setShowToDoItemsDue(bool value);
    void setNumberOfDaysBeforeDue(int value);
    void setMenuIconImage(int value);
    void setCheckForUpdatesOnLaunch(bool value);
    void setUseOpenMenuKey(bool value);
    void setOpenMenuKey(int value);
    void setOpenMenuModifiers(int value);
    void setUseQuickAddKey(bool value);
    void setQuickAddKey(int value);
    void setQuickAddModifiers(int value);
    void setToggleStatusModifier(int value);
    void setRemoveToDoModifier(int value);
    void setTrimLongTitles(bool value);
    void setTrimLongTitlesLength(int value);
    void setHideSubscribedCalendars(bool value);
    void setDueDateOnRight(bool value);
    void setInternalBuildNumber(int value);
    void setFirstRun(bool value);

    // The tray icon worth a glance (off by default): the number of open to-dos due today
    // or overdue drawn on the icon, and a tool tip naming the next due to-do; the icon
    // drawn as a shape in the panel's text colour.
    bool showDueCountOnIcon() const;   // false
    bool showNextDueInToolTip() const; // false
    bool symbolicMenuIcon() const;     // false
    void setShowDueCountOnIcon(bool value);
    void setShowNextDueInToolTip(bool value);
    void setSymbolicMenuIcon(bool value);

    // Reminders from the to-dos' alarms while the menu runs (off by default).
    bool showReminders() const; // false
    void setShowReminders(bool value);

    // Sets the value for the key, writes the domain to disk, then posts the change
    // notification. A failed write is logged; the notification is posted all the same.
    void setObject(const QVariant& value, const QString& key);
    // The stored value as this process last read it (no synchronisation); nothing
    // when the key is absent.
    std::optional<QVariant> objectForKey(const QString& key) const;

private:
    QL_Preferences() = default;
    bool boolForKey(const QString& key, bool defaultValue) const;
    int intForKey(const QString& key, int defaultValue) const;
    // The stored number when it lies within [lowest, highest]; the default otherwise,
    // so that every reader (menu, pane, hot key, icons) sees one value in effect.
    int intForKey(const QString& key, int defaultValue, int lowest, int highest) const;
    // A hot key's key code and modifiers; an unknown one reads as the default.
    int hotKeyForKey(const QString& key) const;
    int hotKeyModifiersForKey(const QString& key, int defaultValue) const;
};
