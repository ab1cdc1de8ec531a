#pragma once

#include <QDate>
#include <QDateTime>

#include <optional>

namespace platform {

// The one source of "now" for every date rule, so tests can fix the instant.
class Clock {
public:
    // The current instant (local time), or the fixed one a test has set.
    static QDateTime now();
    // The current day in local time.
    static QDate today();
    // The natural-language "Today": 12:00 local time of the current day.
    static QDateTime todayNoon();

    // Tests: fix the instant; std::nullopt returns to the system clock.
    static void setFixedNow(std::optional<QDateTime> instant);
    // Tests: set the clock to the instant and let it run on from there at the system
    // clock's pace, so that timers armed from it come due; setFixedNow ends it.
    static void setRunningNow(const QDateTime& instant);
};

} // namespace platform
