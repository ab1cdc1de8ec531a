#include "menuextra/store/QL_CalendarStore.h"

#include "platform/Folders.h"

#include <QFileInfo>

namespace ql {

QString applicationSupportFolder() {
    return platform::applicationSupportFolder();
}

QString nodesPath() {
    return applicationSupportFolder() + QStringLiteral("/iCal/nodes.plist");
}

QString calendarInfoPath(const QString& sourceKey) {
    return applicationSupportFolder() + QStringLiteral("/iCal/Sources/") + sourceKey +
           QStringLiteral(".calendar/Info.plist");
}

QString calendarDataPath(const QString& sourceKey) {
    return applicationSupportFolder() + QStringLiteral("/iCal/Sources/") + sourceKey +
           QStringLiteral(".calendar/corestorage.ics");
}

QString calendarItemsPath(const QString& sourceKey) {
    return applicationSupportFolder() + QStringLiteral("/iCal/Sources/") + sourceKey +
           QStringLiteral(".calendar/items");
}

QString calendarAddPath(const QString& sourceKey) {
    const QString items = calendarItemsPath(sourceKey);
    const QFileInfo info(items);
    // A folder calendar whose folder is gone takes nothing: the write fails on the link.
    if (info.isSymLink() || info.isDir())
        return items;
    return calendarDataPath(sourceKey);
}

QString toDoWritePath(const std::optional<QString>& sourceFile, const QString& sourceKey) {
    return sourceFile ? *sourceFile : calendarDataPath(sourceKey);
}

bool isSafeSourceKey(QStringView sourceKey) {
    if (sourceKey.isEmpty() || sourceKey == u"." || sourceKey == u"..")
        return false;
    return !sourceKey.contains(u'/') && !sourceKey.contains(QChar(u'\0'));
}

namespace {

// The value of the leading hexadecimal digits of a pair; reading stops at the first
// other character, so "G1" is 0 and "1G" is 1.
int hexPair(QStringView pair) {
    int value = 0;
    for (const QChar c : pair) {
        const char16_t u = c.unicode();
        int digit = 0;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        else
            break;
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

QColor neutralCalendarColor() {
    return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f);
}

QColor colorFromRGBAHex(QStringView text) {
    if (text.size() < 9)
        return neutralCalendarColor();
    const float red = static_cast<float>(hexPair(text.sliced(1, 2))) / 255.0f;
    const float green = static_cast<float>(hexPair(text.sliced(3, 2))) / 255.0f;
    const float blue = static_cast<float>(hexPair(text.sliced(5, 2))) / 255.0f;
    const float alpha = static_cast<float>(hexPair(text.sliced(7, 2))) / 255.0f;
    return QColor::fromRgbF(red, green, blue, alpha);
}

} // namespace ql
