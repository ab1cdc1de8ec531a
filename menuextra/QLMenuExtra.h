#pragma once

#include "menuextra/store/QL_Calendar.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

// The menu extra's principal class. For now it holds the calendar discovery; the menu,
// its events and the file watcher join it in later work.
class QLMenuExtra {
public:
    QLMenuExtra();
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

private:
    void watchPath(const QString& path);

    std::optional<QL_CalendarMap> m_theCalendars;
    int m_validCalendars = 0;
    QStringList m_theWatchedPaths;
};
