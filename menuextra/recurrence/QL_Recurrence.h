#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Moving a recurring to-do on to its next occurrence when this one is done: the series
// stays open and its DUE (and DTSTART) name the next occurrence, the way the careful
// programs of the field keep a series, instead of a RECURRENCE-ID override per instance.
struct QL_RecurrenceStep {
    enum class Kind {
        // due (and start) hold the next occurrence.
        Next,
        // The rule has no occurrence after the current one (COUNT or UNTIL reached).
        Ended,
        // The rule uses a part this program does not advance, or cannot be read.
        Unsupported,
    };
    Kind kind = Kind::Unsupported;
    QString due;
    std::optional<QString> start;
};

namespace ql {

// The step of a series: the RRULE value, the DUE value, the DTSTART value when there is
// one (the series' first instance; without it the series starts at DUE) and the EXDATE
// values. Values are as written in the file ("20270115", "20270115T090000",
// "20270115T080000Z"); the results keep the form of the values they replace.
// Supported: FREQ DAILY, WEEKLY, MONTHLY, YEARLY with INTERVAL, COUNT, UNTIL, WKST,
// BYMONTH, BYMONTHDAY and BYDAY (with ordinals only for MONTHLY).
QL_RecurrenceStep nextOccurrence(const QString& rrule, const QString& due,
                                 const std::optional<QString>& start, const QStringList& exdates);

// The rule in words ("every week on Monday, 10 times"), with the texts of the table's
// keys (REPEAT_…) and the locale's names of days and months; the rule as written for
// one this program does not advance.
QString describeRule(const QString& rrule, const std::function<QString(const QString&)>& text,
                     const QLocale& locale);

// The RRULE and EXDATE values of a component's text (folded lines allowed); an empty
// rule when it has none.
struct QL_RecurrenceLines {
    QString rrule;
    QStringList exdates;
};
QL_RecurrenceLines recurrenceLines(const QString& component);

} // namespace ql
