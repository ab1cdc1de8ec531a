#include "platform/Log.h"

#include <mutex>
#include <syslog.h>

#include <cstdio>

namespace platform {
namespace {

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

LogCapture& capture() {
    static LogCapture c;
    return c;
}

} // namespace

void NSLog(const QString& line) {
    const QByteArray utf8 = line.toUtf8();
    std::lock_guard lock(logMutex());
    syslog(LOG_USER | LOG_NOTICE, "%s", utf8.constData());
    std::fprintf(stderr, "%s\n", utf8.constData());
    if (capture())
        capture()(line);
}

void setLogCapture(LogCapture c) {
    std::lock_guard lock(logMutex());
    capture() = std::move(c);
}

} // namespace platform
