#pragma once

#include "menuextra/store/QL_Calendar.h"
#include "menuextra/watch/ZVKQueue.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <optional>

// The menu extra's principal class. For now it holds the calendar discovery and the
// watcher of the store; the menu and its events join it in later work.
// Lives on the main thread: the watcher reaches it there through its main-thread proxy.
class QLMenuExtra : public ZVWatcherNotificationDelegate {
public:
    // Starts watching the store's node list.
    QLMenuExtra();
    ~QLMenuExtra() override;
    QLMenuExtra(const QLMenuExtra&) = delete;
    QLMenuExtra& operator=(const QLMenuExtra&) = delete;

    static QString applicationSupportFolder();
    static QColor colorFromRGBAHex(const QString& text);

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

    // The watcher of the node list and of every data file the last load found; null
    // only when the system could give no watcher.
    const ZVKQueue::Pointer& theQueue() const { return m_theQueue; }

    // A watched file was replaced or deleted (the calendar application and our own
    // writer save whole files that way): read the store again. Other changes are
    // ignored, since every save ends in such a replacement.
    void watcherReceivedNotificationForPath(ZVFileWatcher* watcher, const QString& name,
                                            const QString& path) override;

    // Reads the store again: the calendars, then each calendar's to-dos.
    void refreshMenu();
    // How many times the store was read again (the menu shows the result).
    int refreshCount() const { return m_refreshCount; }

private:
    void watchPath(const QString& path);
    void replaceQueue();

    std::optional<QL_CalendarMap> m_theCalendars;
    int m_validCalendars = 0;
    QStringList m_theWatchedPaths;
    ZVKQueue::Pointer m_theQueue;
    // Where calendars of the node list live whose data file is missing (a save by
    // delete-then-create); see QLMenuExtra_Calendars.cpp.
    std::shared_ptr<void> m_theMissingDataWatch;
    int m_refreshCount = 0;
};
