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
#include <QStringMatcher>
#include <QUuid>

#include <algorithm>
#include <cmath>
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

// One change to the calendar text: length units at "at" give way to insert.
struct Edit {
    qsizetype at;
    qsizetype length;
    QString insert;
};
using Edits = std::vector<Edit>;

bool endsLine(QStringView text, qsizetype end) {
    return end == text.size() ||
           (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ||
           (end >= 2 && text[end - 2] == u'\r' && text[end - 1] == u'\n');
}

// Every occurrence of needle as whole lines, letter case ignored, found in one pass;
// nothing when there is none. A copy standing inside a line (in a value, say) is not
// the component and is never touched.
std::optional<Edits> replacingEverywhere(QStringView text, QStringView needle,
                                         const QString& replacement) {
    if (needle.isEmpty())
        return std::nullopt;
    // A copy can only begin where a line begins, so only line starts are compared,
    // first by their first character: far quicker than a search through every
    // character of a large calendar with case folding.
    Edits edits;
    const qsizetype n = text.size();
    // ASCII letters fold by one bit; other characters go through the full folding.
    auto folded = [](QChar c) -> char16_t {
        const char16_t u = c.unicode();
        if (u < 0x80)
            return u >= u'A' && u <= u'Z' ? char16_t(u | 0x20) : u;
        return c.toCaseFolded().unicode();
    };
    const char16_t first = folded(needle.front());
    qsizetype pos = text.startsWith(QChar(0xFEFF)) ? 1 : 0;
    while (pos + needle.size() <= n) {
        if (folded(text[pos]) == first &&
            text.sliced(pos, needle.size()).compare(needle, Qt::CaseInsensitive) == 0 &&
            endsLine(text, pos + needle.size())) {
            edits.push_back({pos, needle.size(), replacement});
            pos += needle.size();
            if (needle.endsWith(crlf))
                continue;
        }
        // Line ends are CR LF throughout: the text is normalised.
        pos = ql::findCr(text, pos) + 2;
    }
    if (edits.empty())
        return std::nullopt;
    return edits;
}

// The start of the last line that is exactly "END:VCALENDAR" (letter case ignored),
// provided a line comes before it.
std::optional<qsizetype> lastCalendarEnd(QStringView text) {
    constexpr QStringView end = u"END:VCALENDAR";
    for (qsizetype at = text.lastIndexOf(end, -1, Qt::CaseInsensitive); at >= 0;
         at = at == 0 ? -1 : text.lastIndexOf(end, at - 1, Qt::CaseInsensitive)) {
        const bool startsLine = at >= 2 && text.sliced(at - 2, 2) == crlf;
        const qsizetype after = at + end.size();
        const bool endsLine = after == text.size() || text.sliced(after).startsWith(crlf);
        if (startsLine && endsLine)
            return at;
    }
    return std::nullopt;
}

std::optional<Edits> editsFor(QStringView text, int action, const QL_ToDo::Text& rawData,
                              const QString& formatted) {
    switch (action) {
    case QLWriteActionReplace:
        if (!rawData)
            return std::nullopt;
        return replacingEverywhere(text, *rawData, formatted);
    case QLWriteActionRemove: {
        if (!rawData || rawData->isEmpty())
            return std::nullopt;
        // The line break after "END:VTODO" goes with the component.
        QString withBreak = *rawData;
        withBreak.append(crlf);
        return replacingEverywhere(text, withBreak, {});
    }
    case QLWriteActionAdd: {
        const std::optional<qsizetype> end = lastCalendarEnd(text);
        if (!end)
            return std::nullopt;
        QString component = formatted;
        component.append(crlf);
        return Edits{{*end, 0, component}};
    }
    default:
        return std::nullopt;
    }
}

// The number of UTF-8 bytes of well-formed UTF-16 text (a surrogate pair gives four).
qsizetype utf8Length(QStringView text) {
    // Without branches, so that the compiler makes vector code of it: one byte, one
    // more from U+0080, one more from U+0800 except for the halves of a pair.
    const char16_t* data = text.utf16();
    const qsizetype size = text.size();
    qsizetype n = size;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = data[i];
        n += qsizetype(u >= 0x80) + qsizetype(u >= 0x800) - qsizetype(u >= 0xD800 && u <= 0xDFFF);
    }
    return n;
}

// The new file content, as pieces to write one after the other. When the line endings
// needed no change, the text is exactly the file's bytes decoded, so the untouched
// stretches are the file's own bytes, not copied and not encoded again: a large
// calendar costs little more than its copy. inserts keeps the encoded new parts.
std::vector<QByteArrayView> applied(const QString& text, bool textIsFileBytes,
                                    const QByteArray& fileBytes, const Edits& edits,
                                    std::vector<QByteArray>& inserts) {
    std::vector<QByteArrayView> pieces;
    inserts.clear();
    inserts.reserve(edits.size() + 1);
    if (textIsFileBytes) {
        const QStringView view(text);
        qsizetype pos = 0;
        qsizetype bytePos = 0;
        for (const Edit& e : edits) {
            const qsizetype kept = utf8Length(view.sliced(pos, e.at - pos));
            pieces.emplace_back(fileBytes.constData() + bytePos, kept);
            bytePos += kept + utf8Length(view.sliced(e.at, e.length));
            pos = e.at + e.length;
            inserts.push_back(e.insert.toUtf8());
            pieces.emplace_back(inserts.back());
        }
        pieces.emplace_back(fileBytes.constData() + bytePos, fileBytes.size() - bytePos);
        return pieces;
    }
    QString out;
    out.reserve(text.size() + edits.size() * edits.front().insert.size() + 16);
    qsizetype pos = 0;
    for (const Edit& e : edits) {
        out.append(QStringView(text).sliced(pos, e.at - pos));
        out.append(e.insert);
        pos = e.at + e.length;
    }
    out.append(QStringView(text).sliced(pos));
    inserts.push_back(out.toUtf8());
    pieces.emplace_back(inserts.back());
    return pieces;
}

// The file's bytes and text go into buffers kept from one write to the next, as the
// reader keeps its own: writes run on the main thread, and fresh memory for a large
// calendar on every write cost more than the work on it.
struct WriteBuffers {
    platform::FileSnapshot snapshot;
    QString contents;
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

// True when the text is a whole calendar: its first line is BEGIN:VCALENDAR and its
// last line that is not empty is END:VCALENDAR (letter case ignored). A calendar
// caught while another program saves it in place is cut short and is not.
bool isWholeCalendar(QStringView text) {
    if (text.startsWith(QChar(0xFEFF)))
        text = text.sliced(1);
    if (!ql::isLine(text.first(std::min(ql::findCr(text, 0), text.size())), u"BEGIN:VCALENDAR"))
        return false;
    qsizetype end = text.size();
    while (end > 0) {
        qsizetype start = text.lastIndexOf(crlf, end - 1);
        start = start < 0 ? 0 : start + 2;
        const QStringView line = text.sliced(start, end - start);
        if (!line.trimmed().isEmpty())
            return ql::isLine(line, u"END:VCALENDAR");
        end = start >= 2 ? start - 2 : 0;
        if (start == 0)
            break;
    }
    return false;
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
        const bool decoded = platform::decodeUtf8(snapshot.bytes, buffers.contents);
        const QString text = decoded ? ql::normalizeLineEndings(buffers.contents) : QString();
        if (!decoded || !isWholeCalendar(text)) {
            if (!changedLately(snapshot.identity))
                return false;
            continue;
        }
        if (action == QLWriteActionAdd && hasUnterminatedToDo(text))
            return false;
        const std::optional<Edits> edits = editsFor(text, action, rawData, formatted);
        if (!edits)
            return false;
        // Normalising only ever adds characters, so an equal length means no change.
        std::vector<QByteArray> inserts;
        const std::vector<QByteArrayView> changed =
            applied(text, text.size() == buffers.contents.size(), snapshot.bytes, *edits, inserts);
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
