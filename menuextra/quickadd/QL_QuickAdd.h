#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// What a line typed into the quick-add window means. The line is words; a word of its
// own is one of:
//   !1 … !9, or !!! (1), !! (5), ! (9)      the priority
//   #Name                                  the calendar: a title that starts with the
//                                          name, letter case ignored; an exact title
//                                          wins over a longer one
//   a date in English or German            the due date
// and everything else is the title. Of several priorities or calendars the last counts;
// of several dates only the last is read, earlier ones stay in the title ("Prepare
// Monday meeting tomorrow"). "on" and "am" before a date go with it.
struct QL_QuickAddResult {
    enum class Hint {
        None,
        // Nothing is left for a title.
        EmptyTitle,
        // #name names no calendar, or more than one.
        UnknownCalendar,
        AmbiguousCalendar,
    };

    QString title;
    std::optional<QDate> due;
    std::optional<int> priority;
    // The calendar's title exactly as given in the list; absent without #name.
    std::optional<QString> calendar;
    // The #name as typed (without '#'), for the hint.
    QString calendarName;
    Hint hint = Hint::None;

    bool isComplete() const { return hint == Hint::None; }
};

namespace ql {

// Reads the line at the instant (local time; only its day counts) against the titles of
// the calendars that can take a to-do. Pure: no clock, no store, no locale.
QL_QuickAddResult parseQuickAdd(const QString& line, const QDateTime& now,
                                const QStringList& calendarTitles);

} // namespace ql
