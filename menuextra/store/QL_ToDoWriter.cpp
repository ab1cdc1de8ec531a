// Turning a to-do back into VTODO text and putting it into the calendar file.
#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoEdit.h"
#include "menuextra/store/QL_ToDoLines.h"
#include "menuextra/store/QL_ToDoReader.h"

#include "platform/Alert.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/NewFile.h"
#include "platform/TextFile.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iterator>
#include <vector>

namespace {

constexpr QStringView crlf = u"\r\n";
constexpr int writeAttempts = 3; // reads and replaces against concurrent saves

using ql::appendOnOneLine;
using ql::propertyNameOf;

QString escapeOrEmpty(const QL_ToDo::Text& text) {
    return QL_ToDo::convertToEscapedString(text).value_or(QString());
}

// Appends, each ended by CR LF, the lines of the component as read that the record
// does not own: everything the record cannot show stays exactly as it stood. Lines
// and blocks are told apart by the reader's own line model.
class CarriedLines {
public:
    CarriedLines(QString& out, const QStringList& emittedNames)
        : m_out(out), m_emittedNames(emittedNames) {}

    // Continuation lines of the BEGIN:VTODO line stay with it.
    void header(QStringView header) {
        const qsizetype firstBreak = header.indexOf(crlf);
        if (firstBreak >= 0)
            m_headerContinuations = header.sliced(firstBreak);
    }
    void property(QStringView line, bool folded) {
        if (owned(line, folded))
            return;
        m_out.append(line);
        m_out.append(crlf);
    }
    // Nested blocks travel whole, except the first alarm, which the record holds and
    // writes itself.
    void block(QStringView block, bool isFirstAlarm, int) {
        if (isFirstAlarm)
            return;
        m_out.append(block);
        m_out.append(crlf);
    }
    QStringView headerContinuations() const { return m_headerContinuations; }

private:
    // A line is the record's when the reader takes it into the record, or when this
    // text writes a property of the same name (so DUE and a zoned DUE never both stand).
    bool owned(QStringView line, bool folded) const {
        QString unfolded;
        if (folded) {
            unfolded = line.toString();
            for (qsizetype i = unfolded.indexOf(crlf); i >= 0; i = unfolded.indexOf(crlf, i))
                unfolded.remove(i, 3);
            line = unfolded;
        }
        const std::optional<QStringView> namePart = ql::namePartOf(line);
        if (!namePart)
            return false; // not a property line
        return ql::recordPropertyOf(*namePart) != ql::RecordProperty::None ||
               m_emittedNames.contains(propertyNameOf(*namePart), Qt::CaseInsensitive);
    }

    QString& m_out;
    const QStringList& m_emittedNames;
    QStringView m_headerContinuations;
};

// The calendar is searched and changed as the file's own UTF-8 bytes: decoding a large
// calendar and encoding it again cost more than all the rest of a write.

// A stretch of the calendar: length bytes at "at".
struct Edit {
    qsizetype at;
    qsizetype length;
};
using Edits = std::vector<Edit>;

bool endsLine(QByteArrayView text, qsizetype end) {
    return end == text.size() ||
           (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ||
           (end >= 2 && text[end - 2] == '\r' && text[end - 1] == '\n');
}

char asciiFolded(char c) {
    return c >= 'A' && c <= 'Z' ? char(c | 0x20) : c;
}

// The length in bytes of the text at pos that equals the needle, letter case ignored
// as a comparison of the decoded texts ignores it; nothing when they differ.
std::optional<qsizetype> matchLength(QByteArrayView text, qsizetype pos, QByteArrayView needle8,
                                     QStringView needle) {
    const qsizetype available = text.size() - pos;
    const qsizetype comparable = std::min(needle8.size(), available);
    qsizetype i = 0;
    // Most line starts that are compared are other to-dos: equal for their first few
    // dozen bytes. Eight bytes at a time while they are equal.
    for (; i + 8 <= comparable; i += 8) {
        if (std::memcmp(text.data() + pos + i, needle8.data() + i, 8) != 0)
            break;
    }
    for (; i < comparable; ++i) {
        const char a = text[pos + i];
        const char b = needle8[i];
        if (a == b)
            continue;
        if ((uchar(a) | uchar(b)) & 0x80)
            break;
        if (asciiFolded(a) != asciiFolded(b))
            return std::nullopt;
    }
    if (i == needle8.size())
        return i;
    // Beyond ASCII, case folding may change a character's length in bytes: the rest is
    // compared decoded, from the start of the character that differs. Up to here both
    // sides had the same characters, so that start is the same on both.
    while (i > 0 && (uchar(needle8[i]) & 0xC0) == 0x80)
        --i;
    const QStringView rest = needle.sliced(QString::fromUtf8(needle8.first(i)).size());
    // Four bytes per UTF-16 unit always hold that many whole units.
    const QString decoded =
        QString::fromUtf8(text.sliced(pos + i, std::min(available - i, 4 * rest.size())));
    if (decoded.size() < rest.size() ||
        QStringView(decoded).first(rest.size()).compare(rest, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return i + QStringView(decoded).first(rest.size()).toUtf8().size();
}

// Calls found(offset) for each line start after the first whose first byte is a or b,
// in text order. Few lines begin as the component does, so the bytes are tested 64 at
// a time, without a branch per line.
template <typename Found>
void forEachLineStartingWith(QByteArrayView text, char a, char b, Found found) {
    const char* p = text.data();
    const qsizetype n = text.size();
    qsizetype i = 0;
    quint64 lfBefore = 0; // an LF ended the block before
    for (; i + 64 <= n; i += 64) {
        const quint64 lfs = ql::bytesEqual64(p + i, '\n');
        quint64 starts =
            ((lfs << 1) | lfBefore) & (ql::bytesEqual64(p + i, a) | ql::bytesEqual64(p + i, b));
        lfBefore = lfs >> 63;
        for (; starts != 0; starts &= starts - 1)
            found(i + std::countr_zero(starts));
    }
    for (i = std::max<qsizetype>(i, 1); i < n; ++i) {
        if (p[i - 1] == '\n' && (p[i] == a || p[i] == b))
            found(i);
    }
}

// Every copy of needle as whole lines of the text (normalised: every line ends with
// CR LF), letter case ignored; nothing when there is none. A copy standing inside a
// line (in a value, say) is not the component and is never touched.
std::optional<Edits> wholeLineCopies(QByteArrayView text, const QString& needle) {
    if (needle.isEmpty())
        return std::nullopt;
    const QByteArray needle8 = needle.toUtf8();
    Edits edits;
    qsizetype next = text.startsWith("\xEF\xBB\xBF") ? 3 : 0; // where a copy may begin
    auto tryAt = [&](qsizetype pos) {
        if (pos < next)
            return;
        const std::optional<qsizetype> length = matchLength(text, pos, needle8, needle);
        if (length && endsLine(text, pos + *length)) {
            edits.push_back({pos, *length});
            next = pos + *length;
        }
    };
    tryAt(next);
    // A copy can only begin where a line begins, so only line starts are compared, and
    // only those with a first byte that can begin it. K and S have letters beyond ASCII
    // that fold to them, and so does nothing else of ASCII.
    const char first = needle8.front();
    const char lower = asciiFolded(first);
    if ((uchar(first) & 0x80) || lower == 'k' || lower == 's') {
        for (qsizetype lf = text.indexOf('\n'); lf >= 0; lf = text.indexOf('\n', lf + 1))
            tryAt(lf + 1);
    } else {
        const char upper = lower >= 'a' && lower <= 'z' ? char(lower - 0x20) : lower;
        forEachLineStartingWith(text, lower, upper, tryAt);
    }
    if (edits.empty())
        return std::nullopt;
    return edits;
}

// The start of the last line that is "END:VCALENDAR" (letter case and white space
// around it ignored), provided a line comes before it.
std::optional<qsizetype> lastCalendarEnd(QByteArrayView text) {
    for (qsizetype end = text.size(); end > 0;) {
        const qsizetype start = text.lastIndexOf('\n', end - 1) + 1;
        if (start < 2)
            return std::nullopt;
        const QByteArrayView line = text.sliced(start, end - start);
        if (ql::isLine(line, u"END:VCALENDAR") ||
            ql::isLine(QStringView(QString::fromUtf8(line).trimmed()), u"END:VCALENDAR"))
            return start;
        end = start - 2;
    }
    return std::nullopt;
}

// Line starts of the normalised text mapped back to the file's own bytes, whose line
// ends may be LF or CR: the lines are the same, only their ends differ.
class LineMap {
public:
    LineMap(QByteArrayView original, QByteArrayView normalized)
        : m_original(original), m_identity(original.size() == normalized.size()) {
        if (m_identity)
            return;
        auto starts = [](QByteArrayView text, std::vector<qsizetype>& out) {
            out.push_back(0);
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (text[i] == '\n' ||
                    (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
                    out.push_back(i + 1);
            }
        };
        starts(normalized, m_normalizedStarts);
        starts(original, m_originalStarts);
    }

    // The file offset of a place in the normalised text.
    qsizetype originalOffset(qsizetype at) const {
        if (m_identity)
            return at;
        const auto it =
            std::upper_bound(m_normalizedStarts.begin(), m_normalizedStarts.end(), at) - 1;
        const size_t line = size_t(it - m_normalizedStarts.begin());
        if (line >= m_originalStarts.size())
            return m_original.size();
        return std::min(m_originalStarts[line] + (at - *it), m_original.size());
    }

    // The line end of the file's line that ends at a line start; CR LF at the start.
    QByteArrayView lineEndBefore(qsizetype lineStart) const {
        if (lineStart >= 2 && m_original[lineStart - 2] == '\r' &&
            m_original[lineStart - 1] == '\n')
            return m_original.sliced(lineStart - 2, 2);
        if (lineStart >= 1 &&
            (m_original[lineStart - 1] == '\n' || m_original[lineStart - 1] == '\r'))
            return m_original.sliced(lineStart - 1, 1);
        return "\r\n";
    }

private:
    QByteArrayView m_original;
    bool m_identity;
    std::vector<qsizetype> m_normalizedStarts;
    std::vector<qsizetype> m_originalStarts;
};

// What a write does, and the bytes it puts in: each change is a stretch of the file's
// own bytes that gives way to new lines.
struct FileChange {
    qsizetype at;
    qsizetype length;
    QByteArray bytes;
};

QByteArray linesWithEnd(const QStringList& lines, QByteArrayView lineEnd) {
    QByteArray out;
    for (const QString& line : lines) {
        out += line.toUtf8();
        out += lineEnd;
    }
    return out;
}

// Starts of the physical lines of the stretch text[at, at + length) (normalised), as
// offsets of the text; the last entry is where the line after the stretch begins.
std::vector<qsizetype> physicalLineStarts(QByteArrayView text, qsizetype at, qsizetype length) {
    std::vector<qsizetype> starts{at};
    const qsizetype end = at + length;
    for (qsizetype i = text.indexOf('\n', at); i >= 0 && i < end; i = text.indexOf('\n', i + 1))
        starts.push_back(i + 1);
    starts.push_back(end < text.size() ? std::min(end + 2, text.size()) : text.size());
    return starts;
}

// What the record is to be written from: the component as it was read and the record
// that reads from it, the record itself, and the revision stamp of this write.
struct WriteRequest {
    int action;
    const QL_ToDo& record;
    QString baseText; // the component to change: the one read, or a new one
    QL_ToDo base;
    ql::Revision revision;
    bool removeEmptiedFile = false; // an item file of a folder goes with its last to-do
};

// The number of components of the calendar other than its time zones.
int componentCount(QByteArrayView text) {
    int count = 0;
    int depth = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\r', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = text.sliced(start, end - start);
        if (ql::startsWithKeyword(line, u"BEGIN:")) {
            if (depth == 1 && !ql::isLine(line, u"BEGIN:VTIMEZONE"))
                ++count;
            ++depth;
        } else if (ql::startsWithKeyword(line, u"END:")) {
            depth = std::max(0, depth - 1);
        }
        start = end + 2;
    }
    return count;
}

// True when the calendar defines the time zone (a VTIMEZONE with that TZID).
bool definesZone(QStringView calendar, QStringView zone) {
    const QString line = QStringLiteral("\r\nTZID:") + zone.toString() + QStringLiteral("\r\n");
    return calendar.contains(line, Qt::CaseInsensitive);
}

// A start date in a zone the calendar does not define is written in UTC, so that it
// names the same instant for every reader (RFC 5545 3.2.19).
std::optional<QL_ToDo> withStartInUTC(const QL_ToDo& record, QStringView calendar) {
    const QL_ToDo::Text& header = record.theCreationDateHeader();
    const QL_ToDo::Text& value = record.theCreationDate();
    if (!header || !value || value->size() != 15)
        return std::nullopt;
    static const QRegularExpression tzid(QStringLiteral("(?:^|;)TZID=\"?([^\";:]+)\"?(?:;|$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = tzid.match(*header);
    if (!m.hasMatch() || definesZone(calendar, m.captured(1)))
        return std::nullopt;
    const QTimeZone zone(m.captured(1).toUtf8());
    QDateTime local = QDateTime::fromString(*value, u"yyyyMMdd'T'HHmmss");
    if (!zone.isValid() || !local.isValid())
        return std::nullopt;
    local.setTimeZone(zone);
    QL_ToDo moved = record;
    moved.setCreationDate(local.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"));
    moved.setCreationDateHeader(QStringLiteral("DTSTART"));
    return moved;
}

std::optional<std::vector<FileChange>> changesFor(QByteArrayView original, QByteArrayView text,
                                                  QStringView decoded,
                                                  const WriteRequest& request) {
    const LineMap map(original, text);
    std::vector<FileChange> changes;
    switch (request.action) {
    case QLWriteActionReplace:
    case QLWriteActionRemove: {
        const QL_ToDo::Text& rawData = request.record.theRawData();
        if (!rawData || rawData->isEmpty())
            return std::nullopt;
        const std::optional<Edits> copies = wholeLineCopies(text, *rawData);
        if (!copies)
            return std::nullopt;
        for (const Edit& copy : *copies) {
            const std::vector<qsizetype> starts = physicalLineStarts(text, copy.at, copy.length);
            if (request.action == QLWriteActionRemove) {
                // The line end after "END:VTODO" goes with the component.
                const qsizetype from = map.originalOffset(starts.front());
                changes.push_back({from, map.originalOffset(starts.back()) - from, {}});
                continue;
            }
            // The copy in the file may differ from the text read in letter case only;
            // its own lines are the ones kept.
            const QString component = QString::fromUtf8(text.sliced(copy.at, copy.length));
            for (const ql::LineEdit& e :
                 ql::componentEdits(component, request.base, request.record, request.revision)) {
                const qsizetype from = map.originalOffset(starts[size_t(e.first)]);
                const qsizetype to = map.originalOffset(starts[size_t(e.end)]);
                changes.push_back(
                    {from, to - from, linesWithEnd(e.lines, map.lineEndBefore(from))});
            }
        }
        return changes;
    }
    case QLWriteActionAdd: {
        const std::optional<qsizetype> end = lastCalendarEnd(text);
        if (!end)
            return std::nullopt;
        const qsizetype at = map.originalOffset(*end);
        const std::optional<QL_ToDo> inUTC = withStartInUTC(request.record, decoded);
        const QString component =
            ql::applyLineEdits(request.baseText, ql::componentEdits(request.baseText, request.base,
                                                                    inUTC ? *inUTC : request.record,
                                                                    request.revision));
        changes.push_back(
            {at, 0, linesWithEnd(component.split(crlf.toString()), map.lineEndBefore(at))});
        return changes;
    }
    default:
        return std::nullopt;
    }
}

// The new file content as pieces to write one after the other: the untouched
// stretches are the file's own bytes, never copied.
std::vector<QByteArrayView> applied(QByteArrayView text, const std::vector<FileChange>& changes) {
    std::vector<QByteArrayView> pieces;
    pieces.reserve(2 * changes.size() + 1);
    qsizetype pos = 0;
    for (const FileChange& c : changes) {
        pieces.push_back(text.sliced(pos, c.at - pos));
        if (!c.bytes.isEmpty())
            pieces.push_back(c.bytes);
        pos = c.at + c.length;
    }
    pieces.push_back(text.sliced(pos));
    return pieces;
}

// The file's bytes go into a buffer kept from one write to the next, as the reader
// keeps its own: writes run on the main thread, and fresh memory for a large calendar
// on every write cost more than the work on it.
struct WriteBuffers {
    platform::FileSnapshot snapshot;
    QString text; // decoded, for the check an Add needs
};

WriteBuffers& writeBuffers() {
    thread_local WriteBuffers buffers;
    return buffers;
}

void reportFailedWrite() {
    platform::NSLog(QStringLiteral("Quillo :: writeToCalendar :: Calendar Failed to be Written"));
    platform::Alert alert;
    alert.style = platform::AlertStyle::Critical;
    alert.title = QL_LocalizedString(QStringLiteral("WRITE_FAILED_TITLE"));
    alert.message = QL_LocalizedString(QStringLiteral("WRITE_FAILED_TEXT"));
    alert.buttons = {QL_LocalizedString(QStringLiteral("OK_BUTTON"))};
    platform::runModalAlert(alert);
    platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("Quillo_Failed_Write"), QStringLiteral("com.orvane.quillo"));
}

// Between tries the other program gets a moment to finish its save.
void waitBeforeTry(int attempt) {
    constexpr long pausesMs[] = {0, 20, 80};
    const long ms = pausesMs[std::min<int>(attempt, std::size(pausesMs) - 1)];
    if (ms > 0) {
        const timespec pause{0, ms * 1000000};
        ::nanosleep(&pause, nullptr);
    }
}

// A file that has not changed for a while is not being saved: waiting for it to
// become whole would be in vain.
bool changedLately(const platform::FileIdentity& identity) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 ageMs = (qint64(now.tv_sec) - identity.modifiedSeconds) * 1000 +
                         (qint64(now.tv_nsec) - identity.modifiedNanoseconds) / 1000000;
    return ageMs < 2000;
}

// True when a to-do of the text has no END:VTODO line: it would take in whatever
// is added after it.
bool hasUnterminatedToDo(QStringView text) {
    struct Ignore {
        void header(QStringView) {}
        void property(QStringView, bool) {}
        void block(QStringView, bool, int) {}
    } ignore;
    for (qsizetype pos = 0; pos < text.size();) {
        const qsizetype eol = ql::findCr(text, pos);
        if (ql::isLine(text.sliced(pos, eol - pos), u"BEGIN:VTODO")) {
            const ql::ToDoWalk walk = ql::walkToDo(text, pos, ignore);
            if (!walk.terminated)
                return true;
            pos = walk.next;
        } else {
            pos = std::min(eol + 2, text.size());
        }
    }
    return false;
}

// Reads, changes and replaces the file; a save by someone else between our read and
// our replace makes us start again from their version, and so does a file that was
// being written while we read it.
bool rewriteCalendar(const QString& path, const WriteRequest& request) {
    for (int attempt = 0; attempt < writeAttempts; ++attempt) {
        waitBeforeTry(attempt);
        WriteBuffers& buffers = writeBuffers();
        platform::FileSnapshot& snapshot = buffers.snapshot;
        if (!platform::readFileSnapshot(path, snapshot))
            return false;
        if (!snapshot.settled)
            continue;
        // A file caught in the middle of a save (cut in a character, or short of its
        // end) is read again; one that stays so is not a calendar we can write.
        const QByteArray text = ql::normalizeLineEndings(snapshot.bytes);
        if (!QByteArrayView(text).isValidUtf8() || !ql::isWholeCalendar(text)) {
            if (!changedLately(snapshot.identity))
                return false;
            continue;
        }
        if (request.action == QLWriteActionAdd &&
            (!platform::decodeUtf8(text, buffers.text) || hasUnterminatedToDo(buffers.text)))
            return false;
        const std::optional<std::vector<FileChange>> changes =
            changesFor(snapshot.bytes, text, buffers.text, request);
        if (!changes)
            return false;
        if (request.removeEmptiedFile && componentCount(text) <= int(changes->size())) {
            // Nothing would be left but an empty calendar, which a sync would upload as
            // an item of its own: the file goes.
            switch (platform::removeFileIfUnchanged(path, snapshot.identity)) {
            case platform::RemoveResult::Removed:
                return true;
            case platform::RemoveResult::Failed:
                return false;
            case platform::RemoveResult::ChangedMeanwhile:
                continue;
            }
        }
        const std::vector<QByteArrayView> changed = applied(snapshot.bytes, *changes);
        switch (platform::replaceFileAtomically(path, changed, snapshot.identity)) {
        case platform::AtomicReplaceResult::Replaced:
            return true;
        case platform::AtomicReplaceResult::Failed:
            return false;
        case platform::AtomicReplaceResult::ChangedMeanwhile:
            break;
        }
    }
    return false;
}

} // namespace

QL_ToDo::Text QL_ToDo::convertToEscapedString(const Text& text) {
    if (!text)
        return std::nullopt;
    const QString& in = *text;
    QString escaped;
    escaped.reserve(in.size() + in.size() / 8 + 4);
    const qsizetype n = in.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = in.at(i);
        switch (c.unicode()) {
        case u'\\':
            escaped.append(u"\\\\");
            break;
        case u'\r':
            // CR LF is one line break.
            if (i + 1 < n && in.at(i + 1) == u'\n')
                ++i;
            escaped.append(u"\\n");
            break;
        case u'\n':
            escaped.append(u"\\n");
            break;
        case u';':
            escaped.append(u"\\;");
            break;
        case u',':
            escaped.append(u"\\,");
            break;
        default:
            escaped.append(c);
            break;
        }
    }
    return ql::foldValue(escaped);
}

QString QL_ToDo::vToDoFormatted() const {
    QString body;
    QStringList emitted; // property names this text writes for the record
    // Escaped values are folded already; any other value is kept on its line.
    enum Form { Stored, Escaped };
    auto line = [&](QStringView name, QStringView separator, QStringView value,
                    Form form = Stored) {
        appendOnOneLine(body, name);
        body.append(separator);
        if (form == Escaped)
            body.append(value);
        else
            appendOnOneLine(body, value);
        body.append(crlf);
        emitted.append(propertyNameOf(name).toString());
    };
    if (toDo_Priority)
        line(u"PRIORITY", u":", QString::number(*toDo_Priority));
    if (toDo_CreationDateHeader && toDo_CreationDate)
        line(*toDo_CreationDateHeader, u":", *toDo_CreationDate);
    line(u"SUMMARY", u":", escapeOrEmpty(toDo_Summary), Escaped);
    line(u"UID", u":",
         toDo_UID ? *toDo_UID : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (toDo_URL) {
        // A URI has no escapes (RFC 5545 3.3.13).
        QString url;
        appendOnOneLine(url, *toDo_URL);
        line(u"URL;VALUE=URI", u":", ql::foldValue(url), Escaped);
    }
    line(u"SEQUENCE", u":", ql::sequenceText(toDo_Sequence));
    line(u"DTSTAMP", u":",
         toDo_DateStamp ? *toDo_DateStamp
                        : platform::Clock::now().toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"));
    if (toDo_Status)
        line(u"STATUS", u":", *toDo_Status);
    if (toDo_CompletedDate)
        line(u"COMPLETED", u":", *toDo_CompletedDate);
    if (toDo_Description)
        line(u"DESCRIPTION", u":", escapeOrEmpty(toDo_Description), Escaped);
    if (toDo_DueDate) {
        // A date with a time part is no DATE value; keep it under the plain name, or
        // under the name it was read with while that fits it. The value is judged as it
        // will stand in the file, on one line.
        QString due;
        appendOnOneLine(due, *toDo_DueDate);
        line(ql::dueNamePart(toDo_DueDateHeader, due), u":", due);
    }
    if (toDo_VAlarm && !toDo_VAlarm->isEmpty()) {
        body.append(*toDo_VAlarm);
        body.append(crlf);
    }

    QString out;
    out.reserve(body.size() + (toDo_RawData ? toDo_RawData->size() / 4 : 0) + 32);
    out.append(u"BEGIN:VTODO");
    if (toDo_RawData) {
        CarriedLines carried(body, emitted);
        ql::walkToDo(*toDo_RawData, 0, carried);
        out.append(carried.headerContinuations());
    }
    out.append(crlf);
    out.append(body);
    out.append(u"END:VTODO");
    return out;
}

namespace {

// A UID that makes a file name as it is: vdir items are usually named after theirs.
bool isPlainFileName(const QString& uid) {
    static const QRegularExpression plain(
        QStringLiteral("^[A-Za-z0-9@_+=-][A-Za-z0-9@._+=-]{0,199}$"));
    return plain.match(uid).hasMatch();
}

// A to-do added to a folder calendar is an item file of its own, one calendar with one
// to-do, created beside the others and never over one of them.
bool addItemFile(const QString& folder, const WriteRequest& request) {
    const std::optional<QL_ToDo> inUTC = withStartInUTC(request.record, u"");
    const QString component = ql::applyLineEdits(
        request.baseText, ql::componentEdits(request.baseText, request.base,
                                             inUTC ? *inUTC : request.record, request.revision));
    const QString uid = ql::recordOfComponent(component).theUID().value_or(QString());
    const QString name =
        isPlainFileName(uid) ? uid : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray bytes = QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                                               "PRODID:-//Orvane//Quillo//EN\r\n") +
                             component.toUtf8() + QByteArrayLiteral("\r\nEND:VCALENDAR\r\n");
    return platform::createFileExclusively(
        folder + QLatin1Char('/') + name + ql::defaultItemExtension.toString(), bytes);
}

} // namespace

bool QL_ToDo::writeToCalendar(const QString& path, int action) const {
    bool written = false;
    try {
        WriteRequest request{action, *this, {}, {}, {}};
        if (action != QLWriteActionRemove)
            request.revision.stamp =
                platform::Clock::now().toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'");
        if (action == QLWriteActionAdd)
            // A to-do that comes from another calendar keeps its lines; a new one is
            // written as new to-dos are.
            request.baseText = toDo_RawData ? *toDo_RawData : vToDoFormatted();
        else if (toDo_RawData)
            request.baseText = *toDo_RawData;
        request.base = ql::recordOfComponent(request.baseText);
        if (action == QLWriteActionAdd && QFileInfo(path).isDir()) {
            written = addItemFile(path, request);
        } else {
            request.removeEmptiedFile =
                action == QLWriteActionRemove && toDo_SourceFile && *toDo_SourceFile == path;
            written = rewriteCalendar(path, request);
        }
    } catch (...) {
        written = false; // nothing may escape to the menu or the editor
    }
    if (!written)
        reportFailedWrite();
    platform::Workspace::sharedWorkspace().noteFileSystemChanged(path);
    return written;
}
