#pragma once

#include <QColor>
#include <QString>
#include <QStringView>

// Routines of the calendar store that the menu extra, the calendars and the editor
// share: where the store lies, its paths, and the colour of a calendar.
namespace ql {

// The calendar type of a subscribed (read-only, remote) calendar.
inline constexpr QStringView subscribedCalendarType = u"com.apple.ical.sources.urlsubscribesource";

// A calendar that is a folder of one-object files (a vdir, as sync tools keep them):
// the type of its node and of its description. A reader that knows only data files
// skips such a node, so it is never taken for a calendar with a data file.
inline constexpr QStringView folderCalendarType = u"org.quillo.sources.folder";
// The extension of a folder calendar's item files unless its description names one.
inline constexpr QStringView defaultItemExtension = u".ics";

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

// "<support>/iCal/Sources/<sourceKey>.calendar/items": a folder calendar's link to the
// user's folder.
QString calendarItemsPath(const QString& sourceKey);
// Where a new to-do of the calendar goes: its items folder when it is a folder
// calendar, else its data file.
QString calendarAddPath(const QString& sourceKey);
// Where a to-do read earlier is written back: the item file it came from, else its
// calendar's data file.
QString toDoWritePath(const std::optional<QString>& sourceFile, const QString& sourceKey);

// A source key names a folder inside the store; one that is empty, ".", "..", or holds
// a "/" or a NUL would lead outside it and must never be read or written.
bool isSafeSourceKey(QStringView sourceKey);

// The colour of a nine-character "#RRGGBBAA" text (the first character is not
// looked at). A missing or shorter text gives neutralCalendarColor().
QColor colorFromRGBAHex(QStringView text);
QColor neutralCalendarColor();

} // namespace ql
