#include "menuextra/store/QL_ToDoReader.h"

#include "menuextra/store/QL_ToDoLines.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string_view>

namespace ql {

namespace {

// True when every CR is followed by an LF and every LF follows a CR. The inner loop
// has a fixed length and no branches, so the compiler turns it into vector code.
template <typename Unit> bool endsEveryLineWithCrLf(const Unit* data, qsizetype n) {
    constexpr Unit cr = '\r';
    constexpr Unit lf = '\n';
    if (n == 0)
        return true;
    if (data[0] == lf || data[n - 1] == cr)
        return false;
    constexpr qsizetype block = 64;
    qsizetype i = 0;
    if constexpr (sizeof(Unit) == 1) {
        // Bytes: each block's line ends as bit masks, every LF where a CR went before.
        quint64 crBefore = 0;
        quint64 mismatch = 0;
        for (; i + block <= n; i += block) {
            const quint64 crs = bytesEqual64(data + i, cr);
            mismatch |= bytesEqual64(data + i, lf) ^ ((crs << 1) | crBefore);
            crBefore = crs >> 63;
        }
        if (mismatch)
            return false;
        for (i = std::max<qsizetype>(i, 1); i < n; ++i) {
            if ((data[i] == lf) != (data[i - 1] == cr))
                return false;
        }
        return true;
    }
    for (; i + block < n; i += block) {
        unsigned mismatch = 0;
        for (qsizetype j = 0; j < block; ++j)
            mismatch |= unsigned(data[i + j] == cr) ^ unsigned(data[i + j + 1] == lf);
        if (mismatch)
            return false;
    }
    for (; i + 1 < n; ++i) {
        if ((data[i] == cr) != (data[i + 1] == lf))
            return false;
    }
    return true;
}

// Line ends are ASCII, so UTF-16 text and its UTF-8 bytes are normalised alike.
template <typename Unit, typename Text> Text normalized(Text text) {
    constexpr Unit cr = '\r';
    constexpr Unit lf = '\n';
    const Unit* data = reinterpret_cast<const Unit*>(text.constData());
    const qsizetype n = text.size();
    // Most files already end every line with CR LF: such a text is returned untouched.
    if (endsEveryLineWithCrLf(data, n))
        return text;

    qsizetype first = -1;
    qsizetype extra = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const Unit c = data[i];
        if (c == cr) {
            if (i + 1 < n && data[i + 1] == lf) {
                ++i;
                continue;
            }
        } else if (c != lf) {
            continue;
        }
        if (first < 0)
            first = i;
        ++extra;
    }
    if (first < 0)
        return text;

    Text out(n + extra, Qt::Uninitialized);
    Unit* dst = reinterpret_cast<Unit*>(out.data());
    std::copy(data, data + first, dst);
    qsizetype o = first;
    for (qsizetype i = first; i < n; ++i) {
        const Unit c = data[i];
        if (c == cr) {
            if (i + 1 < n && data[i + 1] == lf)
                ++i;
        } else if (c != lf) {
            dst[o++] = c;
            continue;
        }
        dst[o++] = cr;
        dst[o++] = lf;
    }
    return out;
}

} // namespace

QString normalizeLineEndings(QString text) {
    return normalized<char16_t>(std::move(text));
}

QByteArray normalizeLineEndings(QByteArray bytes) {
    return normalized<char>(std::move(bytes));
}

bool isWholeCalendar(QByteArrayView text) {
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    auto isBlank = [](QByteArrayView line) { return QString::fromUtf8(line).trimmed().isEmpty(); };
    auto trimmed = [](QByteArrayView line) { return QString::fromUtf8(line).trimmed(); };
    // The first line that is not white space.
    qsizetype start = 0;
    while (true) {
        const qsizetype cr = text.indexOf('\r', start);
        const qsizetype end = cr < 0 ? text.size() : cr;
        const QByteArrayView line = text.sliced(start, end - start);
        if (!isBlank(line)) {
            if (!isLine(QStringView(trimmed(line)), u"BEGIN:VCALENDAR"))
                return false;
            break;
        }
        if (cr < 0)
            return false;
        start = std::min(cr + 2, text.size());
    }
    for (qsizetype end = text.size();;) {
        const qsizetype lineStart = end > 0 ? text.lastIndexOf('\n', end - 1) + 1 : 0;
        const QByteArrayView line = text.sliced(lineStart, end - lineStart);
        if (!isBlank(line))
            return lineStart > start && isLine(QStringView(trimmed(line)), u"END:VCALENDAR");
        if (lineStart == 0)
            return false;
        end = lineStart - 2;
    }
}

namespace {

const QString crlf = QStringLiteral("\r\n");
const QString endVTodo = QStringLiteral("END:VTODO");
const QString endVAlarm = QStringLiteral("END:VALARM");

bool isWhiteSpace(QChar c) {
    return c.isSpace();
}

// Leading white space skipped, optional sign, decimal digits; 0 when there is no
// number. Out-of-range values saturate.
int integerReading(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && isWhiteSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + (c - u'0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            value = qint64(std::numeric_limits<int>::max()) + 1;
    }
    if (negative)
        value = -value;
    value =
        std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    return static_cast<int>(value);
}

// The decimal number the text starts with (after white space): sign, digits,
// fraction, exponent. 0 when there is none or when it is not finite.
double floatingReading(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && isWhiteSpace(text[i]))
        ++i;
    std::string digits;
    auto isDigit = [&](qsizetype at) {
        return at < text.size() && text[at] >= u'0' && text[at] <= u'9';
    };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            digits.push_back('-');
        ++i;
    }
    bool any = false;
    while (isDigit(i)) {
        digits.push_back(static_cast<char>(text[i++].unicode()));
        any = true;
    }
    if (i < text.size() && text[i] == u'.') {
        digits.push_back('.');
        ++i;
        while (isDigit(i)) {
            digits.push_back(static_cast<char>(text[i++].unicode()));
            any = true;
        }
    }
    if (!any)
        return 0.0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            exponent.push_back(static_cast<char>(text[j++].unicode()));
        if (isDigit(j)) {
            while (isDigit(j))
                exponent.push_back(static_cast<char>(text[j++].unicode()));
            digits += exponent;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value))
        return 0.0;
    return value;
}

// The properties the record takes, as views into the calendar text (or into an
// unfolded copy kept alive by the scan). A later line of the same name replaces an
// earlier one.
struct Properties {
    std::optional<QStringView> uid, summary, dateStamp, startName, startValue, sequence,
        description, status, completedName, completed, priority, dueName, due, url;
};

void takeProperty(QStringView line, Properties& p) {
    const std::optional<QStringView> name = namePartOf(line);
    if (!name)
        return; // not a property line
    const QStringView value = line.sliced(name->end() - line.begin() + 1);
    // Of several lines of one property, whatever their parameters, the last counts.
    switch (recordPropertyOf(*name)) {
    case RecordProperty::None:
        break;
    case RecordProperty::UID:
        p.uid = value;
        break;
    case RecordProperty::Summary:
        p.summary = value;
        break;
    case RecordProperty::DateStamp:
        p.dateStamp = value;
        break;
    case RecordProperty::Start:
        p.startName = *name;
        p.startValue = value;
        break;
    case RecordProperty::Sequence:
        p.sequence = value;
        break;
    case RecordProperty::Description:
        p.description = value;
        break;
    case RecordProperty::Status:
        p.status = value;
        break;
    case RecordProperty::Completed:
        p.completedName = *name;
        p.completed = value;
        break;
    case RecordProperty::Priority:
        p.priority = value;
        break;
    case RecordProperty::Due:
        p.dueName = *name;
        p.due = value;
        break;
    case RecordProperty::URL:
        p.url = value;
        break;
    }
}

QL_ToDo::Text toText(const std::optional<QStringView>& view) {
    if (!view)
        return std::nullopt;
    return view->toString();
}

// Start-date names, status words and dates repeat from one to-do to the next; the
// records of one reading share one copy of each instead of allocating their own.
// A small direct-mapped table: a lookup is a short hash and one comparison, and a
// collision only costs the copy that sharing would have saved.
class SharedTexts {
public:
    QL_ToDo::Text text(const std::optional<QStringView>& view) {
        if (!view)
            return std::nullopt;
        if (view->size() > maxLength)
            return view->toString();
        quint32 hash = 2166136261u;
        for (const QChar c : *view)
            hash = (hash ^ c.unicode()) * 16777619u;
        QString& slot = m_slots[(hash ^ (hash >> 16)) % slotCount];
        if (slot.size() != view->size() || QStringView(slot) != *view)
            slot = view->toString();
        return slot;
    }

private:
    static constexpr qsizetype maxLength = 24;
    static constexpr size_t slotCount = 509;
    std::array<QString, slotCount> m_slots;
};

// Buffers reused from one to-do to the next, so that unfolding allocates only when a
// to-do has more or longer folded lines than any before it.
// A long value that often repeats from one to-do to the next (a default alarm, a
// boilerplate note): while it does, the records share one copy. The key is the value
// as it stands in the calendar text, which outlives the scan.
class RepeatedText {
public:
    template <typename Make> QString take(QStringView key, Make make) {
        if (!m_key.isNull() && key.size() == m_key.size() &&
            std::equal(key.begin(), key.end(), m_key.begin()))
            return m_value;
        m_value = make(key);
        m_key = key;
        return m_value;
    }

private:
    QStringView m_key;
    QString m_value;
};

struct ScanBuffers {
    std::vector<QString> unfolded;
    size_t unfoldedInUse = 0;
    RepeatedText alarms;
    RepeatedText descriptions;
};

// The scan of one to-do, from its BEGIN line to its END line; the walk of the shared
// line model calls it back.
class ToDoScan {
public:
    ToDoScan(QStringView text, qsizetype begin, ScanBuffers& buffers)
        : m_text(text), m_begin(begin), m_buffers(buffers) {
        m_buffers.unfoldedInUse = 0;
    }

    // Reads up to and including the END line (or to the end of the text); returns the
    // index at which the scan for the next to-do goes on.
    qsizetype run();
    const Properties& properties() const { return m_properties; }
    QString& rawData() { return m_rawData; }
    std::optional<QString>& alarm() { return m_alarm; }
    ScanBuffers& buffers() { return m_buffers; }
    // True when view lies in the calendar text rather than in an unfolded line.
    bool isInText(QStringView view) const {
        const std::less_equal<const char16_t*> notAfter;
        return notAfter(m_text.utf16(), view.utf16()) &&
               notAfter(view.utf16(), m_text.utf16() + m_text.size());
    }

    void header(QStringView) {}
    void property(QStringView line, bool folded);
    void block(QStringView block, bool isFirstAlarm, int openLevels);

private:
    QStringView m_text;
    qsizetype m_begin;
    QString m_rawData;
    std::optional<QString> m_alarm;
    Properties m_properties;
    ScanBuffers& m_buffers;
};

void ToDoScan::property(QStringView line, bool folded) {
    if (!folded) {
        takeProperty(line, m_properties);
        return;
    }
    // Unfold: each continuation loses its line break and exactly one leading space or
    // tab; further white space is content.
    if (m_buffers.unfoldedInUse == m_buffers.unfolded.size())
        m_buffers.unfolded.emplace_back();
    // Moving a QString keeps its characters where they are, so views into the lines
    // unfolded earlier stay valid when the vector grows.
    QString& joined = m_buffers.unfolded[m_buffers.unfoldedInUse++];
    joined.resize(0);
    joined.reserve(line.size());
    qsizetype from = 0;
    for (qsizetype cr = findCr(line, 0); cr < line.size(); cr = findCr(line, from)) {
        joined.append(line.sliced(from, cr - from));
        from = std::min(cr + 3, line.size());
    }
    joined.append(line.sliced(from));
    takeProperty(joined, m_properties);
}

void ToDoScan::block(QStringView block, bool isFirstAlarm, int openLevels) {
    if (!isFirstAlarm)
        return;
    if (openLevels == 0) {
        m_alarm = m_buffers.alarms.take(block, [](QStringView v) { return v.toString(); });
        return;
    }
    // An alarm without its END line is closed, with one END line for each block left
    // open inside it, so that it reads back as the same alarm once written.
    QString alarm = block.toString();
    for (int i = 0; i < openLevels; ++i)
        alarm += crlf + endVAlarm;
    m_alarm = std::move(alarm);
}

qsizetype ToDoScan::run() {
    const ToDoWalk walk = walkToDo(m_text, m_begin, *this);
    m_rawData = m_text.sliced(m_begin, walk.rawEnd - m_begin).toString();
    // No END line: the to-do runs to the end of the text and is closed all the same.
    if (!walk.terminated)
        m_rawData += crlf + endVTodo;
    return walk.next;
}

} // namespace

// Fills a record's fields directly: each text is allocated once, already unescaped
// where the setters would unescape, and repeated values are shared.
class ToDoRecordBuilder {
public:
    static std::shared_ptr<QL_ToDo> record(ToDoScan& scan, const CalendarOfToDos& calendar,
                                           SharedTexts& shared) {
        const Properties& p = scan.properties();
        auto toDo = std::make_shared<QL_ToDo>();
        QL_ToDo& t = *toDo;
        t.toDo_UID = toText(p.uid);
        t.toDo_Summary = unescapedText(p.summary);
        t.toDo_DateStamp = toText(p.dateStamp);
        t.toDo_CreationDate = shared.text(p.startValue);
        t.toDo_CreationDateHeader = shared.text(p.startName);
        t.toDo_Sequence = p.sequence ? floatingReading(*p.sequence) : 0.0;
        t.calendar_ID = calendar.sourceKey;
        t.calendar_Name = calendar.title;
        t.calendar_Color = calendar.color;
        t.toDo_RawData = std::move(scan.rawData());
        t.toDo_VAlarm = std::move(scan.alarm());
        if (p.description && scan.isInText(*p.description))
            t.toDo_Description =
                scan.buffers().descriptions.take(*p.description, &QL_ToDo::unescaped);
        else
            t.toDo_Description = unescapedText(p.description);
        t.toDo_Status = shared.text(p.status);
        if (p.completed) {
            // A to-do is often completed at the moment it was last stamped.
            if (t.toDo_DateStamp && QStringView(*t.toDo_DateStamp) == *p.completed)
                t.toDo_CompletedDate = t.toDo_DateStamp;
            else
                t.toDo_CompletedDate = shared.text(p.completed);
            t.toDo_CompletedDateHeader = shared.text(p.completedName);
        }
        if (p.priority)
            t.toDo_Priority = integerReading(*p.priority);
        t.toDo_DueDate = shared.text(p.due);
        t.toDo_DueDateHeader = shared.text(p.dueName);
        // A URI has no escapes: a backslash in it is its own.
        t.toDo_URL = toText(p.url);
        return toDo;
    }

private:
    static QL_ToDo::Text unescapedText(const std::optional<QStringView>& view) {
        if (!view)
            return std::nullopt;
        return QL_ToDo::unescaped(*view);
    }
};

namespace {

// Name parts compare ignoring ASCII letter case.
template <size_t N> bool isName(QStringView name, const char16_t (&word)[N]) {
    return isLine(name, std::u16string_view(word, N - 1));
}

} // namespace

RecordProperty recordPropertyOf(QStringView namePart) {
    const QStringView name = propertyNameOf(namePart);
    if (name.isEmpty())
        return RecordProperty::None;
    switch (name.front().unicode() & ~0x20) { // the first letter in upper case
    case u'U':
        if (isName(name, u"UID"))
            return RecordProperty::UID;
        if (isName(name, u"URL"))
            return RecordProperty::URL;
        break;
    case u'S':
        if (isName(name, u"SUMMARY"))
            return RecordProperty::Summary;
        if (isName(name, u"SEQUENCE"))
            return RecordProperty::Sequence;
        if (isName(name, u"STATUS"))
            return RecordProperty::Status;
        break;
    case u'D':
        if (isName(name, u"DTSTAMP"))
            return RecordProperty::DateStamp;
        if (isName(name, u"DTSTART"))
            return RecordProperty::Start;
        if (isName(name, u"DESCRIPTION"))
            return RecordProperty::Description;
        if (isName(name, u"DUE"))
            return RecordProperty::Due;
        break;
    case u'C':
        if (isName(name, u"COMPLETED"))
            return RecordProperty::Completed;
        break;
    case u'P':
        if (isName(name, u"PRIORITY"))
            return RecordProperty::Priority;
        break;
    default:
        break;
    }
    return RecordProperty::None;
}

namespace {

void appendToDosWith(QStringView text, const CalendarOfToDos& calendar,
                     std::vector<std::shared_ptr<QL_ToDo>>& out, SharedTexts& shared,
                     ScanBuffers& buffers) {
    const qsizetype n = text.size();
    // A byte-order mark is kept in the text but is not part of its first line.
    qsizetype pos = text.startsWith(QChar(0xFEFF)) ? 1 : 0;
    while (pos < n) {
        const qsizetype eol = findCr(text, pos);
        if (isLine(text.sliced(pos, eol - pos), u"BEGIN:VTODO")) {
            ToDoScan scan(text, pos, buffers);
            pos = scan.run();
            out.push_back(ToDoRecordBuilder::record(scan, calendar, shared));
        } else {
            pos = eol < n ? std::min(eol + 2, n) : n;
        }
    }
}

} // namespace

struct ToDoReading::State {
    SharedTexts shared;
    ScanBuffers buffers;
};

ToDoReading::ToDoReading() : m_state(std::make_unique<State>()) {}
ToDoReading::~ToDoReading() = default;

void ToDoReading::append(QStringView text, const CalendarOfToDos& calendar,
                         std::vector<std::shared_ptr<QL_ToDo>>& out) {
    appendToDosWith(text, calendar, out, m_state->shared, m_state->buffers);
}

void appendToDos(QStringView text, const CalendarOfToDos& calendar,
                 std::vector<std::shared_ptr<QL_ToDo>>& out) {
    ToDoReading reading;
    reading.append(text, calendar, out);
}

} // namespace ql
