#pragma once

#include <QDateTime>
#include <QString>

namespace platform {

// The date styles of the user's locale (QLocale::system(), so LC_TIME, LC_ALL and LANG
// count), as the platform's date formatter gives them.
enum NSDateFormatterStyle {
    NSDateFormatterShortStyle = 1, // numeric, "1/15/07"
    NSDateFormatterLongStyle = 3,  // with the month's name, "January 15, 2007"
};

// The date part of the instant, in local time, in the style.
QString stringFromDate(const QDateTime& date, NSDateFormatterStyle style);

} // namespace platform
