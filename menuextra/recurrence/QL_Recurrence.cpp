#include "menuextra/recurrence/QL_Recurrence.h"

#include <libical/ical.h>

#include <QDate>
#include <QMap>
#include <QRegularExpression>

#include <cstdlib>

namespace {

using Step = QL_RecurrenceStep;

// Enough for a daily rule across several centuries; a rule that finds nothing in as
// many steps is treated as one that cannot be advanced.
constexpr int kMaxSteps = 200000;

// Only these parts are advanced; anything else (BYSETPOS, BYWEEKNO, BYYEARDAY, BYHOUR,
// RSCALE ...) is shown but never moved on.
bool isSupportedRule(const QString& rrule) {
    static const QStringList parts{"FREQ",  "INTERVAL", "COUNT",      "UNTIL",
                                   "BYDAY", "BYMONTH",  "BYMONTHDAY", "WKST"};
    static const QStringList frequencies{"DAILY", "WEEKLY", "MONTHLY", "YEARLY"};
    static const QRegularExpression plainDay(QStringLiteral("^(MO|TU|WE|TH|FR|SA|SU)$"));
    QString frequency;
    QString byDay;
    for (const QString& part : rrule.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq <= 0)
            return false;
        const QString name = part.left(eq).trimmed().toUpper();
        if (!parts.contains(name))
            return false;
        if (name == u"FREQ")
            frequency = part.mid(eq + 1).trimmed().toUpper();
        if (name == u"BYDAY")
            byDay = part.mid(eq + 1).trimmed().toUpper();
    }
    if (!frequencies.contains(frequency))
        return false;
    // Ordinals (1FR, -2MO) only for monthly rules.
    if (frequency != u"MONTHLY")
        for (const QString& day : byDay.split(u',', Qt::SkipEmptyParts))
            if (!plainDay.match(day.trimmed()).hasMatch())
                return false;
    return true;
}

std::optional<icaltimetype> timeOf(const QString& value) {
    static const QRegularExpression form(QStringLiteral("^\\d{8}(T\\d{6}Z?)?$"));
    const QString v = value.trimmed().toUpper();
    if (!form.match(v).hasMatch())
        return std::nullopt;
    const icaltimetype t = icaltime_from_string(v.toLatin1().constData());
    if (icaltime_is_null_time(t) || !icaltime_is_valid_time(t))
        return std::nullopt;
    return t;
}

QString textOf(const icaltimetype& t) {
    char* text = icaltime_as_ical_string_r(t);
    const QString result = QString::fromLatin1(text);
    std::free(text);
    return result;
}

// Both in the same frame: a floating time against a floating time, UTC against UTC.
bool sameKind(const icaltimetype& a, const icaltimetype& b) {
    return a.is_date == b.is_date && icaltime_is_utc(a) == icaltime_is_utc(b);
}

} // namespace

QL_RecurrenceStep ql::nextOccurrence(const QString& rrule, const QString& due,
                                     const std::optional<QString>& start,
                                     const QStringList& exdates) {
    if (!isSupportedRule(rrule))
        return {};
    const std::optional<icaltimetype> dueTime = timeOf(due);
    const std::optional<icaltimetype> startTime = start ? timeOf(*start) : dueTime;
    if (!dueTime || !startTime || !sameKind(*dueTime, *startTime))
        return {};

    icalerror_clear_errno();
    const icalrecurrencetype rule = icalrecurrencetype_from_string(rrule.toLatin1().constData());
    if (rule.freq == ICAL_NO_RECURRENCE || icalerrno != ICAL_NO_ERROR) {
        icalerror_clear_errno();
        return {};
    }

    std::vector<icaltimetype> excluded;
    for (const QString& value : exdates)
        if (const std::optional<icaltimetype> t = timeOf(value))
            excluded.push_back(*t);
    auto isExcluded = [&](const icaltimetype& t) {
        for (const icaltimetype& x : excluded)
            if (x.is_date ? icaltime_compare_date_only(x, t) == 0 : icaltime_compare(x, t) == 0)
                return true;
        return false;
    };

    // The due date keeps its distance from the start through the series.
    const icaldurationtype offset = icaltime_subtract(*dueTime, *startTime);
    icalrecur_iterator* it = icalrecur_iterator_new(rule, *startTime);
    if (!it)
        return {};
    Step step;
    step.kind = Step::Kind::Ended;
    for (int i = 0; i < kMaxSteps; ++i) {
        const icaltimetype occurrence = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(occurrence))
            break;
        const icaltimetype occurrenceDue = icaltime_add(occurrence, offset);
        if (icaltime_compare(occurrenceDue, *dueTime) <= 0 || isExcluded(occurrence))
            continue;
        step.kind = Step::Kind::Next;
        step.due = textOf(occurrenceDue);
        if (start)
            step.start = textOf(occurrence);
        break;
    }
    if (step.kind == Step::Kind::Ended && !icaltime_is_null_time(icalrecur_iterator_next(it)))
        step.kind = Step::Kind::Unsupported; // gave up looking, not the rule's end
    icalrecur_iterator_free(it);
    return step;
}

QString ql::describeRule(const QString& rrule, const std::function<QString(const QString&)>& text,
                         const QLocale& locale) {
    if (!isSupportedRule(rrule))
        return rrule;
    QMap<QString, QString> parts;
    for (const QString& part : rrule.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(u'=');
        parts.insert(part.left(eq).trimmed().toUpper(), part.mid(eq + 1).trimmed().toUpper());
    }
    bool ok = false;
    const int interval = parts.value(QStringLiteral("INTERVAL")).toInt(&ok);
    const bool several = ok && interval > 1;
    const QString frequency = parts.value(QStringLiteral("FREQ"));
    static const QMap<QString, QString> units{
        {"DAILY", "DAY"}, {"WEEKLY", "WEEK"}, {"MONTHLY", "MONTH"}, {"YEARLY", "YEAR"}};
    QString words =
        several
            ? text(QStringLiteral("REPEAT_EVERY_N_%1S").arg(units.value(frequency))).arg(interval)
            : text(QStringLiteral("REPEAT_EVERY_%1").arg(units.value(frequency)));

    static const QStringList dayCodes{"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
    static const QRegularExpression day(QStringLiteral("^([+-]?\\d{1,2})?(MO|TU|WE|TH|FR|SA|SU)$"));
    static const QMap<int, QString> ordinals{{1, "REPEAT_ORDINAL_1"}, {2, "REPEAT_ORDINAL_2"},
                                             {3, "REPEAT_ORDINAL_3"}, {4, "REPEAT_ORDINAL_4"},
                                             {5, "REPEAT_ORDINAL_5"}, {-1, "REPEAT_ORDINAL_LAST"}};
    if (parts.contains(QStringLiteral("BYDAY"))) {
        QStringList days;
        for (const QString& code : parts.value(QStringLiteral("BYDAY")).split(u',')) {
            const QRegularExpressionMatch m = day.match(code.trimmed());
            if (!m.hasMatch())
                return rrule;
            QString name = locale.dayName(int(dayCodes.indexOf(m.captured(2))) + 1);
            if (!m.captured(1).isEmpty()) {
                const int n = m.captured(1).toInt();
                if (!ordinals.contains(n))
                    return rrule;
                name = text(ordinals.value(n)).arg(name);
            }
            days << name;
        }
        words = text(QStringLiteral("REPEAT_ON_DAYS")).arg(words, days.join(QStringLiteral(", ")));
    }
    if (parts.contains(QStringLiteral("BYMONTHDAY")))
        words = text(QStringLiteral("REPEAT_ON_MONTH_DAYS"))
                    .arg(words, parts.value(QStringLiteral("BYMONTHDAY"))
                                    .split(u',')
                                    .join(QStringLiteral(", ")));
    if (parts.contains(QStringLiteral("BYMONTH"))) {
        QStringList months;
        for (const QString& number : parts.value(QStringLiteral("BYMONTH")).split(u',')) {
            const int month = number.toInt(&ok);
            if (!ok || month < 1 || month > 12)
                return rrule;
            months << locale.monthName(month);
        }
        words =
            text(QStringLiteral("REPEAT_IN_MONTHS")).arg(words, months.join(QStringLiteral(", ")));
    }
    if (const int count = parts.value(QStringLiteral("COUNT")).toInt(&ok); ok && count > 0)
        words = text(QStringLiteral("REPEAT_TIMES")).arg(words).arg(count);
    if (const std::optional<icaltimetype> until = timeOf(parts.value(QStringLiteral("UNTIL"))))
        words = text(QStringLiteral("REPEAT_UNTIL"))
                    .arg(words, locale.toString(QDate(until->year, until->month, until->day),
                                                QLocale::LongFormat));
    return words;
}

ql::QL_RecurrenceLines ql::recurrenceLines(const QString& component) {
    QString text = component;
    // Unfolded: a line break followed by a space or a tab continues the line.
    static const QRegularExpression fold(QStringLiteral("\\r?\\n[ \\t]"));
    text.replace(fold, QString());
    QL_RecurrenceLines lines;
    static const QRegularExpression line(QStringLiteral("\\r?\\n|\\r"));
    for (const QString& l : text.split(line, Qt::SkipEmptyParts)) {
        const qsizetype colon = l.indexOf(u':');
        if (colon <= 0)
            continue;
        const QString name = l.left(colon).section(u';', 0, 0).trimmed().toUpper();
        const QString value = l.mid(colon + 1).trimmed();
        if (name == u"RRULE" && lines.rrule.isEmpty())
            lines.rrule = value;
        else if (name == u"EXDATE")
            lines.exdates += value.split(u',', Qt::SkipEmptyParts);
    }
    return lines;
}
