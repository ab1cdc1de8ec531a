#include "menuextra/store/QL_ToDo.h"

#include "platform/Clock.h"
#include "platform/LocalZone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

const QString nullText = QStringLiteral("(null)");

QString textOrNull(const QL_ToDo::Text& text) {
    return text ? *text : nullText;
}

// The digits at text[at, at + width) as a number; -1 when one is not a digit.
int digitsAt(QStringView text, qsizetype at, qsizetype width) {
    int value = 0;
    for (qsizetype i = at; i < at + width; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The stored date texts start with year, month and day ("%Y%m%d"), the day in the
// to-do's own zone (a TZID, or floating). A UTC time ("%Y%m%dT%H%M%SZ") names an
// instant, whose day is the local one. Anything else after the day is ignored. The
// day starts at 00:00 local time, or at the first instant that exists when a clock
// change skips midnight.
std::optional<QDateTime> readStoredDate(const QL_ToDo::Text& text) {
    if (!text || text->size() < 8)
        return std::nullopt;
    const QStringView value(*text);
    QDate day(digitsAt(value, 0, 4), digitsAt(value, 4, 2), digitsAt(value, 6, 2));
    if (!day.isValid() || digitsAt(value, 0, 8) < 0)
        return std::nullopt;
    if (value.size() == 16 && (value[8] == u'T' || value[8] == u't') &&
        (value[15] == u'Z' || value[15] == u'z')) {
        const QTime time(digitsAt(value, 9, 2), digitsAt(value, 11, 2), digitsAt(value, 13, 2));
        if (time.isValid())
            day = platform::LocalZone::toLocal(QDateTime(day, time, Qt::UTC)).date();
    }
    const QDateTime start = platform::LocalZone::startOfDay(day);
    if (!start.isValid())
        return std::nullopt;
    return start;
}

} // namespace

QL_ToDo::QL_ToDo(Text uid, Text summary, Text dateStamp, Text creationDate, Text creationDateHeader,
                 std::optional<double> sequence, Text calendarID, Text calendarName,
                 std::optional<QColor> calendarColor, Text rawData) {
    setUID(std::move(uid));
    setSummary(summary);
    setDateStamp(std::move(dateStamp));
    setCreationDate(std::move(creationDate));
    setCreationDateHeader(std::move(creationDateHeader));
    setSequence(sequence);
    setCalendarID(std::move(calendarID));
    setCalendarName(std::move(calendarName));
    setCalendarColor(calendarColor);
    setRawData(std::move(rawData));
}

std::shared_ptr<QL_ToDo> QL_ToDo::copyToDo() const {
    // A member-wise copy: the texts are already unescaped, so the setters are bypassed.
    return std::make_shared<QL_ToDo>(*this);
}

QString QL_ToDo::description() const {
    const QString sequence = toDo_Sequence ? QString::number(*toDo_Sequence, 'g', 15) : nullText;
    const QString priority = toDo_Priority ? QString::number(*toDo_Priority) : nullText;
    return QStringLiteral("\r\rCalendar: %1\rUID: %2\rSummary: %3\rDate Stamp: %4\rCreation Date: "
                          "%5\rCreation Date Header: %6\rSequence: %7\rCalendar ID: %8\rStatus: "
                          "%9\rCompleted: %10\rDescription: %11\rURL: %12\rPriority: %13\rDue "
                          "Date:%14\r")
        .arg(textOrNull(calendar_Name), textOrNull(toDo_UID), textOrNull(toDo_Summary),
             textOrNull(toDo_DateStamp), textOrNull(toDo_CreationDate),
             textOrNull(toDo_CreationDateHeader), sequence, textOrNull(calendar_ID),
             textOrNull(toDo_Status))
        .arg(textOrNull(toDo_CompletedDate), textOrNull(toDo_Description), textOrNull(toDo_URL),
             priority, textOrNull(toDo_DueDate));
}

std::optional<QDateTime> QL_ToDo::theDueDateAsDate() const {
    return readStoredDate(toDo_DueDate);
}

std::optional<QDateTime> QL_ToDo::theCreationDateAsDate() const {
    return readStoredDate(toDo_CreationDate);
}

std::optional<QDateTime> QL_ToDo::theCompletedDateAsDate() const {
    return readStoredDate(toDo_CompletedDate);
}

bool QL_ToDo::isComplete() const {
    return toDo_CompletedDate.has_value();
}

bool QL_ToDo::isExpired() const {
    const std::optional<QDateTime> due = theDueDateAsDate();
    if (!due)
        return false;
    return *due <= platform::Clock::now() && !isComplete();
}

int QL_ToDo::daysComplete() const {
    if (!isComplete())
        return -1;
    // An unreadable completed date counts as none.
    const std::optional<QDateTime> completed = theCompletedDateAsDate();
    if (!completed)
        return -1;
    const QDateTime reference = platform::Clock::todayNoon();
    // Single precision on purpose: the day counts the menu shows depend on it.
    const auto seconds =
        static_cast<float>(static_cast<double>(completed->msecsTo(reference)) / 1000.0);
    const float days = seconds >= 86400.0f ? seconds / 86400.0f : 1.0f;
    return static_cast<int>(std::trunc(days)) - 1;
}

int QL_ToDo::daysDue() const {
    const std::optional<QDateTime> due = theDueDateAsDate();
    if (!due)
        return -999999;
    const QDateTime reference = platform::Clock::todayNoon();
    // Seconds as a signed 32-bit count; out-of-range spans saturate instead of wrapping.
    const qint64 span = due->secsTo(reference);
    const std::int64_t t = std::clamp<std::int64_t>(span, std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max());
    const std::int64_t q = t / 86400;
    const std::int64_t r = t - q * 86400;
    // Minus t / 86400 rounded to the nearest day, halves away from zero.
    return static_cast<int>(-((t + r) / 86400));
}

QL_ToDo::Text QL_ToDo::convertFromEscapedString(const Text& text) {
    if (!text)
        return std::nullopt;
    // Without a backslash the text is shared, not copied.
    if (!QStringView(*text).contains(u'\\'))
        return text;
    return unescaped(*text);
}

QString QL_ToDo::unescaped(QStringView in) {
    // One pass from left to right, so an escaped backslash is never read as the start
    // of another escape; an unknown escape keeps its backslash. The result is never
    // longer than the text, so one allocation of that size is enough.
    const char16_t* src = in.utf16();
    const qsizetype n = in.size();
    QString out(n, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    qsizetype o = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (c != u'\\' || i + 1 == n) {
            dst[o++] = c;
            continue;
        }
        switch (const char16_t next = src[i + 1]) {
        case u'\\':
        case u';':
        case u',':
            dst[o++] = next;
            ++i;
            break;
        case u'n':
        case u'N':
            dst[o++] = u'\r';
            ++i;
            break;
        default:
            dst[o++] = u'\\';
            break;
        }
    }
    out.truncate(o);
    return out;
}
