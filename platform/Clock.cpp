#include "platform/Clock.h"

#include "platform/LocalZone.h"

#include <QTime>

#include <atomic>
#include <mutex>

namespace platform {
namespace {

std::mutex clockMutex;
std::optional<QDateTime> fixedNow;

} // namespace

QDateTime Clock::now() {
    std::lock_guard lock(clockMutex);
    if (fixedNow)
        return LocalZone::toLocal(*fixedNow);
    return LocalZone::now();
}

QDate Clock::today() {
    return now().date();
}

QDateTime Clock::todayNoon() {
    // On a day whose noon does not exist (never in practice) Qt moves it forward.
    return LocalZone::localDateTime(today(), QTime(12, 0));
}

void Clock::setFixedNow(std::optional<QDateTime> instant) {
    std::lock_guard lock(clockMutex);
    fixedNow = std::move(instant);
}

} // namespace platform
