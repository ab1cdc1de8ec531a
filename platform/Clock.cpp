#include "platform/Clock.h"

#include "platform/LocalZone.h"

#include <QTime>

#include <mutex>

namespace platform {
namespace {

std::mutex clockMutex;
std::optional<QDateTime> fixedNow;
// How far a running test clock is ahead of the system clock, in milliseconds.
std::optional<qint64> runningOffset;

// The local day of the last question and where it begins and ends, so that the many
// questions of one rebuild convert no time: valid while the zone stays the same.
struct Day {
    int zoneGeneration = -1;
    qint64 from = 0;
    qint64 to = -1;
    QDate date;
    QDateTime noon;
};
Day lastDay;

qint64 instantMSecs() {
    if (fixedNow)
        return fixedNow->toMSecsSinceEpoch();
    return QDateTime::currentMSecsSinceEpoch() + runningOffset.value_or(0);
}

// The day of the current instant; the caller holds the clock's lock.
const Day& currentDay() {
    const int generation = LocalZone::generation();
    const qint64 at = instantMSecs();
    if (generation == lastDay.zoneGeneration && at >= lastDay.from && at < lastDay.to)
        return lastDay;
    Day day;
    day.zoneGeneration = generation;
    day.date = LocalZone::toLocal(QDateTime::fromMSecsSinceEpoch(at, QTimeZone::utc())).date();
    day.from = LocalZone::startOfDay(day.date).toMSecsSinceEpoch();
    day.to = LocalZone::startOfDay(day.date.addDays(1)).toMSecsSinceEpoch();
    // On a day whose noon does not exist (never in practice) Qt moves it forward.
    day.noon = LocalZone::localDateTime(day.date, QTime(12, 0));
    // A day whose bounds cannot be found is not kept.
    if (!(day.from <= at && at < day.to))
        day.to = day.from - 1;
    lastDay = day;
    return lastDay;
}

} // namespace

QDateTime Clock::now() {
    std::lock_guard lock(clockMutex);
    if (fixedNow)
        return LocalZone::toLocal(*fixedNow);
    if (runningOffset)
        return LocalZone::toLocal(QDateTime::fromMSecsSinceEpoch(instantMSecs(), QTimeZone::utc()));
    return LocalZone::now();
}

QDate Clock::today() {
    std::lock_guard lock(clockMutex);
    return currentDay().date;
}

QDateTime Clock::todayNoon() {
    std::lock_guard lock(clockMutex);
    return currentDay().noon;
}

void Clock::setFixedNow(std::optional<QDateTime> instant) {
    std::lock_guard lock(clockMutex);
    fixedNow = std::move(instant);
    runningOffset.reset();
}

void Clock::setRunningNow(const QDateTime& instant) {
    std::lock_guard lock(clockMutex);
    fixedNow.reset();
    runningOffset = instant.toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch();
}

} // namespace platform
