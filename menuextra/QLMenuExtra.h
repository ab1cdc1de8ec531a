#pragma once

#include "menuextra/QL_ToDoFacts.h"
#include "menuextra/store/QL_Calendar.h"
#include "menuextra/watch/ZVKQueue.h"
#include "platform/HotKeys.h"
#include "platform/NSMenuExtra.h"

#include <QColor>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QL_Reminders;

// The comparison functions of the menu's sort orders: two records and a context in,
// -1 (the first goes first), 0 or 1 out. The groupings pass no context (null).
int titleSort(const QL_ToDo& first, const QL_ToDo& second, const void* context);
int prioritySort(const QL_ToDo& first, const QL_ToDo& second, const void* context);
int statusSort(const QL_ToDo& first, const QL_ToDo& second, const void* context);
int dueDateSort(const QL_ToDo& first, const QL_ToDo& second, const void* context);

// The hot keys' handler: pops the menu of the menu extra given as user data up, or opens
// its quick-add window; the event counts as handled when it was one of the two keys.
platform::OSStatus openMenuHotKeyHandler(platform::EventHandlerCallRef handlerCall,
                                         platform::EventRef event, void* userData);

// The menu extra's principal class: the to-do menu rebuilt from the calendar store,
// its items and icons, the calendar discovery and the watcher of the store.
// Lives on the main thread: the watcher reaches it there through its main-thread proxy.
class QLMenuExtra : public platform::NSMenuExtra, public ZVWatcherNotificationDelegate {
public:
    // The to-dos of the current menu by the decimal text of their item's tag.
    using ToDoRepository = std::map<QString, std::shared_ptr<QL_ToDo>>;

    // Creates the empty menu, takes the pane's path once and starts watching the store's
    // node list. The bundle is the menu extra's own (its pictures); without one the menu
    // has no icons. Neither the icons nor the first menu are made here.
    explicit QLMenuExtra(std::shared_ptr<const platform::Bundle> bundle = nullptr);
    ~QLMenuExtra() override;
    QLMenuExtra(const QLMenuExtra&) = delete;
    QLMenuExtra& operator=(const QLMenuExtra&) = delete;

    static QString applicationSupportFolder();
    static QColor colorFromRGBAHex(const QString& text);

    // ---- Life cycle and events ----

    // The host's factory: the menu extra with its bundle, observing the settings and
    // failed writes, the update check started when it is wanted, the hot key registered
    // when it is on, the icons loaded and the first menu built. Nothing without a bundle.
    static std::unique_ptr<QLMenuExtra>
    initWithBundle(std::shared_ptr<const platform::Bundle> bundle);

    // A setting changed (in any process): read the domain again, register the hot keys
    // anew from the settings, rebuild the menu and its icon.
    void preferencesDidChange(const QString& name, const QString& object);
    // A write to a calendar failed: a rebuild is due.
    void calendarFailedWrite(const QString& name, const QString& object);
    // Pops the menu built last up (the hot key's path); it is not rebuilt first.
    void openMenu();
    // Whether exactly the modifier keys of the set are held (bit 0 Control, 1 Option,
    // 2 Shift, 3 Command; only the left-hand keys count).
    bool allKeysPressed(std::int32_t modifiers);
    // The registered hot keys (the menu's, quick add's); null when it is not.
    platform::EventHotKeyRef gMyHotKeyRef() const { return m_gMyHotKeyRef; }
    platform::EventHotKeyRef quickAddHotKeyRef() const { return m_quickAddHotKeyRef; }

    // Rebuilds theCalendars and validCalendars from the store's node list. False (with a
    // log line) when the node list cannot be read, theCalendars then keeping its value,
    // or when the walk fails, theCalendars then being absent.
    bool loadiCalCalendars();
    // Walks one level of the node list (and its groups); absent on failure.
    std::optional<QL_CalendarMap> loadiCalCalendarsWithList(const QVariantList& list);

    // The calendars of the last load that read the node list; absent before the first
    // load and after a load whose walk failed.
    const std::optional<QL_CalendarMap>& theCalendars() const { return m_theCalendars; }
    // Calendars of the last load with a data file that are not subscriptions (hidden
    // ones included).
    int validCalendars() const { return m_validCalendars; }

    // The calendar data files the last load found, in walk order; these are the paths
    // the watcher is given besides the node list.
    const QStringList& theWatchedPaths() const { return m_theWatchedPaths; }

    // Tests: called with a calendar's data path right after a load has looked for it,
    // so that a test can delete or create the file at that moment.
    static void setAfterDataFileCheckHook(std::function<void(const QString&)> hook);

    // The watcher of the node list and of every data file the last load found; null
    // only when the system could give no watcher.
    const ZVKQueue::Pointer& theQueue() const { return m_theQueue; }

    // A watched file was replaced or deleted (the calendar application and our own
    // writer save whole files that way): rebuild the menu. Other changes are ignored,
    // since every save ends in such a replacement.
    void watcherReceivedNotificationForPath(ZVFileWatcher* watcher, const QString& name,
                                            const QString& path) override;

    // The host asks for the menu at every click: rebuilt from the store, then returned.
    platform::NSMenu* menu() override;

    // ---- The menu ----

    // Rebuilds theMenu from the store: an error state, or the header, the to-dos of the
    // grouping the settings choose and the settings item; then the menu-bar icon.
    void refreshMenu();
    // How many times the menu was rebuilt.
    int refreshCount() const { return m_refreshCount; }

    // The groupings: each appends the shown to-dos of every calendar, sorted, with
    // section labels when labels are on.
    void refreshByCalendar();
    void refreshByDueDate();
    void refreshByPriority();
    void refreshByStatus();
    void refreshByTitle();
    // Empties theMenu and puts the error item of an unreadable or empty store (true) or
    // of nothing to list (false) into it; a rebuild is then due.
    void recoverFromError(bool storeUnreadable);

    // Item builders.
    void addToDoMenuItem(const std::shared_ptr<QL_ToDo>& toDo);
    void addLabelWithCalendar(const QL_Calendar& calendar);
    // A separator for the empty text, else a disabled label.
    void addLabelWithString(const QString& label);
    void addHeaderMenuItems();
    void addFooterMenuItems();

    // ---- The items' actions, each given the chosen item ----

    // Completes or reopens the item's to-do, removes it, or opens it in the editor,
    // by the modifier keys held as the action runs.
    void toDoMenuItemSelected(platform::NSMenuItem* sender);
    // The same three one by one, from the choices of a to-do item (a menu the desktop
    // draws passes no modifier keys); the sender is the choice.
    void toggleToDoMenuItemSelected(platform::NSMenuItem* sender);
    void editToDoMenuItemSelected(platform::NSMenuItem* sender);
    void removeToDoMenuItemSelected(platform::NSMenuItem* sender);
    // Opens the editor for a new to-do.
    void newToDoMenuItemSelected(platform::NSMenuItem* sender);
    // Opens the one-line quick-add window (or raises the open one).
    void quickAddMenuItemSelected(platform::NSMenuItem* sender);
    // Opens the settings pane in the settings host; nothing when it is not installed.
    void settingsMenuItemSelected(platform::NSMenuItem* sender);
    // Starts the desktop's calendar application.
    void openiCal(platform::NSMenuItem* sender);

    // Icons: the menu-bar pair of the chosen design, handed to the host; the seven item
    // pictures.
    void setMenuIcon();
    void loadMenuIcons();

    platform::NSMenu& theMenu() const { return *m_theMenu; }
    const platform::NSImagePtr& theMenuImage() const { return m_theMenuImage; }
    const platform::NSImagePtr& theMenuImageAlternative() const {
        return m_theMenuImageAlternative;
    }
    const std::optional<QString>& theBundle() const { return m_theBundle; }
    // Diagnostics only: texts from a pane that is not installed.
    void setTheBundle(std::optional<QString> path) { m_theBundle = std::move(path); }
    const ToDoRepository& theToDoRepository() const { return m_theToDoRepository; }
    std::int32_t theToDoTagCounter() const { return m_theToDoTagCounter; }
    bool needsRefresh() const { return m_needsRefresh; }
    void setNeedsRefresh(bool value) { m_needsRefresh = value; }

    // The reminders of the to-dos' alarms; null until a rebuild finds them switched on.
    QL_Reminders* reminders() const { return m_reminders.get(); }

    // The record behind a to-do item of the menu as it is now; null when the item is no
    // longer in theMenu (a menu left open across a rebuild must not reach the record
    // that now has its tag).
    std::shared_ptr<QL_ToDo> toDoForMenuItem(const platform::NSMenuItem* item) const;
    // The record behind the to-do item whose choices hold this item; null likewise.
    std::shared_ptr<QL_ToDo> toDoForChoice(const platform::NSMenuItem* choice) const;

    const platform::NSImagePtr& imagePriorityNone() const { return m_imagePriorityNone; }
    const platform::NSImagePtr& imagePriorityNotImportant() const {
        return m_imagePriorityNotImportant;
    }
    const platform::NSImagePtr& imagePriorityImportant() const { return m_imagePriorityImportant; }
    const platform::NSImagePtr& imagePriorityVeryImportant() const {
        return m_imagePriorityVeryImportant;
    }
    const platform::NSImagePtr& imageExpiredToDo() const { return m_imageExpiredToDo; }
    const platform::NSImagePtr& imageCheckedToDo() const { return m_imageCheckedToDo; }
    const platform::NSImagePtr& imageUnCheckedToDo() const { return m_imageUnCheckedToDo; }

    // The settings the menu reads, taken once per rebuild (nothing can change them
    // while a rebuild runs on the main thread).
    struct MenuSettings {
        bool useSmallFontSize = false;
        int sortOrder = 0;
        bool showLabels = true;
        bool hideToDoItemsAfterCompletion = false;
        int numberOfDaysAfterCompletion = 7;
        bool showToDoItemsDue = false;
        int numberOfDaysBeforeDue = 7;
        bool trimLongTitles = false;
        int trimLongTitlesLength = 40;
        bool showDueDates = false;
        bool dueDateOnRight = true;
        bool colorItemsByCalendarColor = false;
        int informationalIcons = 1;
        bool highlightOverdueItems = false;
        bool showTooltips = true;
        static MenuSettings read();
    };

    // The item title of a summary: trimmed to the length (never inside a character)
    // and ending in U+2026 when trimming is on and it is longer.
    static QString trimmedTitle(const QString& summary, bool trim, int length);

private:
    void installAndRegisterHotKey();
    // Arms the reminders from the to-dos just read (of shown calendars, subscriptions
    // left out), or stops them when they are off.
    void scheduleReminders();
    // Completes an open to-do or reopens a completed one, in its calendar's file.
    void toggleToDo(const QL_ToDo& toDo);
    // Removes the to-do from its calendar's file, after the warning when that is on.
    void removeToDo(const QL_ToDo& toDo);
    // The icon's badge, attention state and tool tip from the to-dos of the menu.
    void updateStatus();
    // The choices of a to-do item: complete or reopen, edit, remove.
    std::shared_ptr<platform::NSMenu> choicesForToDo(const QL_ToDo& toDo);
    void unregisterHotKey();

    void watchPath(const QString& path);
    // Watches a folder calendar's folder (one watch, whatever its number of files), or
    // while it is gone the nearest folder above it that exists.
    void watchFolder(const QString& itemsLink);
    void replaceQueue();

    const MenuSettings& settings();
    QVariantMap titleAttributes();
    // The text of a key of the pane's table; the key itself when the pane is missing.
    QString localized(const QString& key);
    // The text of a key, empty when the pane or the key is missing.
    QString localizedText(const QString& key);
    platform::NSAction actionFor(const QString& selector);
    // The call of one of the items' actions above; empty for another selector.
    std::function<void(platform::NSMenuItem*)> itemAction(const QString& selector);
    platform::NSImagePtr imageNamed(const QString& name) const;
    void addErrorItem(const QString& key);
    // Appends a separator and the settings item, then sets the icon: how every state
    // of the menu ends.
    void finishMenu(bool withHeader);
    // The to-dos of every calendar, each calendar that cannot be read left out; in
    // calendar order.
    std::vector<QL_ToDoFacts> allToDos();
    // Appends the sorted to-dos that pass the filters, each section's label (when
    // labels are on) before its first shown to-do, separators between sections.
    template <std::size_t N>
    void addInSections(const std::vector<QL_ToDoFacts>& sorted,
                       int (*sectionOf)(const QL_ToDoFacts&),
                       const std::array<const char*, N>& labels);
    bool passesFilters(const QL_ToDoFacts& toDo, const MenuSettings& s) const;
    void addToDoMenuItem(const QL_ToDoFacts& toDo, const MenuSettings& s);
    QString toolTipFor(const QL_ToDoFacts& toDo);
    // The date part of the instant in the style, as the locale writes it.
    QString dateText(const QDateTime& date, int style);

    std::unique_ptr<platform::NSMenu> m_theMenu;
    platform::NSImagePtr m_theMenuImage;
    platform::NSImagePtr m_theMenuImageAlternative;
    // The design whose menu-bar pictures are loaded; -1 before the first.
    int m_menuIconDesign = -1;
    std::optional<QL_CalendarMap> m_theCalendars;
    ZVKQueue::Pointer m_theQueue;
    std::optional<QString> m_theBundle;
    ToDoRepository m_theToDoRepository;
    std::int32_t m_theToDoTagCounter = 0;
    int m_validCalendars = 0;
    platform::NSImagePtr m_imagePriorityNone;
    platform::NSImagePtr m_imagePriorityNotImportant;
    platform::NSImagePtr m_imagePriorityImportant;
    platform::NSImagePtr m_imagePriorityVeryImportant;
    platform::NSImagePtr m_imageExpiredToDo;
    platform::NSImagePtr m_imageCheckedToDo;
    platform::NSImagePtr m_imageUnCheckedToDo;
    bool m_needsRefresh = false;

    QStringList m_theWatchedPaths;
    // Where calendars of the node list live whose data file is missing (a save by
    // delete-then-create); see QLMenuExtra_Calendars.cpp.
    std::shared_ptr<void> m_theMissingDataWatch;
    std::shared_ptr<void> m_theFolderWatch;
    int m_refreshCount = 0;
    // Set while a rebuild runs; outside one each builder reads the settings anew.
    std::optional<MenuSettings> m_refreshSettings;
    std::optional<MenuSettings> m_callSettings;
    // Texts looked up during the current rebuild; emptied at each rebuild.
    QHash<QString, QString> m_texts;
    std::shared_ptr<const platform::Bundle> m_pane;
    // Made once per rebuild: the titles' attributes, and the date texts by instant and
    // style (a store's to-dos share few due dates).
    std::optional<QVariantMap> m_refreshTitleAttributes;
    QHash<QPair<qint64, int>, QString> m_dateTexts;
    platform::EventHotKeyRef m_gMyHotKeyRef = nullptr;
    platform::EventHotKeyRef m_quickAddHotKeyRef = nullptr;
    // Installed once, removed at destruction: the host's event target must never call a
    // menu extra that is gone.
    platform::EventHandlerRef m_hotKeyHandler = nullptr;
    std::unique_ptr<QL_Reminders> m_reminders;
};
