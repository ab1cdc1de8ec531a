#include "menuextra/quickadd/QL_QuickAdd.h"

#include <QRegularExpression>

#include <vector>

namespace {

// A date found in the words: where it starts, how many words it takes, the day.
struct DateMatch {
    int start = 0;
    int length = 0;
    QDate day;
};

// The matching form of a word: lower case, without a comma or semicolon after it.
QString key(const QString& word) {
    QString k = word.toLower();
    while (!k.isEmpty() && (k.endsWith(u',') || k.endsWith(u';')))
        k.chop(1);
    return k;
}

// 1 (Monday) … 7, or 0. Full names only: the short forms are words of their own in
// titles ("sun", "so", "di").
int weekdayOf(const QString& k) {
    static const char* const names[][2] = {{"monday", "montag"},      {"tuesday", "dienstag"},
                                           {"wednesday", "mittwoch"}, {"thursday", "donnerstag"},
                                           {"friday", "freitag"},     {"saturday", "samstag"},
                                           {"sunday", "sonntag"}};
    for (int i = 0; i < 7; ++i)
        if (k == QLatin1String(names[i][0]) || k == QLatin1String(names[i][1]))
            return i + 1;
    if (k == u"sonnabend")
        return 6;
    return 0;
}

// 1 … 12, or 0; a dot after a short form is allowed ("Jan.").
int monthOf(QString k) {
    if (k.endsWith(u'.'))
        k.chop(1);
    static const QStringList names[12] = {{"january", "jan", "januar", "jänner"},
                                          {"february", "feb", "februar"},
                                          {"march", "mar", "märz", "maerz", "mär"},
                                          {"april", "apr"},
                                          {"may", "mai"},
                                          {"june", "jun", "juni"},
                                          {"july", "jul", "juli"},
                                          {"august", "aug"},
                                          {"september", "sep", "sept"},
                                          {"october", "oct", "oktober", "okt"},
                                          {"november", "nov"},
                                          {"december", "dec", "dezember", "dez"}};
    for (int i = 0; i < 12; ++i)
        if (names[i].contains(k))
            return i + 1;
    return 0;
}

// The first day after today that is the weekday.
QDate nextWeekday(const QDate& today, int weekday) {
    int ahead = (weekday - today.dayOfWeek() + 7) % 7;
    return today.addDays(ahead == 0 ? 7 : ahead);
}

// A day and month without a year: the first such day from today on (29 February waits
// for the next leap year).
QDate nextDayOfMonth(const QDate& today, int day, int month) {
    for (int year = today.year(); year <= today.year() + 8; ++year) {
        const QDate date(year, month, day);
        if (date.isValid() && date >= today)
            return date;
    }
    return {};
}

QDate dayMonthYear(const QDate& today, int day, int month, const QString& yearText) {
    if (yearText.isEmpty())
        return nextDayOfMonth(today, day, month);
    int year = yearText.toInt();
    if (yearText.size() == 2)
        year += 2000;
    return QDate(year, month, day);
}

// A day number of a written date: "15", "15.", "15th".
int dayNumberOf(const QString& k) {
    static const QRegularExpression number(QStringLiteral("^(\\d{1,2})(?:\\.|st|nd|rd|th)?$"));
    const QRegularExpressionMatch m = number.match(k);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

bool isYear(const QString& k) {
    static const QRegularExpression year(QStringLiteral("^\\d{4}$"));
    return year.match(k).hasMatch();
}

bool isNextWord(const QString& k) {
    static const QStringList words{"next",      "this",      "nächsten",  "nächster",
                                   "nächste",   "naechsten", "naechster", "naechste",
                                   "kommenden", "kommender", "diesen"};
    return words.contains(k);
}

// The date that starts at word i of the keys, the longest form first; length 0 when
// none does.
DateMatch dateAt(const QStringList& k, int i, const QDate& today) {
    const int n = int(k.size());
    auto at = [&](int j) { return j < n ? k[j] : QString(); };
    auto found = [&](int length, const QDate& day) {
        return day.isValid() ? DateMatch{i, length, day} : DateMatch{};
    };
    const QString w = k[i];

    if (w == u"today" || w == u"heute")
        return found(1, today);
    if (w == u"tomorrow" || w == u"morgen")
        return found(1, today.addDays(1));
    if (w == u"übermorgen" || w == u"uebermorgen")
        return found(1, today.addDays(2));
    if (w == u"day" && at(i + 1) == u"after" && at(i + 2) == u"tomorrow")
        return found(3, today.addDays(2));
    if (const int weekday = weekdayOf(w))
        return found(1, nextWeekday(today, weekday));
    if (isNextWord(w)) {
        if (const int weekday = weekdayOf(at(i + 1)))
            return found(2, nextWeekday(today, weekday));
        if (at(i + 1) == u"week" || at(i + 1) == u"woche")
            return found(2, today.addDays(7));
    }

    // in 3 days, in 2 Wochen, in 1 month
    static const QRegularExpression count(QStringLiteral("^\\d{1,4}$"));
    if (w == u"in" && count.match(at(i + 1)).hasMatch()) {
        const int amount = at(i + 1).toInt();
        const QString unit = at(i + 2);
        static const QStringList days{"day", "days", "tag", "tage", "tagen"};
        static const QStringList weeks{"week", "weeks", "woche", "wochen"};
        static const QStringList months{"month", "months", "monat", "monate", "monaten"};
        if (days.contains(unit))
            return found(3, today.addDays(amount));
        if (weeks.contains(unit))
            return found(3, today.addDays(qint64(amount) * 7));
        if (months.contains(unit))
            return found(3, today.addMonths(amount));
    }

    static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    if (const QRegularExpressionMatch m = iso.match(w); m.hasMatch())
        return found(1, QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()));

    // 15.1. 15.01.2027 15.1.27
    static const QRegularExpression dotted(
        QStringLiteral("^(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4}|\\d{2})?$"));
    if (const QRegularExpressionMatch m = dotted.match(w); m.hasMatch())
        return found(
            1, dayMonthYear(today, m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3)));

    // 15 Jan, 15. Januar 2027
    if (const int day = dayNumberOf(w)) {
        if (const int month = monthOf(at(i + 1))) {
            if (isYear(at(i + 2)))
                return found(3, dayMonthYear(today, day, month, at(i + 2)));
            return found(2, dayMonthYear(today, day, month, QString()));
        }
    }
    // Jan 15, January 15 2027
    if (const int month = monthOf(w)) {
        if (const int day = dayNumberOf(at(i + 1))) {
            if (isYear(at(i + 2)))
                return found(3, dayMonthYear(today, day, month, at(i + 2)));
            return found(2, dayMonthYear(today, day, month, QString()));
        }
    }
    return {};
}

std::optional<int> priorityOf(const QString& word) {
    if (word == u"!!!")
        return 1;
    if (word == u"!!")
        return 5;
    if (word == u"!")
        return 9;
    if (word.size() == 2 && word[0] == u'!' && word[1] >= u'1' && word[1] <= u'9')
        return word[1].unicode() - u'0';
    return std::nullopt;
}

// A calendar word starts with a letter, so that "#123" (an issue number) stays text.
bool isCalendarWord(const QString& word) {
    return word.size() > 1 && word[0] == u'#' && word[1].isLetter();
}

void findCalendar(QL_QuickAddResult& result, const QStringList& titles) {
    const QString& name = result.calendarName;
    QStringList exact;
    QStringList prefixed;
    for (const QString& title : titles) {
        if (title.compare(name, Qt::CaseInsensitive) == 0)
            exact.append(title);
        else if (title.startsWith(name, Qt::CaseInsensitive))
            prefixed.append(title);
    }
    // "Work" and "work" both present: the one typed exactly decides.
    if (exact.size() > 1 && exact.contains(name))
        exact = QStringList{name};
    const QStringList& candidates = exact.isEmpty() ? prefixed : exact;
    if (candidates.size() == 1)
        result.calendar = candidates.front();
    else
        result.hint = candidates.isEmpty() ? QL_QuickAddResult::Hint::UnknownCalendar
                                           : QL_QuickAddResult::Hint::AmbiguousCalendar;
}

} // namespace

QL_QuickAddResult ql::parseQuickAdd(const QString& line, const QDateTime& now,
                                    const QStringList& calendarTitles) {
    QL_QuickAddResult result;
    const QDate today = now.date();
    const QStringList words =
        line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);

    // The words left once priorities and calendars are taken out.
    QStringList rest;
    bool hasCalendar = false;
    for (const QString& word : words) {
        if (const std::optional<int> priority = priorityOf(word)) {
            result.priority = priority;
        } else if (isCalendarWord(word)) {
            result.calendarName = word.mid(1);
            hasCalendar = true;
        } else {
            rest.append(word);
        }
    }

    QStringList keys;
    keys.reserve(rest.size());
    for (const QString& word : rest)
        keys.append(key(word));

    DateMatch last;
    if (today.isValid()) {
        for (int i = 0; i < int(keys.size());) {
            const DateMatch match = dateAt(keys, i, today);
            if (match.length > 0) {
                last = match;
                i += match.length;
            } else {
                ++i;
            }
        }
    }
    if (last.length > 0) {
        result.due = last.day;
        if (last.start > 0 && (keys[last.start - 1] == u"on" || keys[last.start - 1] == u"am")) {
            --last.start;
            ++last.length;
        }
        rest.remove(last.start, last.length);
    }
    result.title = rest.join(u' ');

    if (hasCalendar)
        findCalendar(result, calendarTitles);
    if (result.hint == QL_QuickAddResult::Hint::None && result.title.isEmpty())
        result.hint = QL_QuickAddResult::Hint::EmptyTitle;
    return result;
}
