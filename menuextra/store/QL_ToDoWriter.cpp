// Turning a to-do back into VTODO text and putting it into the calendar file.
#include "menuextra/store/QL_ToDo.h"
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

#include <cmath>
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

// The name parts the reader takes into the record (exact, as the reader compares).
bool isReadIntoRecord(QStringView namePart) {
    static const QStringList exact = {QStringLiteral("UID"),
                                      QStringLiteral("SUMMARY"),
                                      QStringLiteral("DTSTAMP"),
                                      QStringLiteral("SEQUENCE"),
                                      QStringLiteral("DESCRIPTION"),
                                      QStringLiteral("STATUS"),
                                      QStringLiteral("COMPLETED"),
                                      QStringLiteral("PRIORITY"),
                                      QStringLiteral("DUE;VALUE=DATE"),
                                      QStringLiteral("DUE"),
                                      QStringLiteral("DUE;VALUE=DATE-TIME"),
                                      QStringLiteral("URL;VALUE=URI"),
                                      QStringLiteral("URL")};
    return namePart.startsWith(u"DTSTART") || namePart.startsWith(u"COMPLETED;TZID") ||
           exact.contains(namePart);
}

// One line of a component with its continuation lines, as it stands in the text.
struct LogicalLine {
    QStringView text; // without the final CR LF
    QString unfolded() const {
        QString out = text.toString();
        for (qsizetype i = out.indexOf(crlf); i >= 0; i = out.indexOf(crlf, i))
            out.remove(i, 3);
        return out;
    }
};

std::vector<LogicalLine> logicalLines(QStringView body) {
    std::vector<LogicalLine> lines;
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf(crlf, start);
        // A line that begins with a space or tab continues the one before it.
        while (end >= 0 && end + 2 < body.size() &&
               (body[end + 2] == u' ' || body[end + 2] == u'\t'))
            end = body.indexOf(crlf, end + 2);
        if (end < 0)
            end = body.size();
        lines.push_back({body.sliced(start, end - start)});
        start = end + 2;
    }
    return lines;
}

bool startsWithKeyword(QStringView line, QStringView keyword) {
    return line.startsWith(keyword, Qt::CaseInsensitive);
}

// Appends, each ended by CR LF, the lines of the component as read that the record
// does not own: everything the record cannot show stays exactly as it stood. Lines
// and blocks are told apart as the reader tells them apart.
void appendCarriedLines(QString& out, QStringView raw, const QStringList& emittedNames) {
    const qsizetype firstBreak = raw.indexOf(crlf);
    if (firstBreak < 0)
        return;
    QStringView body = raw.sliced(firstBreak + 2);
    if (body.endsWith(u"END:VTODO", Qt::CaseInsensitive))
        body.chop(9);
    const std::vector<LogicalLine> lines = logicalLines(body);
    auto owned = [&](const LogicalLine& line) {
        const QString unfolded = line.unfolded();
        const qsizetype colon = unfolded.indexOf(u':');
        if (colon <= 0)
            return false; // not a property line
        const QStringView namePart = QStringView(unfolded).first(colon);
        return isReadIntoRecord(namePart) ||
               emittedNames.contains(propertyNameOf(namePart), Qt::CaseInsensitive);
    };
    bool alarmSkipped = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QStringView line = lines[i].text;
        if (startsWithKeyword(line, u"BEGIN:")) {
            // A nested block runs to its matching END line and travels whole, except
            // the first alarm, which the record holds and writes itself.
            std::size_t last = i;
            for (int depth = 1; last + 1 < lines.size() && depth > 0;) {
                const QStringView inner = lines[++last].text;
                if (startsWithKeyword(inner, u"BEGIN:"))
                    ++depth;
                else if (startsWithKeyword(inner, u"END:"))
                    --depth;
            }
            const bool isAlarm = line.compare(u"BEGIN:VALARM", Qt::CaseInsensitive) == 0;
            if (isAlarm && !alarmSkipped) {
                alarmSkipped = true;
            } else {
                for (std::size_t j = i; j <= last; ++j) {
                    out.append(lines[j].text);
                    out.append(crlf);
                }
            }
            i = last;
            continue;
        }
        if (owned(lines[i]))
            continue;
        out.append(line);
        out.append(crlf);
    }
}

// One change to the calendar text: length units at "at" give way to insert.
struct Edit {
    qsizetype at;
    qsizetype length;
    QString insert;
};
using Edits = std::vector<Edit>;

// Every occurrence of needle, letter case ignored, found in one pass; nothing when
// there is none.
std::optional<Edits> replacingEverywhere(QStringView text, QStringView needle,
                                         const QString& replacement) {
    if (needle.isEmpty())
        return std::nullopt;
    Edits edits;
    for (qsizetype at = text.indexOf(needle, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(needle, at + needle.size(), Qt::CaseInsensitive))
        edits.push_back({at, needle.size(), replacement});
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
    qsizetype n = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        n += u < 0x80 ? 1 : (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF)) ? 2 : 3;
    }
    return n;
}

// The new file bytes. When the line endings needed no change, the text is exactly
// the file's bytes decoded, so the untouched stretches are copied as bytes instead
// of being encoded again: a large calendar costs little more than its copy.
QByteArray applied(const QString& text, bool textIsFileBytes, const QByteArray& fileBytes,
                   const Edits& edits) {
    if (textIsFileBytes) {
        QByteArray out;
        out.reserve(fileBytes.size() + 3 * edits.size() * edits.front().insert.size() + 16);
        const QStringView view(text);
        qsizetype pos = 0;
        qsizetype bytePos = 0;
        for (const Edit& e : edits) {
            const qsizetype kept = utf8Length(view.sliced(pos, e.at - pos));
            out.append(fileBytes.constData() + bytePos, kept);
            bytePos += kept + utf8Length(view.sliced(e.at, e.length));
            pos = e.at + e.length;
            out.append(e.insert.toUtf8());
        }
        out.append(fileBytes.constData() + bytePos, fileBytes.size() - bytePos);
        return out;
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
    return out.toUtf8();
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

// Reads, changes and replaces the file; a save by someone else between our read and
// our replace makes us start again from their version.
bool rewriteCalendar(const QString& path, int action, const QL_ToDo::Text& rawData,
                     const QString& formatted) {
    for (int attempt = 0; attempt < writeAttempts; ++attempt) {
        const std::optional<platform::FileSnapshot> snapshot = platform::readFileSnapshot(path);
        if (!snapshot)
            return false;
        const std::optional<QString> contents = platform::decodeUtf8(snapshot->bytes);
        if (!contents)
            return false;
        const QString text = ql::normalizeLineEndings(*contents);
        const std::optional<Edits> edits = editsFor(text, action, rawData, formatted);
        if (!edits)
            return false;
        // Normalising only ever adds characters, so an equal length means no change.
        const QByteArray changed =
            applied(text, text.size() == contents->size(), snapshot->bytes, *edits);
        switch (platform::replaceFileAtomically(path, changed, snapshot->identity)) {
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
    QString out;
    QStringList emitted; // property names this text writes for the record
    auto line = [&](QStringView name, QStringView separator, QStringView value) {
        out.append(name);
        out.append(separator);
        out.append(value);
        out.append(crlf);
        emitted.append(propertyNameOf(name).toString());
    };
    out.append(u"BEGIN:VTODO\r\n");
    if (toDo_Priority)
        line(u"PRIORITY", u":", QString::number(*toDo_Priority));
    if (toDo_CreationDateHeader && toDo_CreationDate)
        line(*toDo_CreationDateHeader, u":", *toDo_CreationDate);
    line(u"SUMMARY", u":", escapeOrEmpty(toDo_Summary));
    line(u"UID", u":",
         toDo_UID ? *toDo_UID : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (toDo_URL)
        line(u"URL;VALUE=URI", u":", escapeOrEmpty(toDo_URL));
    line(u"SEQUENCE", u":", sequenceText(toDo_Sequence));
    line(u"DTSTAMP", u":",
         toDo_DateStamp ? *toDo_DateStamp
                        : platform::Clock::now().toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"));
    if (toDo_Status)
        line(u"STATUS", u":", *toDo_Status);
    if (toDo_CompletedDate)
        line(u"COMPLETED", u":", *toDo_CompletedDate);
    if (toDo_Description)
        line(u"DESCRIPTION", u":", escapeOrEmpty(toDo_Description));
    if (toDo_DueDate) {
        // A date with a time part is no DATE value; keep it under the plain name.
        if (isEightDigitDate(*toDo_DueDate))
            line(u"DUE;VALUE=DATE", u":", *toDo_DueDate);
        else
            line(u"DUE", u":", *toDo_DueDate);
    }
    if (toDo_VAlarm && !toDo_VAlarm->isEmpty()) {
        out.append(*toDo_VAlarm);
        out.append(crlf);
    }
    if (toDo_RawData)
        appendCarriedLines(out, *toDo_RawData, emitted);
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
