#pragma once

#include <QString>

namespace platform {

// The user's application-support folder ($XDG_DATA_HOME, normally ~/.local/share),
// absolute and without a trailing slash. The calendar store lies in its "iCal".
QString applicationSupportFolder();

} // namespace platform
