#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <optional>

namespace platform {

// Local time through the system's zone held in memory. A conversion in Qt::LocalTime
// goes through libc, which looks at the zone file again on every call; the zone here is
// read once and read again only when TZ changes or /etc/localtime (checked at most once
// a second) is replaced. Where Qt cannot read the zone the way libc does, every call
// falls back to Qt::LocalTime, which is slower but never wrong.
class LocalZone {
public:
    // The zone in use now; nothing when conversions go through Qt::LocalTime.
    static std::optional<QTimeZone> zone();

    // The first instant of the day in local time (later than midnight when a clock
    // change skips it); invalid when the day has no such instant.
    static QDateTime startOfDay(QDate day);
    // The local date and time, moved forward when a clock change skips it.
    static QDateTime localDateTime(QDate day, QTime time);
    // The same instant in local time.
    static QDateTime toLocal(const QDateTime& instant);
    // The current instant in local time.
    static QDateTime now();

    // How often the zone has been read (tests see that it is not read per call).
    static int readCount();
    // The same number, after reading the zone again if it changed: what was computed
    // with an equal generation still holds.
    static int generation();
};

} // namespace platform
