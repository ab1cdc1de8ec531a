#include "menuextra/store/QL_ToDoEdit.h"

#include "menuextra/store/QL_ToDoLines.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/LocalZone.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <array>
#include <cmath>

namespace ql {

namespace {

constexpr QStringView crlf = u"\r\n";
const QString crlfText = QStringLiteral("\r\n");
constexpr qsizetype foldLimit = 72;    // longest value left unfolded
constexpr qsizetype firstPiece = 60;   // value characters on the property line
constexpr qsizetype furtherPiece = 69; // characters on each continuation line

bool isHighSurrogateAt(QStringView text, qsizetype i) {
    return i >= 0 && i < text.size() && text[i].isHighSurrogate();
}

// The places a property of the record takes, in the order a new to-do lists them.
// A property a to-do lacks is inserted next to its neighbours in this order.
enum Slot {
    SlotPriority,
    SlotStart,
    SlotSummary,
    SlotUID,
    SlotURL,
    SlotSequence,
    SlotDateStamp,
    SlotLastModified,
    SlotStatus,
    SlotCompleted,
    SlotDescription,
    SlotDue,
    SlotCount,
    SlotPercent = SlotCount, // rewritten where it stands, never inserted
    SlotNone,
};

Slot slotOf(QStringView namePart) {
    switch (recordPropertyOf(namePart)) {
    case RecordProperty::Priority:
        return SlotPriority;
    case RecordProperty::Start:
        return SlotStart;
    case RecordProperty::Summary:
        return SlotSummary;
    case RecordProperty::UID:
        return SlotUID;
    case RecordProperty::URL:
        return SlotURL;
    case RecordProperty::Sequence:
        return SlotSequence;
    case RecordProperty::DateStamp:
        return SlotDateStamp;
    case RecordProperty::Status:
        return SlotStatus;
    case RecordProperty::Completed:
        return SlotCompleted;
    case RecordProperty::Description:
        return SlotDescription;
    case RecordProperty::Due:
        return SlotDue;
    case RecordProperty::None:
        break;
    }
    const QStringView name = propertyNameOf(namePart);
    if (isLine(name, u"LAST-MODIFIED"))
        return SlotLastModified;
    if (isLine(name, u"PERCENT-COMPLETE"))
        return SlotPercent;
    return SlotNone;
}

// One logical line of the component: physical lines [first, end).
struct PropertyLine {
    int first;
    int end;
    QString namePart;
    QString value;
};

// The component's physical lines and where its properties and first alarm stand.
class ComponentModel {
public:
    explicit ComponentModel(QStringView component) : m_text(component) {
        m_starts.push_back(0);
        for (qsizetype cr = findCr(component, 0); cr < component.size();
             cr = findCr(component, cr + 1)) {
            if (cr + 1 < component.size() && component[cr + 1] == u'\n')
                m_starts.push_back(cr + 2);
        }
        const ToDoWalk walk = walkToDo(component, 0, *this);
        m_endLine = walk.terminated ? lineOf(walk.rawEnd - 1) : int(m_starts.size());
    }

    void header(QStringView) {}
    void property(QStringView line, bool folded) {
        QString unfolded = line.toString();
        if (folded) {
            for (qsizetype i = unfolded.indexOf(crlf); i >= 0; i = unfolded.indexOf(crlf, i))
                unfolded.remove(i, 3);
        }
        const std::optional<QStringView> namePart = namePartOf(unfolded);
        if (!namePart)
            return;
        const Slot slot = slotOf(*namePart);
        if (slot == SlotNone)
            return;
        const auto [first, end] = linesOf(line);
        m_lines[slot].push_back(
            {first, end, namePart->toString(),
             QStringView(unfolded).sliced(namePart->end() - unfolded.constBegin() + 1).toString()});
    }
    void block(QStringView block, bool isFirstAlarm, int openLevels) {
        const auto [first, end] = linesOf(block);
        // A block left open runs to the to-do's end: nothing may be added after it.
        if (openLevels > 0 && !m_openBlock)
            m_openBlock = first;
        if (isFirstAlarm)
            m_alarm = {first, end, {}, {}};
    }

    const std::vector<PropertyLine>& lines(int slot) const { return m_lines[size_t(slot)]; }
    const std::optional<PropertyLine>& alarm() const { return m_alarm; }
    int endLine() const { return m_endLine; }
    // Where a line is added after all the others: before the end, or before a block
    // that is not closed.
    int lastInsertionLine() const { return m_openBlock.value_or(m_endLine); }

private:
    int lineOf(qsizetype offset) const {
        return int(std::upper_bound(m_starts.begin(), m_starts.end(), offset) - m_starts.begin()) -
               1;
    }
    std::pair<int, int> linesOf(QStringView view) const {
        const qsizetype start = view.utf16() - m_text.utf16();
        return {lineOf(start), lineOf(start + std::max<qsizetype>(view.size(), 1) - 1) + 1};
    }

    QStringView m_text;
    std::vector<qsizetype> m_starts;
    std::array<std::vector<PropertyLine>, SlotCount + 1> m_lines;
    std::optional<PropertyLine> m_alarm;
    std::optional<int> m_openBlock;
    int m_endLine = 0;
};

// The parameters of a name part, split at semicolons outside quoted values; the first
// is the name.
QStringList namePartPieces(QStringView namePart) {
    QStringList pieces;
    bool quoted = false;
    qsizetype from = 0;
    for (qsizetype i = 0; i < namePart.size(); ++i) {
        if (namePart[i] == u'"')
            quoted = !quoted;
        else if (namePart[i] == u';' && !quoted) {
            pieces.append(namePart.sliced(from, i - from).toString());
            from = i + 1;
        }
    }
    pieces.append(namePart.sliced(from).toString());
    return pieces;
}

bool isParameter(const QString& piece, QStringView name) {
    const qsizetype equals = piece.indexOf(u'=');
    return equals >= 0 && QStringView(piece).first(equals).compare(name, Qt::CaseInsensitive) == 0;
}

} // namespace

QString parameterValue(QStringView namePart, QStringView name) {
    const QStringList pieces = namePartPieces(namePart);
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        if (isParameter(pieces[i], name))
            return pieces[i].mid(pieces[i].indexOf(u'=') + 1).remove(u'"');
    }
    return {};
}

namespace {

// The forms a date value takes (RFC 5545 3.3.4, 3.3.5).
enum class DateForm { Date, UTC, Local, Other };

DateForm dateFormOf(QStringView value) {
    auto digits = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            if (value[i] < u'0' || value[i] > u'9')
                return false;
        return true;
    };
    if (value.size() == 8 && digits(0, 8))
        return DateForm::Date;
    if ((value.size() == 15 || value.size() == 16) && digits(0, 8) &&
        (value[8] == u'T' || value[8] == u't') && digits(9, 15)) {
        if (value.size() == 15)
            return DateForm::Local;
        if (value[15] == u'Z' || value[15] == u'z')
            return DateForm::UTC;
    }
    return DateForm::Other;
}

// The name part for a date value: the one it had while its parameters fit the value's
// form, else the same name without VALUE and TZID (and VALUE=DATE for a date).
QString dateNamePart(const std::optional<QString>& had, QStringView fallbackName,
                     QStringView value) {
    const DateForm form = dateFormOf(value);
    if (!had)
        return form == DateForm::Date ? fallbackName.toString().append(u";VALUE=DATE")
                                      : fallbackName.toString();
    const QStringList pieces = namePartPieces(*had);
    bool fits = true;
    QStringList kept = {pieces.front()};
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString& piece = pieces[i];
        if (isParameter(piece, u"VALUE")) {
            const bool isDate = piece.mid(6).compare(u"DATE", Qt::CaseInsensitive) == 0;
            fits = fits && isDate == (form == DateForm::Date);
        } else if (isParameter(piece, u"TZID")) {
            fits = fits && form == DateForm::Local;
        } else {
            kept.append(piece);
        }
    }
    if (fits)
        return *had;
    kept.front() = fallbackName.toString();
    if (form == DateForm::Date)
        kept.append(QStringLiteral("VALUE=DATE"));
    return kept.join(u';');
}

} // namespace

QString completedInUTC(QStringView value, QStringView namePart) {
    const DateForm form = dateFormOf(value);
    if (form == DateForm::UTC || form == DateForm::Other)
        return value.toString();
    const QDate day = QDate::fromString(value.first(8), u"yyyyMMdd");
    QTime time(0, 0);
    if (form == DateForm::Local)
        time = QTime::fromString(value.sliced(9, 6), u"HHmmss");
    if (!day.isValid() || !time.isValid())
        return value.toString();
    const QTimeZone zone(parameterValue(namePart, u"TZID").toUtf8());
    const QDateTime local = zone.isValid() ? QDateTime(day, time, zone) : QDateTime(day, time);
    if (!local.isValid())
        return value.toString();
    return local.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'");
}

std::optional<QDateTime> instantOfDateValue(QStringView value, QStringView namePart) {
    const DateForm form = dateFormOf(value);
    if (form == DateForm::Other)
        return std::nullopt;
    const QDate day = QDate::fromString(value.first(8), u"yyyyMMdd");
    if (!day.isValid())
        return std::nullopt;
    if (form == DateForm::Date) {
        const QDateTime start = platform::LocalZone::startOfDay(day);
        return start.isValid() ? std::optional(start) : std::nullopt;
    }
    const QTime time = QTime::fromString(value.sliced(9, 6), u"HHmmss");
    if (!time.isValid())
        return std::nullopt;
    if (form == DateForm::UTC)
        return QDateTime(day, time, QTimeZone::utc());
    const QTimeZone zone(parameterValue(namePart, u"TZID").toUtf8());
    const auto inZone = [&](const QDateTime& instant) {
        return zone.isValid() ? instant.toTimeZone(zone) : platform::LocalZone::toLocal(instant);
    };
    const QDateTime local =
        zone.isValid() ? QDateTime(day, time, zone) : platform::LocalZone::localDateTime(day, time);
    if (local.isValid())
        return local;
    // A time a clock change skips is read with the offset in force the day before:
    // moved forward by the change, as a clock that was not set forward would show it.
    const QDateTime asUTC(day, time, QTimeZone::utc());
    const QDateTime before = inZone(asUTC.addDays(-1));
    if (!before.isValid())
        return std::nullopt;
    const QDateTime moved = inZone(asUTC.addSecs(-before.offsetFromUtc()));
    return moved.isValid() ? std::optional(moved) : std::nullopt;
}

namespace {

QString completedNamePart(const std::optional<QString>& had) {
    if (!had)
        return QStringLiteral("COMPLETED");
    const QStringList pieces = namePartPieces(*had);
    QStringList kept = {pieces.front()};
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const bool isDate = isParameter(pieces[i], u"VALUE") &&
                            pieces[i].mid(6).compare(u"DATE", Qt::CaseInsensitive) == 0;
        if (!isParameter(pieces[i], u"TZID") && !isDate)
            kept.append(pieces[i]);
    }
    return kept.join(u';');
}

QString onOneLine(QStringView value) {
    QString out;
    appendOnOneLine(out, value);
    return out;
}

QString textValue(const QL_ToDo::Text& text) {
    return QL_ToDo::convertToEscapedString(text).value_or(QString());
}

// What becomes of one place of the record.
struct Change {
    enum Kind { Keep, Remove, Set } kind = Keep;
    QString value;                   // as it stands after the colon, folded where it is text
    std::optional<QString> namePart; // nothing: the line's own, or the fallback
};

class EditPlan {
public:
    EditPlan(const ComponentModel& model) : m_model(model) {}

    void apply(Slot slot, const Change& change, QStringView fallbackName) {
        const std::vector<PropertyLine>& lines = m_model.lines(slot);
        if (change.kind == Change::Keep)
            return;
        if (change.kind == Change::Remove) {
            for (const PropertyLine& line : lines)
                m_edits.push_back({line.first, line.end, {}});
            return;
        }
        if (!lines.empty()) {
            // The line that counts is the last; earlier ones stay as they are.
            const PropertyLine& line = lines.back();
            const QString name = change.namePart.value_or(line.namePart);
            if (name == line.namePart && change.value == line.value)
                return;
            m_edits.push_back({line.first, line.end, split(name, change.value)});
            return;
        }
        const QString name = change.namePart.value_or(fallbackName.toString());
        m_edits.push_back({insertionLine(slot), -1, split(name, change.value)});
    }

    void setAlarm(const QL_ToDo::Text& alarm) {
        const std::optional<PropertyLine>& block = m_model.alarm();
        if (!alarm || alarm->isEmpty()) {
            if (block)
                m_edits.push_back({block->first, block->end, {}});
            return;
        }
        const QStringList lines = alarm->split(crlfText);
        if (block)
            m_edits.push_back({block->first, block->end, lines});
        else
            m_edits.push_back({m_model.lastInsertionLine(), -1, lines});
    }

    std::vector<LineEdit> edits() {
        for (LineEdit& e : m_edits) {
            if (e.end < 0)
                e.end = e.first;
        }
        // Insertions go before a change at the same line, each kind in the order made.
        std::stable_sort(m_edits.begin(), m_edits.end(), [](const LineEdit& a, const LineEdit& b) {
            const bool aInsert = a.first == a.end;
            const bool bInsert = b.first == b.end;
            return a.first != b.first ? a.first < b.first : aInsert && !bInsert;
        });
        return std::move(m_edits);
    }

private:
    static QStringList split(const QString& name, const QString& value) {
        return (onOneLine(name) + u':' + value).split(crlfText);
    }

    // After the nearest property that comes before in the order of a new to-do, else
    // before the nearest that comes after, else before the alarm or the end.
    int insertionLine(Slot slot) const {
        for (int s = int(slot) - 1; s >= 0; --s) {
            const std::vector<PropertyLine>& lines = m_model.lines(s);
            if (!lines.empty())
                return lines.back().end;
        }
        for (int s = int(slot) + 1; s < SlotCount; ++s) {
            const std::vector<PropertyLine>& lines = m_model.lines(s);
            if (!lines.empty())
                return lines.front().first;
        }
        if (m_model.alarm())
            return std::min(m_model.alarm()->first, m_model.lastInsertionLine());
        return m_model.lastInsertionLine();
    }

    const ComponentModel& m_model;
    std::vector<LineEdit> m_edits;
};

Change setTo(QString value, std::optional<QString> namePart = std::nullopt) {
    return {Change::Set, std::move(value), std::move(namePart)};
}

// A stored value that the record holds differently from the component.
template <typename T> Change storedChange(const T& had, const T& now, QString value) {
    if (had == now)
        return {};
    if (!now)
        return {Change::Remove, {}, {}};
    return setTo(std::move(value));
}

// A date changes with its value, or with a name part the record was given.
bool dateChanged(const QL_ToDo::Text& hadValue, const QL_ToDo::Text& hadName,
                 const QL_ToDo::Text& nowValue, const QL_ToDo::Text& nowName) {
    return hadValue != nowValue || (nowValue && nowName && nowName != hadName);
}

} // namespace

QString foldValue(const QString& value) {
    if (value.size() <= foldLimit)
        return value;
    const QStringView text(value);
    QString out;
    out.reserve(text.size() + 3 * (text.size() / furtherPiece + 2));
    qsizetype start = 0;
    qsizetype piece = firstPiece;
    while (text.size() - start > piece) {
        qsizetype cut = start + piece;
        if (isHighSurrogateAt(text, cut - 1) && text[cut].isLowSurrogate())
            --cut;
        out.append(text.sliced(start, cut - start));
        out.append(u"\r\n ");
        start = cut;
        piece = furtherPiece;
    }
    out.append(text.sliced(start));
    return out;
}

void appendOnOneLine(QString& out, QStringView value) {
    qsizetype from = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\r' || value[i] == u'\n') {
            out.append(value.sliced(from, i - from));
            from = i + 1;
        }
    }
    out.append(value.sliced(from));
}

QString sequenceText(std::optional<double> sequence) {
    const double value = sequence.value_or(0.0);
    if (!std::isfinite(value))
        return QStringLiteral("0");
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

bool isEightDigitDate(QStringView value) {
    return dateFormOf(value) == DateForm::Date;
}

QString dueNamePart(const std::optional<QString>& readWith, QStringView value) {
    return dateNamePart(readWith, u"DUE", value);
}

QL_ToDo recordOfComponent(QStringView component) {
    std::vector<std::shared_ptr<QL_ToDo>> read;
    appendToDos(component, {}, read);
    return read.empty() ? QL_ToDo() : *read.front();
}

std::vector<LineEdit> componentEdits(QStringView component, const QL_ToDo& base,
                                     const QL_ToDo& record, const Revision& revision) {
    const ComponentModel model(component);
    EditPlan plan(model);

    plan.apply(SlotPriority,
               storedChange(base.thePriority(), record.thePriority(),
                            QString::number(record.thePriority().value_or(0))),
               u"PRIORITY");

    if (dateChanged(base.theCreationDate(), base.theCreationDateHeader(), record.theCreationDate(),
                    record.theCreationDateHeader())) {
        if (record.theCreationDate())
            plan.apply(SlotStart,
                       setTo(onOneLine(*record.theCreationDate()),
                             record.theCreationDateHeader()
                                 ? std::optional<QString>(*record.theCreationDateHeader())
                                 : std::nullopt),
                       u"DTSTART");
        else
            plan.apply(SlotStart, {Change::Remove, {}, {}}, u"DTSTART");
    }

    plan.apply(SlotSummary,
               storedChange(base.theSummary(), record.theSummary(), textValue(record.theSummary())),
               u"SUMMARY");

    // A to-do keeps its identity: a UID is never taken away, and one is made for a
    // to-do that has none.
    if (record.theUID() && record.theUID() != base.theUID())
        plan.apply(SlotUID, setTo(onOneLine(*record.theUID())), u"UID");
    else if (!record.theUID() && model.lines(SlotUID).empty())
        plan.apply(SlotUID, setTo(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()),
                   u"UID");

    plan.apply(SlotURL,
               storedChange(base.theURL(), record.theURL(),
                            foldValue(onOneLine(record.theURL().value_or(QString())))),
               u"URL");

    if (sequenceText(base.theSequence()) != sequenceText(record.theSequence()))
        plan.apply(SlotSequence, setTo(sequenceText(record.theSequence())), u"SEQUENCE");

    if (!revision.stamp.isEmpty()) {
        plan.apply(SlotDateStamp, setTo(revision.stamp), u"DTSTAMP");
        plan.apply(SlotLastModified, setTo(revision.stamp), u"LAST-MODIFIED");
    }

    plan.apply(SlotStatus,
               storedChange(base.theStatus(), record.theStatus(),
                            onOneLine(record.theStatus().value_or(QString()))),
               u"STATUS");

    if (dateChanged(base.theCompletedDate(), base.theCompletedDateHeader(),
                    record.theCompletedDate(), record.theCompletedDateHeader())) {
        if (const QL_ToDo::Text& completed = record.theCompletedDate()) {
            const QString zoneFrom = record.theCompletedDateHeader().value_or(
                base.theCompletedDateHeader().value_or(QString()));
            const std::vector<PropertyLine>& lines = model.lines(SlotCompleted);
            plan.apply(SlotCompleted,
                       setTo(completedInUTC(onOneLine(*completed), zoneFrom),
                             completedNamePart(
                                 lines.empty() ? std::nullopt
                                               : std::optional<QString>(lines.back().namePart))),
                       u"COMPLETED");
        } else {
            plan.apply(SlotCompleted, {Change::Remove, {}, {}}, u"COMPLETED");
        }
    }

    plan.apply(SlotDescription,
               storedChange(base.theDescription(), record.theDescription(),
                            textValue(record.theDescription())),
               u"DESCRIPTION");

    if (dateChanged(base.theDueDate(), base.theDueDateHeader(), record.theDueDate(),
                    record.theDueDateHeader())) {
        if (const QL_ToDo::Text& due = record.theDueDate()) {
            const std::vector<PropertyLine>& lines = model.lines(SlotDue);
            std::optional<QString> had = record.theDueDateHeader();
            if (!had && !lines.empty())
                had = lines.back().namePart;
            const QString value = onOneLine(*due);
            plan.apply(SlotDue, setTo(value, dateNamePart(had, u"DUE", value)), u"DUE");
        } else {
            plan.apply(SlotDue, {Change::Remove, {}, {}}, u"DUE");
        }
    }

    // Completing finishes the work; reopening a finished to-do starts it again.
    const std::vector<PropertyLine>& percent = model.lines(SlotPercent);
    if (!percent.empty()) {
        if (record.isComplete() && !base.isComplete())
            plan.apply(SlotPercent, setTo(QStringLiteral("100")), u"PERCENT-COMPLETE");
        else if (!record.isComplete() && base.isComplete() &&
                 percent.back().value.trimmed() == u"100")
            plan.apply(SlotPercent, setTo(QStringLiteral("0")), u"PERCENT-COMPLETE");
    }

    const auto emptyAsNone = [](const QL_ToDo::Text& alarm) {
        return alarm && !alarm->isEmpty() ? alarm : std::nullopt;
    };
    if (emptyAsNone(base.theVAlarm()) != emptyAsNone(record.theVAlarm()))
        plan.setAlarm(record.theVAlarm());

    return plan.edits();
}

QString applyLineEdits(QStringView component, const std::vector<LineEdit>& edits) {
    const QList<QStringView> lines = component.split(crlf);
    QStringList out;
    out.reserve(lines.size() + qsizetype(edits.size()));
    int line = 0;
    for (const LineEdit& e : edits) {
        for (; line < e.first && line < lines.size(); ++line)
            out.append(lines[line].toString());
        out.append(e.lines);
        line = std::max(line, e.end);
    }
    for (; line < lines.size(); ++line)
        out.append(lines[line].toString());
    return out.join(crlf);
}

} // namespace ql
