#pragma once

#include <QColor>
#include <QString>
#include <QStringView>

// Routines of the calendar store that the menu extra, the calendars and the editor
// share: where the store lies, its paths, and the colour of a calendar.
namespace ql {

// The calendar type of a subscribed (read-only, remote) calendar.
inline constexpr QStringView subscribedCalendarType = u"com.apple.ical.sources.urlsubscribesource";

// The "hideSubscribedCalendars" setting: subscribed calendars are not read.
bool hidesSubscribedCalendars();

// The user's application-support folder, under which the store lies in "iCal".
QString applicationSupportFolder();

// "<support>/iCal/nodes.plist"
QString nodesPath();
// "<support>/iCal/Sources/<sourceKey>.calendar/Info.plist"
QString calendarInfoPath(const QString& sourceKey);
// "<support>/iCal/Sources/<sourceKey>.calendar/corestorage.ics"
QString calendarDataPath(const QString& sourceKey);

// A source key names a folder inside the store; one that is empty, ".", "..", or holds
// a "/" or a NUL would lead outside it and must never be read or written.
bool isSafeSourceKey(QStringView sourceKey);

// The colour of a nine-character "#RRGGBBAA" text (the first character is not
// looked at). A missing or shorter text gives neutralCalendarColor().
QColor colorFromRGBAHex(QStringView text);
QColor neutralCalendarColor();

} // namespace ql
