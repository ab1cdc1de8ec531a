#include "platform/DateStyles.h"

#include <QLocale>

namespace platform {

QString stringFromDate(const QDateTime& date, NSDateFormatterStyle style) {
    const QLocale locale = QLocale::system();
    return locale.toString(date.toLocalTime().date(), style == NSDateFormatterLongStyle
                                                          ? QLocale::LongFormat
                                                          : QLocale::ShortFormat);
}

} // namespace platform
