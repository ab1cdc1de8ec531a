// The writer: VTODO text, escaping and folding, the file actions, what survives a
// rewrite, and how a failed write is reported.
#include "WriterTestSupport.h"
#include "common/TestEnv.h"
#include "common/WorkedExample.h"

#include "menuextra/store/QL_ToDo.h"
#include "platform/Alert.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace writertest;

namespace {

const QString failedLine =
    QStringLiteral("Quillo :: writeToCalendar :: Calendar Failed to be Written");

const QStringList workedExampleWritten = {
    "BEGIN:VTODO",
    "PRIORITY:1",
    "DTSTART;VALUE=DATE:20070110",
    "SUMMARY:Call the garage\\, then the bank",
    "UID:abc-1",
    "SEQUENCE:2",
    "DTSTAMP:20070110T120000Z",
    "STATUS:NEEDS-ACTION",
    "DUE;VALUE=DATE:20070115",
    "BEGIN:VALARM",
    "ACTION:DISPLAY",
    "TRIGGER:-PT15M",
    "DESCRIPTION:Reminder",
    "END:VALARM",
    "END:VTODO",
};

// A to-do with much that the record does not show.
const QStringList richLines = {
    "BEGIN:VTODO",
    "CREATED:20070101T100000Z",
    "LAST-MODIFIED:20070105T100000Z",
    "DTSTAMP:20070110T120000Z",
    "UID:rich-1",
    "SEQUENCE:3",
    "SUMMARY:Water the plants",
    "CATEGORIES:Home,Garden",
    "CLASS:PRIVATE",
    "RRULE:FREQ=WEEKLY;BYDAY=SA",
    "DUE;TZID=Europe/Berlin:20070115T180000",
    "X-ORVANE-NOTE:a custom field that is long enough to be folded by the program th",
    " at wrote it",
    "ATTENDEE;CN=\"Kim Park\";ROLE=REQ-PARTICIPANT:mailto:kim@example.org",
    "x-lower-case:kept as written",
    "BEGIN:VALARM",
    "ACTION:DISPLAY",
    "TRIGGER:-PT15M",
    "DESCRIPTION:First",
    "END:VALARM",
    "BEGIN:VALARM",
    "ACTION:AUDIO",
    "TRIGGER;VALUE=DATE-TIME:20070115T170000Z",
    "X-ALARM-ID:second",
    "END:VALARM",
    "END:VTODO",
};

QString calendarAround(const QStringList& components) {
    QStringList lines = {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Orvane//Test//EN"};
    for (const QString& c : components)
        lines.append(c);
    lines.append("END:VCALENDAR");
    return crlfLines(lines) + QStringLiteral("\r\n");
}

} // namespace

class TestWriter : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    QList<platform::Alert> m_alerts;
    QStringList m_notifications;

    std::shared_ptr<QL_ToDo> readSingle(const QString& text) {
        const ToDos toDos = readToDos(text);
        return toDos.size() == 1 ? toDos.front() : nullptr;
    }

    static QList<platform::Workspace::Call> noted(const QString& path) {
        return {{QStringLiteral("noteFileSystemChanged"), {path}}};
    }

    enum SaveKind { SavedByRename, SavedInPlace, SavedIntoDisplaced };

    void settle() {
        // A post also comes back over the bus; let any duplicate arrive before counting.
        QTest::qWait(50);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath("corestorage.ics");
        // The texts come from the pane the build lays out.
        const QString panes = testenv::dataHome() + "/PreferencePanes";
        QVERIFY(QDir().mkpath(panes));
        QVERIFY(QFile::link(QStringLiteral(QUILLO_BUILD_DIR) + "/Quillo.prefPane",
                            panes + "/Quillo.prefPane"));
        platform::setAlertResponder([this](const platform::Alert& alert) {
            m_alerts.append(alert);
            return platform::AlertFirstButton;
        });
        platform::DistributedNotificationCenter::defaultCenter().addObserver(
            this, QStringLiteral("Quillo_Failed_Write"),
            [this](const QString& name, const QString& object) {
                m_notifications.append(name + " " + object);
            });
        platform::Workspace::sharedWorkspace().setRecordsCalls(true);
        platform::Clock::setFixedNow(QDateTime(QDate(2007, 1, 12), QTime(9, 30)));
    }

    void cleanupTestCase() {
        platform::setAlertResponder({});
        platform::setBeforeReplaceHook({});
        platform::DistributedNotificationCenter::defaultCenter().removeObserver(this);
        platform::Workspace::sharedWorkspace().setRecordsCalls(false);
    }

    void init() {
        m_alerts.clear();
        m_notifications.clear();
        platform::Workspace::sharedWorkspace().clearRecordedCalls();
        QFile::remove(m_path);
    }

    void workedExampleIsWrittenAsBefore() {
        const std::shared_ptr<QL_ToDo> toDo = readSingle(crlfLines(workedExampleLines));
        QVERIFY(toDo);
        QCOMPARE(toDo->vToDoFormatted(), crlfLines(workedExampleWritten));

        // In place: a write is a new revision, and nothing else changes; the file keeps
        // its LF line ends, the new line too.
        const QByteArray before = fileBytes(QUILLO_TEST_DATA "/writer/worked_example_lf.ics");
        QVERIFY(!before.contains('\r'));
        QVERIFY(putFile(m_path, before));
        const ToDos read = readToDosOfFile(m_path);
        QCOMPARE(read.size(), std::size_t(2));
        QVERIFY(read.front()->writeToCalendar(m_path, QLWriteActionReplace));
        QCOMPARE(fileBytes(m_path),
                 fileBytes(QUILLO_TEST_DATA "/writer/worked_example_written.ics"));
        QVERIFY(m_alerts.isEmpty());
        QCOMPARE(platform::Workspace::sharedWorkspace().recordedCalls(), noted(m_path));
    }

    void newToDoHasTheSixLines() {
        QL_ToDo toDo(QStringLiteral("new-1"), QStringLiteral("Buy milk"),
                     QStringLiteral("20070110T120000Z"), std::nullopt, std::nullopt, 0.0,
                     QStringLiteral("cal"), QStringLiteral("Cal"), std::nullopt, std::nullopt);
        QCOMPARE(toDo.vToDoFormatted(),
                 crlfLines({"BEGIN:VTODO", "SUMMARY:Buy milk", "UID:new-1", "SEQUENCE:0",
                            "DTSTAMP:20070110T120000Z", "END:VTODO"}));

        // Absent values still give valid lines.
        const QStringList lines = QL_ToDo().vToDoFormatted().split("\r\n");
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines.at(1), QStringLiteral("SUMMARY:"));
        QVERIFY2(QRegularExpression("^UID:[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")
                     .match(lines.at(2))
                     .hasMatch(),
                 qPrintable(lines.at(2)));
        QCOMPARE(lines.at(3), QStringLiteral("SEQUENCE:0"));
        QCOMPARE(lines.at(4), QStringLiteral("DTSTAMP:20070112T083000Z")); // 09:30 in Berlin
    }

    void valueForms_data() {
        QTest::addColumn<QString>("due");
        QTest::addColumn<double>("sequence");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("date") << "20070115" << 2.0
                              << QStringList{"SEQUENCE:2", "DUE;VALUE=DATE:20070115"};
        QTest::newRow("date and time")
            << "20070115T120000Z" << 2.5 << QStringList{"SEQUENCE:2.5", "DUE:20070115T120000Z"};
    }

    void valueForms() {
        QFETCH(QString, due);
        QFETCH(double, sequence);
        QFETCH(QStringList, expected);
        QL_ToDo toDo;
        toDo.setDueDate(due);
        toDo.setSequence(sequence);
        const QStringList lines = toDo.vToDoFormatted().split("\r\n");
        for (const QString& line : expected)
            QVERIFY2(lines.contains(line), qPrintable(lines.join(" | ")));
    }

    void escapingAndFolding_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString x72(72, 'x');
        const QString y73(73, 'y');
        QTest::newRow("escapes") << "a;b,c\\d"
                                 << "a\\;b\\,c\\\\d";
        QTest::newRow("backslash n stays two characters") << "a\\nb"
                                                          << "a\\\\nb";
        QTest::newRow("CR") << "a\rb"
                            << "a\\nb";
        QTest::newRow("LF") << "a\nb"
                            << "a\\nb";
        QTest::newRow("CR LF is one break") << "a\r\nb\r\rc"
                                            << "a\\nb\\n\\nc";
        QTest::newRow("72 not folded") << x72 << x72;
        QTest::newRow("73 folded after 60") << y73 << y73.left(60) + "\r\n " + y73.mid(60);
        QTest::newRow("130 gives 60, 69, 1")
            << QString(130, 'z') << QString(60, 'z') + "\r\n " + QString(69, 'z') + "\r\n " + "z";
        QTest::newRow("escapes count toward the length")
            << QString(40, ',')
            << QString("\\,").repeated(30) + "\r\n " + QString("\\,").repeated(10);
        const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
        QTest::newRow("surrogate pair at the fold")
            << QString(59, 'a') + smile + QString(20, 'b')
            << QString(59, 'a') + "\r\n " + smile + QString(20, 'b');
    }

    void escapingAndFolding() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(QL_ToDo::convertToEscapedString(text), std::optional(expected));
        // What the writer folds, the reader joins and unescapes back.
        QL_ToDo written;
        written.setUID(QStringLiteral("u"));
        written.setDescription(escapedForSetter(text));
        const std::shared_ptr<QL_ToDo> back = readSingle(written.vToDoFormatted());
        QVERIFY(back);
        QString lineBreaksAsRead = text;
        lineBreaksAsRead.replace("\r\n", "\r").replace('\n', '\r');
        QCOMPARE(back->theDescription(), std::optional(lineBreaksAsRead));
    }

    void nullEscapesToNull() {
        QCOMPARE(QL_ToDo::convertToEscapedString(std::nullopt), std::nullopt);
    }

    void fileActions_data() {
        QTest::addColumn<QString>("readFrom");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("after");
        const QString a = crlfLines({"BEGIN:VTODO", "UID:a", "SUMMARY:A", "END:VTODO"});
        const QString b = crlfLines({"BEGIN:VTODO", "UID:b", "SUMMARY:B", "END:VTODO"});
        // Completed in place: the new lines follow the UID, in the order of a new to-do.
        const QString aDone = crlfLines({"BEGIN:VTODO", "UID:a", "DTSTAMP:20070112T083000Z",
                                         "LAST-MODIFIED:20070112T083000Z", "STATUS:COMPLETED",
                                         "COMPLETED:20070112T000000Z", "SUMMARY:A", "END:VTODO"});
        const QString aLowerDone = crlfLines(
            {"begin:vtodo", "uid:a", "DTSTAMP:20070112T083000Z", "LAST-MODIFIED:20070112T083000Z",
             "STATUS:COMPLETED", "COMPLETED:20070112T000000Z", "summary:a", "end:vtodo"});
        // A new to-do as new to-dos are written, stamped as a revision.
        const QString aWritten =
            crlfLines({"BEGIN:VTODO", "SUMMARY:A", "UID:a", "SEQUENCE:0",
                       "DTSTAMP:20070112T083000Z", "LAST-MODIFIED:20070112T083000Z",
                       "STATUS:COMPLETED", "COMPLETED:20070112T000000Z", "END:VTODO"});
        auto row = [](const char* name, const QString& before, int action, const QString& after) {
            QTest::newRow(name) << before << before << action << after;
        };
        row("replace both copies", calendarAround({a, b, a}), QLWriteActionReplace,
            calendarAround({aDone, b, aDone}));
        QTest::newRow("replace ignores letter case")
            << calendarAround({a}) << calendarAround({a.toLower()}) << int(QLWriteActionReplace)
            << calendarAround({aLowerDone});
        // Beyond ASCII: Ä and ä fold alike, and the Kelvin sign (three bytes) folds to k;
        // Ö is another letter, so that copy is not the to-do.
        auto noted = [](const QString& to_do, const QString& note) {
            return QString(to_do).replace(QStringLiteral("END:VTODO"),
                                          QStringLiteral("X-NOTE:") + note + "\r\nEND:VTODO");
        };
        QTest::newRow("replace ignores letter case beyond ASCII")
            << calendarAround({noted(a, u"Ärger k"_qs)})
            << calendarAround({noted(a, u"Örger k"_qs), noted(a, u"äRGER \u212A"_qs)})
            << int(QLWriteActionReplace)
            << calendarAround({noted(a, u"Örger k"_qs), noted(aDone, u"äRGER \u212A"_qs)});
        row("remove takes its line break", calendarAround({b, a, b}), QLWriteActionRemove,
            calendarAround({b, b}));
        row("remove both copies", calendarAround({a, b, a}), QLWriteActionRemove,
            calendarAround({b}));
        row("add before the last line", calendarAround({b}), QLWriteActionAdd,
            calendarAround({b, aWritten}));
        row("add without final line break", calendarAround({b}).chopped(2), QLWriteActionAdd,
            calendarAround({b, aWritten}).chopped(2));
        // Notes that mention the calendar's end stay whole.
        const QString note = crlfLines({"BEGIN:VTODO", "UID:b", "DESCRIPTION:see", " END:VCALENDAR",
                                        "X-NOTE:first\\nEND:VCALENDAR\\nlast", "END:VTODO"});
        row("add skips mentions", calendarAround({note}), QLWriteActionAdd,
            calendarAround({note, aWritten}));
    }

    void fileActions() {
        QFETCH(QString, readFrom);
        QFETCH(QString, file);
        QFETCH(int, action);
        QFETCH(QString, after);
        QVERIFY(putFile(m_path, file.toUtf8()));
        const ToDos read = readToDos(readFrom);
        auto a = std::find_if(read.begin(), read.end(),
                              [](const auto& t) { return t->theUID() == QStringLiteral("a"); });
        std::shared_ptr<QL_ToDo> toDo =
            a != read.end()
                ? *a
                : std::make_shared<QL_ToDo>(QStringLiteral("a"), QStringLiteral("A"), std::nullopt,
                                            std::nullopt, std::nullopt, 0.0, std::nullopt,
                                            std::nullopt, std::nullopt, std::nullopt);
        toDo->setStatus(QStringLiteral("COMPLETED"));
        toDo->setCompletedDate(QStringLiteral("20070112T000000Z"));
        QVERIFY(toDo->writeToCalendar(m_path, action));
        QCOMPARE(QString::fromUtf8(fileBytes(m_path)), after);
        QVERIFY(m_alerts.isEmpty());
    }

    void unknownPropertiesSurvive() {
        const QString component = crlfLines(richLines);
        QVERIFY(putFile(m_path, calendarAround({component}).toUtf8()));
        std::shared_ptr<QL_ToDo> toDo = readToDosOfFile(m_path).at(0);
        QStringList fieldsBefore = fieldsOf(*toDo);

        // Completed...
        toDo->setStatus(QStringLiteral("COMPLETED"));
        toDo->setCompletedDate(QStringLiteral("20070112T000000Z"));
        QVERIFY(toDo->writeToCalendar(m_path, QLWriteActionReplace));
        toDo = readToDosOfFile(m_path).at(0);
        QCOMPARE(toDo->theStatus(), std::optional<QString>("COMPLETED"));

        // ...and reopened: everything it had is there again, where it was, but for the
        // revision stamps.
        toDo->setStatus(std::nullopt);
        toDo->setCompletedDate(std::nullopt);
        QVERIFY(toDo->writeToCalendar(m_path, QLWriteActionReplace));
        QStringList expected = richLines;
        expected[2] = "LAST-MODIFIED:20070112T083000Z";
        expected[3] = "DTSTAMP:20070112T083000Z";
        QCOMPARE(QString::fromUtf8(fileBytes(m_path)), calendarAround({crlfLines(expected)}));
        const ToDos back = readToDosOfFile(m_path);
        QCOMPARE(back.size(), std::size_t(1));
        QStringList fieldsAfter = fieldsOf(*back.front());
        QCOMPARE(fieldsAfter.takeAt(2), QStringLiteral("stamp '20070112T083000Z'"));
        fieldsBefore.removeAt(2);
        QCOMPARE(fieldsAfter, fieldsBefore);
    }

    void ownedLines_data() {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QString zoned = "DUE;TZID=Europe/Berlin:20070115T180000";
        QTest::newRow("zoned due kept while the record has none")
            << QStringList{zoned} << "none" << QStringList{zoned} << QStringList{};
        QTest::newRow("zoned due gives way to a new due date")
            << QStringList{zoned} << "due" << QStringList{"DUE;VALUE=DATE:20070120"}
            << QStringList{zoned};
        QTest::newRow("property names ignore letter case")
            << QStringList{zoned.toLower()} << "due" << QStringList{"DUE;VALUE=DATE:20070120"}
            << QStringList{zoned.toLower()};
        QTest::newRow("zoned completion goes on reopening")
            << QStringList{"STATUS:COMPLETED", "COMPLETED;TZID=Europe/Berlin:20070111T100000"}
            << "reopen" << QStringList{}
            << QStringList{"STATUS:COMPLETED", "COMPLETED;TZID=Europe/Berlin:20070111T100000"};
        QTest::newRow("a line that is no property stays")
            << QStringList{"NO COLON HERE", ":NO NAME"} << "none"
            << QStringList{"NO COLON HERE", ":NO NAME"} << QStringList{};
        const QStringList block = {"BEGIN:X-BLOCK", "UID:inner", "STATUS:inner", "END:X-BLOCK"};
        QTest::newRow("a nested block travels whole") << block << "none" << block << QStringList{};
        QTest::newRow("record lines in any letter case are the record's")
            << QStringList{"uid:o-1", "Summary:S", "status:NEEDS-ACTION"} << "none"
            << QStringList{"UID:o-1", "SUMMARY:S", "STATUS:NEEDS-ACTION"}
            << QStringList{"uid:o-1", "Summary:S", "status:NEEDS-ACTION"};
        QTest::newRow("white space before a name")
            << QStringList{QStringLiteral("\u00a0\vSTATUS:NEEDS-ACTION")} << "none"
            << QStringList{"STATUS:NEEDS-ACTION"}
            << QStringList{QStringLiteral("\u00a0\vSTATUS:NEEDS-ACTION")};
        QTest::newRow("a cleared link goes")
            << QStringList{"URL:http://example.org/"} << "unlink" << QStringList{}
            << QStringList{"URL:http://example.org/"};
    }

    void ownedLines() {
        QFETCH(QStringList, extra);
        QFETCH(QString, change);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const std::shared_ptr<QL_ToDo> toDo = readSingle(crlfLines(
            QStringList{"BEGIN:VTODO", "UID:o-1", "SUMMARY:S"} + extra + QStringList{"END:VTODO"}));
        QVERIFY(toDo);
        if (change == "due") {
            toDo->setDueDate(QStringLiteral("20070120"));
        } else if (change == "reopen") {
            toDo->setStatus(std::nullopt);
            toDo->setCompletedDate(std::nullopt);
        } else if (change == "unlink") {
            toDo->setURL(std::nullopt);
        }
        const QStringList lines = toDo->vToDoFormatted().split("\r\n");
        for (const QString& line : present)
            QVERIFY2(lines.count(line) == 1, qPrintable(lines.join(" | ")));
        for (const QString& line : absent)
            QVERIFY2(!lines.contains(line), qPrintable(lines.join(" | ")));
    }

    void failures_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("folder in place of the file") << "folder";
        if (::geteuid() != 0)
            QTest::newRow("unreadable file") << "unreadable";
        QTest::newRow("not UTF-8") << "latin1";
        QTest::newRow("read-only folder") << "readonly";
        QTest::newRow("to-do changed since it was read") << "changed";
        QTest::newRow("replace without raw text") << "noraw";
        QTest::newRow("add without a calendar end") << "noend";
        QTest::newRow("unknown action") << "action";
        QTest::newRow("file changed before every replace") << "racing";
        QTest::newRow("calendar cut short by an in-place save") << "halfwritten";
        QTest::newRow("calendar without its first line") << "nobegin";
        QTest::newRow("FIFO in place of the file") << "fifo";
        QTest::newRow("sparse 64 GiB file") << "sparse";
    }

    void failures() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("corestorage.ics");
        const QString text = calendarAround({crlfLines(workedExampleLines)});
        QVERIFY(putFile(path, text.toUtf8()));
        std::shared_ptr<QL_ToDo> toDo = readToDos(text).at(0);
        toDo->setStatus(QStringLiteral("COMPLETED"));
        int action = QLWriteActionReplace;
        int hookCalls = 0;

        if (kind == "missing") {
            QFile::remove(path);
        } else if (kind == "folder") {
            QFile::remove(path);
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "unreadable") {
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        } else if (kind == "latin1") {
            QVERIFY(putFile(path, text.toLatin1() + "SUMMARY:Caf\xe9\r\n"));
        } else if (kind == "readonly") {
            if (::geteuid() == 0) {
                if (!testenv::setImmutable(dir.path(), true))
                    QSKIP("the file system cannot make a folder unwritable for the superuser");
            } else {
                QVERIFY(QFile::setPermissions(dir.path(),
                                              QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            }
        } else if (kind == "changed") {
            QString edited = text;
            edited.replace("SEQUENCE:2", "SEQUENCE:3");
            QVERIFY(putFile(path, edited.toUtf8()));
        } else if (kind == "noraw") {
            toDo->setRawData(std::nullopt);
        } else if (kind == "noend") {
            QVERIFY(putFile(path, text.toUtf8().replace("END:VCALENDAR", "END:VCAL")));
            action = QLWriteActionAdd;
        } else if (kind == "action") {
            action = 2;
        } else if (kind == "halfwritten") {
            // Caught halfway through a save: whole lines, but the end is missing.
            QStringList many;
            for (int i = 0; i < 200; ++i)
                many.append(
                    QString(crlfLines(workedExampleLines)).replace("abc-1", QString::number(i)));
            const QString full = calendarAround(many);
            const QString half = full.left(full.indexOf("UID:102"));
            QVERIFY(putFile(path, half.toUtf8()));
            toDo = readToDos(half).at(5);
            toDo->setStatus(QStringLiteral("COMPLETED"));
        } else if (kind == "nobegin") {
            QVERIFY(putFile(path, text.mid(text.indexOf("VERSION")).toUtf8()));
        } else if (kind == "fifo") {
            QFile::remove(path);
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        } else if (kind == "sparse") {
            QCOMPARE(::truncate(QFile::encodeName(path).constData(), qint64(64) << 30), 0);
        } else if (kind == "racing") {
            // The calendar application saves again and again, each time a new version.
            platform::setBeforeReplaceHook([&](const QString& p) {
                ++hookCalls;
                QVERIFY(putFile(p, text.toUtf8() + QByteArray(hookCalls, '\n')));
            });
        }
        const QByteArray before =
            kind == "fifo" || kind == "sparse" ? QByteArray() : fileBytes(path);
        testenv::LogRecorder log;

        const bool written = toDo->writeToCalendar(path, action);

        platform::setBeforeReplaceHook({});
        if (kind == "readonly") {
            if (::geteuid() == 0)
                QVERIFY(testenv::setImmutable(dir.path(), false));
            else
                QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner |
                                                              QFileDevice::WriteOwner |
                                                              QFileDevice::ExeOwner));
        }
        settle();
        QVERIFY(!written);
        QCOMPARE(log.lines().count(failedLine), 1);
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(int(m_alerts.at(0).style), int(platform::AlertStyle::Critical));
        QCOMPARE(m_alerts.at(0).title, QL_LocalizedString("WRITE_FAILED_TITLE"));
        QCOMPARE(m_alerts.at(0).message, QL_LocalizedString("WRITE_FAILED_TEXT"));
        QCOMPARE(m_alerts.at(0).buttons, QStringList{QL_LocalizedString("OK_BUTTON")});
        QVERIFY(!m_alerts.at(0).title.isEmpty());
        QCOMPARE(m_notifications, QStringList{"Quillo_Failed_Write com.orvane.quillo"});
        QCOMPARE(platform::Workspace::sharedWorkspace().recordedCalls(), noted(path));
        if (kind == "racing") {
            QCOMPARE(hookCalls, 3);
            QCOMPARE(fileBytes(path), text.toUtf8() + "\n\n\n"); // their last save, untouched
        } else if (kind == "sparse") {
            QCOMPARE(QFileInfo(path).size(), qint64(64) << 30);
        } else if (kind != "missing" && kind != "folder" && kind != "fifo") {
            QCOMPARE(fileBytes(path), before);
        }
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                .size(),
            kind == "missing" ? 0 : 1); // no temporary file left
    }

    void lowerCaseToDoKeepsItsIdentity() {
        const QStringList component = {"BEGIN:VTODO", "uid:lc-1", "Summary:Feed the cat",
                                       "dtstamp:20070110T120000Z", "END:VTODO"};
        QVERIFY(putFile(m_path, calendarAround({crlfLines(component)}).toUtf8()));
        const std::shared_ptr<QL_ToDo> toDo = readToDosOfFile(m_path).at(0);
        toDo->setStatus(QStringLiteral("COMPLETED"));
        QVERIFY(toDo->writeToCalendar(m_path, QLWriteActionReplace));
        // The lines keep their letter case; the new status follows the stamps.
        const QStringList expected = {"BEGIN:VTODO",
                                      "uid:lc-1",
                                      "Summary:Feed the cat",
                                      "dtstamp:20070112T083000Z",
                                      "LAST-MODIFIED:20070112T083000Z",
                                      "STATUS:COMPLETED",
                                      "END:VTODO"};
        QCOMPARE(QString::fromUtf8(fileBytes(m_path)), calendarAround({crlfLines(expected)}));
    }

    // Lines that continue another line stay with it, whatever it is; a rewrite keeps
    // every block once, and writing the result again changes nothing.
    void continuationLinesStayWithTheirLine_data() {
        QTest::addColumn<QStringList>("component");
        QTest::newRow("continued alarm begin line")
            << QStringList{"BEGIN:VTODO",   "UID:c-1",       "SUMMARY:S",  "BEGIN:VALARM",
                           " X-NOTE",       "TRIGGER:-PT5M", "END:VALARM", "BEGIN:VALARM",
                           "TRIGGER:-PT1H", "END:VALARM",    "END:VTODO"};
        QTest::newRow("continuation after the begin line") << QStringList{
            "BEGIN:VTODO", " stray", "UID:c-1", "SUMMARY:S", "DUE;VALUE=DATE:20070115",
            "END:VTODO"};
        QTest::newRow("continuation after a nested block's end")
            << QStringList{"BEGIN:VTODO", "UID:c-1", "SUMMARY:S",           "BEGIN:X-B", "A:1",
                           "END:X-B",     " tail",   "STATUS:NEEDS-ACTION", "END:VTODO"};
    }

    void continuationLinesStayWithTheirLine() {
        QFETCH(QStringList, component);
        const QStringList withStamp = component.mid(0, component.size() - 1) +
                                      QStringList{"DTSTAMP:20070110T120000Z", "END:VTODO"};
        QVERIFY(putFile(m_path, calendarAround({crlfLines(withStamp)}).toUtf8()));
        const QByteArray original = fileBytes(m_path);
        const std::shared_ptr<QL_ToDo> toDo = readToDosOfFile(m_path).at(0);
        QVERIFY(toDo->writeToCalendar(m_path, QLWriteActionReplace));
        const QByteArray once = fileBytes(m_path);
        // Every line stays where it was; only the revision stamps are new.
        QStringList written = component.mid(0, component.size() - 1);
        written << "DTSTAMP:20070112T083000Z"
                << "LAST-MODIFIED:20070112T083000Z"
                << "END:VTODO";
        QCOMPARE(QString::fromUtf8(once), calendarAround({crlfLines(written)}));
        // The record read back is the record written, and writing it again is a no-op.
        const std::shared_ptr<QL_ToDo> back = readToDosOfFile(m_path).at(0);
        QStringList fieldsBack = fieldsOf(*back);
        QStringList fieldsRead = fieldsOf(*toDo);
        fieldsBack.removeAt(2); // the stamp
        fieldsRead.removeAt(2);
        QCOMPARE(fieldsBack, fieldsRead);
        QVERIFY(back->writeToCalendar(m_path, QLWriteActionReplace));
        QCOMPARE(fileBytes(m_path), once);
        QVERIFY(original != once);
    }

    // Only whole lines are the to-do: a copy of its text inside a line is something
    // else's value and stays.
    void onlyWholeLinesAreReplaced() {
        const QString component = crlfLines(workedExampleLines);
        const QString text =
            calendarAround({component, "X-COPY:" + component, component + "X-TAIL:1"});
        QVERIFY(putFile(m_path, text.toUtf8()));
        const std::shared_ptr<QL_ToDo> toDo = readToDos(text).at(0);
        QVERIFY(toDo->writeToCalendar(m_path, QLWriteActionRemove));
        QCOMPARE(QString::fromUtf8(fileBytes(m_path)),
                 calendarAround({"X-COPY:" + component, component + "X-TAIL:1"}));
    }

    // A save that lands after our check and before our replace is not overwritten: it is
    // put back and the change applied to it.
    void saveAfterTheCheckIsKept_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("saved by rename") << int(SavedByRename);
        QTest::newRow("saved in place") << int(SavedInPlace);
        // Opened just before the exchange, written just after it: into the old file.
        QTest::newRow("saved into the displaced file") << int(SavedIntoDisplaced);
    }

    void saveAfterTheCheckIsKept() {
        QFETCH(int, how);
        const QString text = calendarAround({crlfLines(workedExampleLines)});
        QVERIFY(putFile(m_path, text.toUtf8()));
        const std::shared_ptr<QL_ToDo> toDo = readToDos(text).at(0);
        toDo->setStatus(QStringLiteral("COMPLETED"));
        const QByteArray saved =
            QString(text)
                .replace("END:VCALENDAR", "BEGIN:VEVENT\r\nUID:ev-9\r\nEND:VEVENT\r\n"
                                          "END:VCALENDAR")
                .toUtf8();
        int hookCalls = 0;
        int openFile = -1;
        platform::setAfterCheckHook([&](const QString& path) {
            if (hookCalls++ > 0)
                return;
            if (how == SavedInPlace) {
                QVERIFY(putFile(path, saved));
            } else if (how == SavedByRename) {
                QVERIFY(putFile(path + ".new", saved));
                QVERIFY(::rename(QFile::encodeName(path + ".new").constData(),
                                 QFile::encodeName(path).constData()) == 0);
            } else {
                openFile = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
                QVERIFY(openFile >= 0);
            }
        });
        platform::setAfterExchangeHook([&](const QString&) {
            if (openFile < 0)
                return;
            QVERIFY(::ftruncate(openFile, 0) == 0);
            QVERIFY(platform::writeAll(openFile, saved.constData(), saved.size()));
            ::close(openFile);
            openFile = -1;
        });
        const bool written = toDo->writeToCalendar(m_path, QLWriteActionReplace);
        platform::setAfterCheckHook({});
        platform::setAfterExchangeHook({});
        QVERIFY(written);
        QCOMPARE(hookCalls, 2);
        const QString after = QString::fromUtf8(fileBytes(m_path));
        QVERIFY2(after.contains("UID:ev-9"), qPrintable(after));
        QCOMPARE(readToDos(after).at(0)->theStatus(), std::optional<QString>("COMPLETED"));
    }

    // A write killed before its rename leaves its copy; the next write of that calendar
    // removes it, and leaves alone what is not a stale copy of its own.
    void staleTemporaryCopiesGo() {
        const QString text = calendarAround({crlfLines(workedExampleLines)});
        QVERIFY(putFile(m_path, text.toUtf8()));
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted());
        const qint64 gonePid = gone.processId();
        QVERIFY(gone.waitForFinished());
        const QString prefix = platform::temporaryFilePrefix(m_path);
        const QStringList stale = {prefix + QString::number(gonePid) + "-aaaaaa",
                                   prefix + QString::number(::getpid()) + "-bbbbbb"};
        const QStringList kept = {
            prefix + "1-cccccc", m_dir.filePath("corestorage.ics.Xy12ab"),
            m_dir.filePath(".other.ics.quillo-" + QString::number(gonePid) + "-dddddd")};
        for (const QString& path : stale + kept)
            QVERIFY(putFile(path, text.toUtf8()));
        const std::shared_ptr<QL_ToDo> toDo = readToDos(text).at(0);
        QVERIFY(toDo->writeToCalendar(m_path, QLWriteActionRemove));
        for (const QString& path : stale)
            QVERIFY2(!QFile::exists(path), qPrintable(path));
        for (const QString& path : kept)
            QVERIFY2(QFile::exists(path), qPrintable(path));
        for (const QString& path : kept)
            QFile::remove(path);
    }

    void concurrentSaveIsKept() {
        const QString text = calendarAround({crlfLines(workedExampleLines)});
        QVERIFY(putFile(m_path, text.toUtf8()));
        const std::shared_ptr<QL_ToDo> toDo = readToDos(text).at(0);
        toDo->setStatus(QStringLiteral("COMPLETED"));
        // Between our read and our replace the calendar application adds an event.
        const QString event =
            crlfLines({"BEGIN:VEVENT", "UID:ev-9", "SUMMARY:Lunch", "END:VEVENT"}) + "\r\n";
        int hookCalls = 0;
        platform::setBeforeReplaceHook([&](const QString& path) {
            if (hookCalls++ == 0)
                QVERIFY(putFile(
                    path,
                    QString(text).replace("END:VCALENDAR", event + "END:VCALENDAR").toUtf8()));
        });
        const bool written = toDo->writeToCalendar(m_path, QLWriteActionReplace);
        platform::setBeforeReplaceHook({});
        QVERIFY(written);
        QCOMPARE(hookCalls, 2);
        const QString after = QString::fromUtf8(fileBytes(m_path));
        QVERIFY(after.contains(event));
        QCOMPARE(readToDos(after).at(0)->theStatus(), std::optional<QString>("COMPLETED"));
        QVERIFY(m_alerts.isEmpty());
    }

    void permissionsAndByteOrderMarkKept() {
        const QByteArray bom("\xEF\xBB\xBF");
        const QString text = calendarAround({crlfLines(workedExampleLines)});
        QVERIFY(putFile(m_path, bom + text.toUtf8()));
        const QFileDevice::Permissions mode =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(m_path, mode));
        const std::shared_ptr<QL_ToDo> toDo = readToDos(text).at(0);
        QVERIFY(toDo->writeToCalendar(m_path, QLWriteActionRemove));
        QCOMPARE(QFile::permissions(m_path) & QFileDevice::Permissions(0x7077), mode);
        QCOMPARE(fileBytes(m_path), bom + calendarAround({}).toUtf8());
    }
};

QUILLO_TEST_MAIN(TestWriter)
#include "tst_writer.moc"
