// Turning a to-do back into VTODO text and putting it into the calendar file.
#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoLines.h"
#include "menuextra/store/QL_ToDoReader.h"

#include "platform/Alert.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/TextFile.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"

#include <QStringList>
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
constexpr qsizetype foldLimit = 72;    // longest value left unfolded
constexpr qsizetype firstPiece = 60;   // value characters on the property line
constexpr qsizetype furtherPiece = 69; // characters on each continuation line
constexpr int writeAttempts = 3;       // reads and replaces against concurrent saves

bool isHighSurrogateAt(QStringView text, qsizetype i) {
    return i >= 0 && i < text.size() && text[i].isHighSurrogate();
}

// Folds an escaped value: the first 60 units stay on the property line, each further
// line is a space and up to 69 units. A cut never falls inside a surrogate pair.
QString fold(const QString& escaped) {
    if (escaped.size() <= foldLimit)
        return escaped;
    const QStringView text(escaped);
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

// A value written as it is stored (a date, a status, a UID) must stay on its line: a
// line break in it would end the line and could end the component. So CR and LF are
// left out of it.
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

QString escapeOrEmpty(const QL_ToDo::Text& text) {
    return QL_ToDo::convertToEscapedString(text).value_or(QString());
}

bool isEightDigitDate(const QString& value) {
    if (value.size() != 8)
        return false;
    for (const QChar c : value)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

QString sequenceText(std::optional<double> sequence) {
    const double value = sequence.value_or(0.0);
    if (!std::isfinite(value))
        return QStringLiteral("0");
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QStringView propertyNameOf(QStringView namePart) {
    const qsizetype semicolon = namePart.indexOf(u';');
    return semicolon < 0 ? namePart : namePart.first(semicolon);
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

// One change to the calendar bytes: length bytes at "at" give way to the new text.
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

// The start of the last line that is exactly "END:VCALENDAR" (letter case ignored),
// provided a line comes before it.
std::optional<qsizetype> lastCalendarEnd(QByteArrayView text) {
    for (qsizetype end = text.size(); end > 0;) {
        const qsizetype start = text.lastIndexOf('\n', end - 1) + 1;
        if (start < 2)
            return std::nullopt;
        if (ql::isLine(text.sliced(start, end - start), u"END:VCALENDAR"))
            return start;
        end = start - 2;
    }
    return std::nullopt;
}

// The edits and the bytes they insert.
std::optional<Edits> editsFor(QByteArrayView text, int action, const QL_ToDo::Text& rawData,
                              const QString& formatted, QByteArray& insert) {
    switch (action) {
    case QLWriteActionReplace:
        if (!rawData)
            return std::nullopt;
        insert = formatted.toUtf8();
        return wholeLineCopies(text, *rawData);
    case QLWriteActionRemove: {
        if (!rawData || rawData->isEmpty())
            return std::nullopt;
        // The line break after "END:VTODO" goes with the component.
        insert.clear();
        return wholeLineCopies(text, QString(*rawData).append(crlf));
    }
    case QLWriteActionAdd: {
        const std::optional<qsizetype> end = lastCalendarEnd(text);
        if (!end)
            return std::nullopt;
        insert = QString(formatted).append(crlf).toUtf8();
        return Edits{{*end, 0}};
    }
    default:
        return std::nullopt;
    }
}

// The new file content as pieces to write one after the other: the untouched
// stretches are the file's own bytes, never copied.
std::vector<QByteArrayView> applied(QByteArrayView text, const Edits& edits,
                                    QByteArrayView insert) {
    std::vector<QByteArrayView> pieces;
    pieces.reserve(2 * edits.size() + 1);
    qsizetype pos = 0;
    for (const Edit& e : edits) {
        pieces.push_back(text.sliced(pos, e.at - pos));
        if (!insert.isEmpty())
            pieces.push_back(insert);
        pos = e.at + e.length;
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

// True when the text (normalised UTF-8) is a whole calendar: its first line is
// BEGIN:VCALENDAR and its last line that is not white space is END:VCALENDAR (letter
// case ignored). A calendar caught while another program saves it in place is cut
// short and is not.
bool isWholeCalendar(QByteArrayView text) {
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    const qsizetype firstEnd = text.indexOf('\r');
    if (!ql::isLine(text.first(firstEnd < 0 ? text.size() : firstEnd), u"BEGIN:VCALENDAR"))
        return false;
    for (qsizetype end = text.size();;) {
        const qsizetype start = end > 0 ? text.lastIndexOf('\n', end - 1) + 1 : 0;
        const QByteArrayView line = text.sliced(start, end - start);
        if (!QString::fromUtf8(line).trimmed().isEmpty())
            return ql::isLine(line, u"END:VCALENDAR");
        if (start == 0)
            return false;
        end = start - 2;
    }
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
bool rewriteCalendar(const QString& path, int action, const QL_ToDo::Text& rawData,
                     const QString& formatted) {
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
        if (!QByteArrayView(text).isValidUtf8() || !isWholeCalendar(text)) {
            if (!changedLately(snapshot.identity))
                return false;
            continue;
        }
        if (action == QLWriteActionAdd &&
            (!platform::decodeUtf8(text, buffers.text) || hasUnterminatedToDo(buffers.text)))
            return false;
        QByteArray insert;
        const std::optional<Edits> edits = editsFor(text, action, rawData, formatted, insert);
        if (!edits)
            return false;
        const std::vector<QByteArrayView> changed = applied(text, *edits, insert);
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
    return fold(escaped);
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
    if (toDo_URL)
        line(u"URL;VALUE=URI", u":", escapeOrEmpty(toDo_URL), Escaped);
    line(u"SEQUENCE", u":", sequenceText(toDo_Sequence));
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
        // A date with a time part is no DATE value; keep it under the plain name. The
        // value is judged as it will stand in the file, on one line.
        QString due;
        appendOnOneLine(due, *toDo_DueDate);
        if (isEightDigitDate(due))
            line(u"DUE;VALUE=DATE", u":", *toDo_DueDate);
        else
            line(u"DUE", u":", *toDo_DueDate);
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

bool QL_ToDo::writeToCalendar(const QString& path, int action) const {
    bool written = false;
    try {
        written = rewriteCalendar(path, action, toDo_RawData, vToDoFormatted());
    } catch (...) {
        written = false; // nothing may escape to the menu or the editor
    }
    if (!written)
        reportFailedWrite();
    platform::Workspace::sharedWorkspace().noteFileSystemChanged(path);
    return written;
}
