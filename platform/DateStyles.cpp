#include "platform/DateStyles.h"

#include "platform/LocalZone.h"

#include <QLocale>

namespace platform {

QString stringFromDate(const QDateTime& date, NSDateFormatterStyle style) {
    const QLocale locale = QLocale::system();
    return locale.toString(LocalZone::toLocal(date).date(), style == NSDateFormatterLongStyle
                                                                ? QLocale::LongFormat
                                                                : QLocale::ShortFormat);
}

} // namespace platform
