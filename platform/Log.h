#pragma once

#include <QString>

#include <functional>

namespace platform {

// The system log: every line goes to syslog(3) and to standard error.
void NSLog(const QString& line);

// Tests install a capture to see the lines; pass an empty function to remove it.
// The capture is called on the thread that logs.
using LogCapture = std::function<void(const QString&)>;
void setLogCapture(LogCapture capture);

} // namespace platform
