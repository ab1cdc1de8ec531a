// Fuzz target for the writer: a random calendar text and a random Replace, Remove or
// Add with random field values. Whatever the input:
// - a failed write leaves the file byte for byte as it was;
// - a successful one changes nothing outside the to-do's component(s);
// - the record read back is the record written, and writing it again changes nothing.
//
// Input: the calendar text, then fields separated by 0xFF bytes (never part of
// UTF-8): control bytes, summary, description, URL, status, due date, UID.
#include "fuzz/FuzzCheck.h"
#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoEdit.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/Clock.h"
#include "platform/TextFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace {

using ToDos = std::vector<std::shared_ptr<QL_ToDo>>;

ToDos readToDos(const QString& normalised) {
    ToDos out;
    ql::appendToDos(normalised, {QStringLiteral("key"), QStringLiteral("Title"), std::nullopt},
                    out);
    return out;
}

const QString& calendarPath() {
    static const QString path = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        const QString folder =
            base + QStringLiteral("/quillo-fuzz-writer-") + QString::number(qint64(::getpid()));
        QDir().mkpath(folder);
        return folder + QStringLiteral("/corestorage.ics");
    }();
    return path;
}

QByteArray fileBytes(const QString& path) {
    return platform::readFileBytes(path).value_or(QByteArray("<unreadable>"));
}

bool putFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// What a value written on one line reads back as: line breaks cannot stand in it.
QL_ToDo::Text oneLine(QL_ToDo::Text text) {
    if (text) {
        text->remove(QLatin1Char('\r'));
        text->remove(QLatin1Char('\n'));
    }
    return text;
}

// What an escaped value reads back as: every line break is one CR.
QL_ToDo::Text lineBreaksAsCr(QL_ToDo::Text text) {
    if (text) {
        text->replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
        text->replace(QLatin1Char('\n'), QLatin1Char('\r'));
    }
    return text;
}

QString show(const QL_ToDo::Text& v) {
    return v ? QStringLiteral("'%1'").arg(*v) : QStringLiteral("<absent>");
}

// Every field a record reads back with: texts with CR line breaks, stored values on
// one line.
QStringList fieldsOf(const QL_ToDo& t) {
    return {show(lineBreaksAsCr(t.theSummary())),
            show(oneLine(t.theUID())),
            show(oneLine(t.theDateStamp())),
            show(oneLine(t.theCreationDateHeader())) + show(oneLine(t.theCreationDate())),
            show(lineBreaksAsCr(t.theDescription())),
            show(oneLine(t.theURL())),
            show(oneLine(t.theStatus())),
            t.thePriority() ? QString::number(*t.thePriority()) : QStringLiteral("<absent>"),
            show(oneLine(t.theCompletedDate())),
            show(oneLine(t.theDueDate())),
            show(t.theVAlarm())};
}

// What a written record reads back as: stamped as a new revision, a completed date that
// changed in UTC, and, added to a calendar without the zone of its start, its start in
// UTC.
QStringList expectedFields(const QL_ToDo& written, const QL_ToDo& base, const QString& stamp,
                           bool added, const QString& calendar) {
    QStringList fields = fieldsOf(written);
    fields[2] = show(stamp);
    static const QRegularExpression tzid(QStringLiteral("(?:^|;)TZID=\"?([^\";:]+)\"?(?:;|$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch zone =
        tzid.match(written.theCreationDateHeader().value_or(QString()));
    const QString start = written.theCreationDate().value_or(QString());
    if (added && zone.hasMatch() && start.size() == 15 &&
        !calendar.contains(QStringLiteral("\r\nTZID:") + zone.captured(1) + QStringLiteral("\r\n"),
                           Qt::CaseInsensitive)) {
        QDateTime local = QDateTime::fromString(start, u"yyyyMMdd'T'HHmmss");
        const QTimeZone timeZone(zone.captured(1).toUtf8());
        if (local.isValid() && timeZone.isValid()) {
            local.setTimeZone(timeZone);
            fields[3] = show(QStringLiteral("DTSTART")) +
                        show(local.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"));
        }
    }
    const QL_ToDo::Text& completed = written.theCompletedDate();
    if (completed && completed != base.theCompletedDate())
        fields[8] = show(ql::completedInUTC(
            *oneLine(completed), written.theCompletedDateHeader().value_or(
                                     base.theCompletedDateHeader().value_or(QString()))));
    return fields;
}

// Where the whole-line copies of needle stand in text (as the writer finds them).
QList<qsizetype> wholeLineMatches(const QString& text, const QString& needle) {
    QList<qsizetype> found;
    if (needle.isEmpty())
        return found;
    for (qsizetype at = text.indexOf(needle, 0, Qt::CaseInsensitive); at >= 0;) {
        const qsizetype end = at + needle.size();
        const bool begins = at == 0 || (at == 1 && text[0] == QChar(0xFEFF)) ||
                            (at >= 2 && QStringView(text).sliced(at - 2, 2) == u"\r\n");
        const bool ends = end == text.size() || QStringView(text).sliced(end).startsWith(u"\r\n") ||
                          needle.endsWith(QStringLiteral("\r\n"));
        if (begins && ends) {
            found.append(at);
            at = text.indexOf(needle, end, Qt::CaseInsensitive);
        } else {
            at = text.indexOf(needle, at + 1, Qt::CaseInsensitive);
        }
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Failed writes are reported on the session bus; the fuzzer has none to reach.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillo-fuzz", 1);
    // A fixed clock: every write stamps the same revision, so writing twice compares.
    platform::Clock::setFixedNow(QDateTime(QDate(2007, 1, 12), QTime(9, 30), Qt::UTC));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool initialised = [] {
        LLVMFuzzerInitialize(nullptr, nullptr);
        return true;
    }();
    (void)initialised;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\xff');
    const QByteArray calendar = parts.value(0);
    const QByteArray control = parts.value(1);
    auto field = [&](int i) -> QL_ToDo::Text {
        if (i >= parts.size())
            return std::nullopt;
        return QString::fromUtf8(parts[i]);
    };
    auto controlByte = [&](int i) { return i < control.size() ? uchar(control[i]) : uchar(0); };

    const QString& path = calendarPath();
    if (!putFile(path, calendar))
        return 0;
    // A file last changed long ago: one that is not a whole calendar is refused at once
    // rather than waited for, as no save of it is under way.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    const std::optional<QString> decoded = platform::decodeUtf8(calendar);
    const QString text = decoded ? ql::normalizeLineEndings(*decoded) : QString();
    const ToDos toDos = readToDos(text);

    const int action = controlByte(0) % 3 == 0   ? QLWriteActionReplace
                       : controlByte(0) % 3 == 1 ? QLWriteActionRemove
                                                 : QLWriteActionAdd;
    std::shared_ptr<QL_ToDo> toDo;
    if (!toDos.empty())
        toDo = toDos[controlByte(1) % toDos.size()]->copyToDo();
    else
        toDo = std::make_shared<QL_ToDo>();
    const QL_ToDo base = toDo->theRawData() ? ql::recordOfComponent(*toDo->theRawData())
                                            : ql::recordOfComponent(toDo->vToDoFormatted());
    const uchar changes = controlByte(2);
    if (changes & 1)
        toDo->setSummary(field(2));
    if (changes & 2)
        toDo->setDescription(field(3));
    if (changes & 4)
        toDo->setURL(field(4));
    if (changes & 8)
        toDo->setStatus(field(5));
    if (changes & 16)
        toDo->setDueDate(field(6));
    if (changes & 32)
        toDo->setUID(field(7));
    if (changes & 64)
        toDo->setPriority(controlByte(3) - 128);
    if (changes & 128)
        toDo->setCompletedDate(field(5));
    if (!toDo->theUID())
        toDo->setUID(QStringLiteral("fuzz-uid")); // a fixed one, so writing twice compares

    const QString stamp = QStringLiteral("20070112T093000Z");
    const bool written = toDo->writeToCalendar(path, action);
    const QByteArray after = fileBytes(path);
    if (!written) {
        FUZZ_CHECK(after == calendar);
        return 0;
    }
    // Written: the file was a whole calendar in UTF-8.
    FUZZ_CHECK(decoded.has_value());
    const std::optional<QString> afterDecoded = platform::decodeUtf8(after);
    FUZZ_CHECK(afterDecoded.has_value());
    const QString now = ql::normalizeLineEndings(*afterDecoded);
    // Line ends are the file's own: a file of LF line ends gets no CR.
    if (!calendar.contains('\r'))
        FUZZ_CHECK(!after.contains('\r'));

    qsizetype componentAt = -1;
    if (action == QLWriteActionAdd) {
        const qsizetype end =
            text.lastIndexOf(QStringLiteral("END:VCALENDAR"), -1, Qt::CaseInsensitive);
        FUZZ_CHECK(end >= 0);
        FUZZ_CHECK(now.startsWith(QStringView(text).first(end)));
        FUZZ_CHECK(now.endsWith(QStringView(text).sliced(end)));
        componentAt = end;
    } else {
        FUZZ_CHECK(toDo->theRawData().has_value());
        const QString needle = action == QLWriteActionRemove
                                   ? *toDo->theRawData() + QStringLiteral("\r\n")
                                   : *toDo->theRawData();
        const QList<qsizetype> matches = wholeLineMatches(text, needle);
        FUZZ_CHECK(!matches.isEmpty());
        // Nothing before the first copy or after the last one changed.
        const qsizetype tail = text.size() - (matches.last() + needle.size());
        FUZZ_CHECK(now.startsWith(QStringView(text).first(matches.first())));
        FUZZ_CHECK(now.endsWith(QStringView(text).last(tail)));
        if (action == QLWriteActionRemove)
            FUZZ_CHECK(now.size() == text.size() - matches.size() * needle.size());
        else
            componentAt = matches.first();
    }
    if (componentAt < 0)
        return 0;

    // The record read back where the component now stands is the record written (when
    // that place is a to-do of its own, not a copy inside another)...
    const ToDos back = readToDos(now);
    const std::size_t before = readToDos(text.left(componentAt)).size();
    if (before >= back.size() ||
        !QStringView(now).sliced(componentAt).startsWith(*back[before]->theRawData()))
        return 0;
    const std::shared_ptr<QL_ToDo>& found = back[before];
    const QStringList expected =
        expectedFields(*toDo, base, stamp, action == QLWriteActionAdd, text);
    if (fieldsOf(*found) != expected)
        std::fprintf(stderr, "written: %s\nread back: %s\n",
                     qPrintable(expected.join(QStringLiteral(" | "))),
                     qPrintable(fieldsOf(*found).join(QStringLiteral(" | "))));
    if (fieldsOf(*found) != expected && getenv("QUILLO_FUZZ_DEBUG"))
        std::fwrite(after.constData(), 1, size_t(after.size()), stderr);
    FUZZ_CHECK(fieldsOf(*found) == expected);
    // ...and writing it again changes nothing.
    if (found->writeToCalendar(path, QLWriteActionReplace))
        FUZZ_CHECK(fileBytes(path) == after);
    return 0;
}
