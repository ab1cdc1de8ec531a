#include "platform/LocalZone.h"

#include <QHash>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* systemZoneFile = "/etc/localtime";

// What tells a replaced zone file from the one read: the link itself and the file it
// leads to (a change of zone usually points the link elsewhere; an update of the zone
// data rewrites the file).
struct FileStamp {
    bool exists = false;
    ino_t linkInode = 0;
    timespec linkChanged{};
    ino_t inode = 0;
    timespec modified{};
    off_t size = 0;

    static FileStamp of(const char* path) {
        FileStamp s;
        struct stat link {};
        struct stat target {};
        if (::lstat(path, &link) != 0)
            return s;
        s.exists = true;
        s.linkInode = link.st_ino;
        s.linkChanged = link.st_ctim;
        if (::stat(path, &target) == 0) {
            s.inode = target.st_ino;
            s.modified = target.st_mtim;
            s.size = target.st_size;
        }
        return s;
    }
    bool operator==(const FileStamp& o) const {
        return exists == o.exists && linkInode == o.linkInode &&
               linkChanged.tv_sec == o.linkChanged.tv_sec &&
               linkChanged.tv_nsec == o.linkChanged.tv_nsec && inode == o.inode &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               size == o.size;
    }
};

// TZ unset, empty or naming the system file: the zone is /etc/localtime's.
bool followsSystemFile(const std::string& tz, bool tzSet) {
    return !tzSet || tz.empty() || tz == ":" || tz == ":/etc/localtime" || tz == "/etc/localtime";
}

// libc's offset from UTC at the instant, in seconds east.
std::optional<long> libcOffset(std::time_t at) {
    std::tm local{};
    if (!::localtime_r(&at, &local))
        return std::nullopt;
    return local.tm_gmtoff;
}

// The system zone as Qt reads it, kept only when it agrees with libc at a few instants
// around now and in both halves of the year, so that the fast path never gives another
// local time than the slow one would.
std::optional<QTimeZone> readSystemZone() {
    ::tzset();
    const QTimeZone zone = QTimeZone::systemTimeZone();
    if (!zone.isValid())
        return std::nullopt;
    const std::time_t now = std::time(nullptr);
    constexpr std::time_t halfYear = 183 * 86400;
    for (const std::time_t at : {now, now - halfYear, now + halfYear, std::time_t(0)}) {
        const std::optional<long> expected = libcOffset(at);
        if (!expected || zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(
                             qint64(at), QTimeZone::utc())) != *expected)
            return std::nullopt;
    }
    return zone;
}

struct State {
    std::mutex mutex;
    bool read = false;
    bool tzSet = false;
    std::string tz;
    FileStamp file;
    std::chrono::steady_clock::time_point fileChecked;
    std::optional<QTimeZone> zone;
    int reads = 0;
    // The starts of the days asked for since the zone was read: a store's dates repeat,
    // and each is converted once.
    QHash<qint64, QDateTime> dayStarts;
};

State& state() {
    static State s;
    return s;
}

// Reads the zone again when TZ or the system file changed; the caller holds the lock.
void refresh(State& s) {
    const char* tzNow = std::getenv("TZ");
    const bool tzSet = tzNow != nullptr;
    bool stale = !s.read || tzSet != s.tzSet || (tzSet && std::strcmp(tzNow, s.tz.c_str()) != 0);
    const std::string tz = tzSet ? std::string(tzNow) : std::string();
    const auto clockNow = std::chrono::steady_clock::now();
    if (!stale && followsSystemFile(tz, tzSet) &&
        clockNow - s.fileChecked >= std::chrono::seconds(1)) {
        s.fileChecked = clockNow;
        stale = !(FileStamp::of(systemZoneFile) == s.file);
    }
    if (stale) {
        s.read = true;
        s.tzSet = tzSet;
        s.tz = tz;
        s.file = FileStamp::of(systemZoneFile);
        s.fileChecked = clockNow;
        s.zone = readSystemZone();
        s.dayStarts.clear();
        ++s.reads;
    }
}

} // namespace

std::optional<QTimeZone> LocalZone::zone() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    refresh(s);
    return s.zone;
}

int LocalZone::generation() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    refresh(s);
    return s.reads;
}

int LocalZone::readCount() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.reads;
}

QDateTime LocalZone::startOfDay(QDate day) {
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        refresh(s);
        if (s.zone) {
            const auto known = s.dayStarts.constFind(day.toJulianDay());
            if (known != s.dayStarts.constEnd())
                return *known;
            if (s.dayStarts.size() >= 16384)
                s.dayStarts.clear();
            return *s.dayStarts.insert(day.toJulianDay(), day.startOfDay(*s.zone));
        }
    }
    return day.startOfDay(Qt::LocalTime);
}

QDateTime LocalZone::localDateTime(QDate day, QTime time) {
    if (const std::optional<QTimeZone> z = zone())
        return QDateTime(day, time, *z);
    return QDateTime(day, time, Qt::LocalTime);
}

QDateTime LocalZone::toLocal(const QDateTime& instant) {
    if (const std::optional<QTimeZone> z = zone())
        return instant.toTimeZone(*z);
    return instant.toLocalTime();
}

QDateTime LocalZone::now() {
    return toLocal(QDateTime::currentDateTimeUtc());
}

} // namespace platform
