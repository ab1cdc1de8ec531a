#include "store/StoreTestSupport.h"

#include "common/WorkedExample.h"

#include "menuextra/store/QL_Calendar.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "shared/QL_Preferences.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTest>

#include <sys/stat.h>

using Text = QL_ToDo::Text;

namespace {

QString crlf(const QStringList& lines) {
    return lines.join(QStringLiteral("\r\n"));
}

// A calendar file: the lines (CR LF) inside a VCALENDAR.
QByteArray calendarFile(const QStringList& body) {
    QStringList lines{QStringLiteral("BEGIN:VCALENDAR"), QStringLiteral("VERSION:2.0")};
    lines << body << QStringLiteral("END:VCALENDAR");
    return (crlf(lines) + QStringLiteral("\r\n")).toUtf8();
}

QL_Calendar testCalendar(const std::optional<QString>& type = std::nullopt) {
    return QL_Calendar(QStringLiteral("K-T"), QStringLiteral("t"), QStringLiteral("Test"),
                       std::nullopt, type, QColor(Qt::red));
}

QString testDataPath() {
    return ql::calendarDataPath(QStringLiteral("t"));
}

// Writes bytes as the test calendar's data file and reads it.
QL_Calendar::ToDoList read(const QByteArray& bytes, bool* ok = nullptr) {
    if (!storetest::writeFile(testDataPath(), bytes))
        qFatal("cannot write the test calendar");
    QL_Calendar calendar = testCalendar();
    const bool result = calendar.parseForToDos();
    if (ok)
        *ok = result;
    return calendar.arrayOfToDos();
}

std::shared_ptr<QL_ToDo> readOne(const QStringList& toDoLines) {
    const QL_Calendar::ToDoList list = read(calendarFile(toDoLines));
    if (list.size() != 1)
        return nullptr;
    return list.front();
}

// The three replacements the stored files are defined by.
QString threeReplacements(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

} // namespace

class TestReader : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        QL_Preferences::sharedPreferences().setHideSubscribedCalendars(false);
        storetest::removeStore();
    }

    void workedExampleIsReadExactly() {
        const std::shared_ptr<QL_ToDo> toDo = readOne(workedExampleLines);
        QVERIFY(toDo);
        QCOMPARE(toDo->theUID(), Text("abc-1"));
        QCOMPARE(toDo->theDateStamp(), Text("20070110T120000Z"));
        QCOMPARE(toDo->theSummary(), Text("Call the garage, then the bank"));
        QCOMPARE(toDo->theCreationDateHeader(), Text("DTSTART;VALUE=DATE"));
        QCOMPARE(toDo->theCreationDate(), Text("20070110"));
        QCOMPARE(toDo->theSequence(), std::optional<double>(2.0));
        QCOMPARE(toDo->thePriority(), std::optional<int>(1));
        QCOMPARE(toDo->theStatus(), Text("NEEDS-ACTION"));
        QCOMPARE(toDo->theDueDate(), Text("20070115"));
        QCOMPARE(toDo->theVAlarm(), Text(crlf(workedExampleLines.mid(10, 5))));
        QVERIFY(!toDo->theDescription());
        QVERIFY(!toDo->theCompletedDate());
        QVERIFY(!toDo->theURL());
        QCOMPARE(toDo->theRawData(), Text(crlf(workedExampleLines)));
        QCOMPARE(toDo->theCalendarID(), Text("t"));
        QCOMPARE(toDo->theCalendarName(), Text("Test"));
        QCOMPARE(toDo->theCalendarColor(), std::optional<QColor>(QColor(Qt::red)));
    }

    void lineEndingsGiveTheSameRecords_data() {
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("LF") << QByteArray("\n");
        QTest::newRow("CR") << QByteArray("\r");
    }

    void lineEndingsGiveTheSameRecords() {
        QFETCH(QByteArray, ending);
        QFile sample(QStringLiteral(QUILLO_TEST_DATA
                                    "/store/sample/iCal/Sources/home.calendar/corestorage.ics"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const QByteArray original = sample.readAll();
        const QL_Calendar::ToDoList expected = read(original);
        QCOMPARE(expected.size(), size_t(2));
        QByteArray converted = original;
        converted.replace("\r\n", ending);
        const QL_Calendar::ToDoList got = read(converted);
        QCOMPARE(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i]->description(), expected[i]->description());
            QCOMPARE(got[i]->theRawData(), expected[i]->theRawData());
            QCOMPARE(got[i]->theVAlarm(), expected[i]->theVAlarm());
            QVERIFY(got[i]->theRawData()->contains(QStringLiteral("\r\n")));
        }
    }

    void normalisingEqualsTheThreeReplacements_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("crlf only") << QStringLiteral("a\r\nb\r\n");
        QTest::newRow("mixed") << QStringLiteral("a\rb\nc\r\nd");
        QTest::newRow("cr cr lf") << QStringLiteral("\r\r\n\n\r");
        QTest::newRow("lf cr") << QStringLiteral("x\n\ry\n\r\n");
        // Random texts over the three interesting characters.
        QRandomGenerator random(20070110);
        const QChar alphabet[] = {u'a', u'\r', u'\n'};
        for (int row = 0; row < 200; ++row) {
            QString text;
            const int size = random.bounded(12);
            for (int i = 0; i < size; ++i)
                text.append(alphabet[random.bounded(3)]);
            QTest::newRow(qPrintable(QStringLiteral("random %1").arg(row))) << text;
        }
    }

    void normalisingEqualsTheThreeReplacements() {
        QFETCH(QString, text);
        QCOMPARE(ql::normalizeLineEndings(text), threeReplacements(text));
    }

    void unfolding_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("summary");
        QTest::newRow("three lines")
            << QStringList{"SUMMARY:one", " two", " three"} << "onetwothree";
        // Only the first white-space character is the fold; the rest is content.
        QTest::newRow("folded before a space")
            << QStringList{"SUMMARY:folded just before a", "  space"}
            << "folded just before a space";
        QTest::newRow("tab") << QStringList{"SUMMARY:a", "\tb"} << "ab";
        QTest::newRow("name folded") << QStringList{"SUMM", " ARY:x"} << "x";
        QTest::newRow("escape across the fold") << QStringList{"SUMMARY:a\\", " ,b"} << "a,b";
        QTest::newRow("empty continuation") << QStringList{"SUMMARY:a", " ", " b"} << "ab";
    }

    void unfolding() {
        QFETCH(QStringList, lines);
        QFETCH(QString, summary);
        QStringList toDo{"BEGIN:VTODO", "UID:u"};
        toDo << lines << "DESCRIPTION:after"
             << "END:VTODO";
        const std::shared_ptr<QL_ToDo> record = readOne(toDo);
        QVERIFY(record);
        QCOMPARE(record->theSummary(), Text(summary));
        QCOMPARE(record->theDescription(), Text("after"));
        QCOMPARE(record->theRawData(), Text(crlf(toDo)));
    }

    void markersCountOnlyAsWholeLines() {
        const QStringList first{"BEGIN:VTODO",
                                "UID:one",
                                "SUMMARY:Attend:VTODO review",
                                "DESCRIPTION:text END:VTODO and BEGIN:VALARM",
                                "URL:x",
                                " END:VTODO",
                                "end:vtodo"};
        const QStringList second{"begin:vtodo", "UID:two", "END:VTODO"};
        const QL_Calendar::ToDoList list =
            read(calendarFile(QStringList{"X-NOTE:BEGIN:VTODO"} + first + second));
        QCOMPARE(list.size(), size_t(2));
        QCOMPARE(list[0]->theSummary(), Text("Attend:VTODO review"));
        QCOMPARE(list[0]->theDescription(), Text("text END:VTODO and BEGIN:VALARM"));
        QCOMPARE(list[0]->theURL(), Text("xEND:VTODO"));
        QVERIFY(!list[0]->theVAlarm());
        // The raw text is the file's own text, so the writer finds it again.
        QCOMPARE(list[0]->theRawData(), Text(crlf(first)));
        QCOMPARE(list[1]->theUID(), Text("two"));
        QCOMPARE(list[1]->theRawData(), Text(crlf(second)));
    }

    void nestedBlocksAreNotTheToDosLines() {
        const QStringList alarm{"BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:First alarm",
                                "END:VALARM"};
        QStringList lines{"BEGIN:VTODO", "UID:nested", "DESCRIPTION:Own notes"};
        lines << alarm << QStringList{"BEGIN:VALARM",        "DESCRIPTION:Second alarm",
                                      "SUMMARY:alarm title", "END:VALARM",
                                      "BEGIN:X-OTHER",       "BEGIN:X-INNER",
                                      "STATUS:inner",        "END:X-INNER",
                                      "PRIORITY:9",          "END:X-OTHER",
                                      "STATUS:IN-PROCESS",   "END:VTODO"};
        const std::shared_ptr<QL_ToDo> toDo = readOne(lines);
        QVERIFY(toDo);
        QCOMPARE(toDo->theDescription(), Text("Own notes"));
        QVERIFY(!toDo->theSummary());
        QVERIFY(!toDo->thePriority());
        QCOMPARE(toDo->theStatus(), Text("IN-PROCESS"));
        QCOMPARE(toDo->theVAlarm(), Text(crlf(alarm)));
        QCOMPARE(toDo->theRawData(), Text(crlf(lines)));
    }

    void repeatedValuesStayEachToDosOwn() {
        // Values equal to the previous to-do's may be shared; a value of the same length
        // that differs, or the same value reached by unfolding, must still be read.
        const QStringList alarmA{"BEGIN:VALARM", "TRIGGER:-PT15M", "END:VALARM"};
        const QStringList alarmB{"BEGIN:VALARM", "TRIGGER:-PT30M", "END:VALARM"};
        QStringList lines{"BEGIN:VTODO", "DESCRIPTION:Same\\, note"};
        lines << alarmA << "END:VTODO"
              << "BEGIN:VTODO"
              << "DTSTAMP:20070101T000000Z"
              << "COMPLETED:20070101T000000Z"
              << "DESCRIPTION:Same\\, note" << alarmA << "END:VTODO"
              << "BEGIN:VTODO"
              << "DTSTAMP:20070101T000000Z"
              << "COMPLETED:20070102T000000Z"
              << "DESCRIPTION:Diff\\, note" << alarmB << "END:VTODO"
              << "BEGIN:VTODO"
              << "DESCRIPTION:Same\\, n"
              << " ote" << alarmA << "END:VTODO";
        const QL_Calendar::ToDoList list = read(calendarFile(lines));
        QCOMPARE(list.size(), size_t(4));
        const QStringList descriptions{"Same, note", "Same, note", "Diff, note", "Same, note"};
        const QList<QStringList> alarms{alarmA, alarmA, alarmB, alarmA};
        for (size_t i = 0; i < list.size(); ++i) {
            QCOMPARE(list[i]->theDescription(), Text(descriptions[qsizetype(i)]));
            QCOMPARE(list[i]->theVAlarm(), Text(crlf(alarms[qsizetype(i)])));
        }
        QCOMPARE(list[1]->theCompletedDate(), Text("20070101T000000Z"));
        QCOMPARE(list[2]->theCompletedDate(), Text("20070102T000000Z"));
    }

    void unterminatedBlocksRunToTheirEnd() {
        // An alarm cut short by the end of its to-do, then a to-do cut short by the end
        // of the file: both are closed in the texts the writer will use.
        const QByteArray bytes =
            crlf({"BEGIN:VCALENDAR", "BEGIN:VTODO", "UID:a", "BEGIN:VALARM", "ACTION:DISPLAY",
                  "END:VTODO", "BEGIN:VTODO", "UID:b", "SUMMARY:last"})
                .toUtf8();
        const QL_Calendar::ToDoList list = read(bytes);
        QCOMPARE(list.size(), size_t(2));
        QCOMPARE(list[0]->theVAlarm(),
                 Text(crlf({"BEGIN:VALARM", "ACTION:DISPLAY", "END:VALARM"})));
        QCOMPARE(list[1]->theSummary(), Text("last"));
        QCOMPARE(list[1]->theRawData(),
                 Text(crlf({"BEGIN:VTODO", "UID:b", "SUMMARY:last", "END:VTODO"})));
    }

    void oddInputEndsWithoutLooping_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count");
        QTest::newRow("to-do at the very start")
            << QByteArray("BEGIN:VTODO\r\nUID:x\r\nEND:VTODO") << 1;
        QTest::newRow("only a begin line") << QByteArray("BEGIN:VTODO") << 1;
        QTest::newRow("colon lines") << QByteArray("BEGIN:VTODO\n:\n::x\nUID:y\nEND:VTODO\n") << 1;
        QTest::newRow("lines without colon")
            << QByteArray("BEGIN:VTODO\nNOCOLON\nUID:z\n\n\nEND:VTODO\n") << 1;
        QTest::newRow("white space only") << QByteArray(" \t\r\n\r\n \n") << 0;
        QTest::newRow("empty file") << QByteArray() << 0;
        QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf"
                                                       "BEGIN:VTODO\nEND:VTODO\n")
                                         << 1;
        QTest::newRow("stray end lines")
            << QByteArray("END:VTODO\nEND:VALARM\nBEGIN:VTODO\nEND:VALARM\nEND:VTODO") << 1;
    }

    void oddInputEndsWithoutLooping() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        bool ok = false;
        const QL_Calendar::ToDoList list = read(bytes, &ok);
        QVERIFY(ok);
        QCOMPARE(int(list.size()), count);
        if (bytes.contains("UID:y"))
            QCOMPARE(list[0]->theUID(), Text("y"));
        if (bytes.contains("UID:z"))
            QCOMPARE(list[0]->theUID(), Text("z"));
    }

    void propertyChoices_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("getter");
        QTest::addColumn<QString>("expected"); // "<absent>" for none
        const QString absent = QStringLiteral("<absent>");
        QTest::newRow("date due first")
            << QStringList{"DUE:20070115T120000Z", "DUE;VALUE=DATE:20070116"} << "due"
            << "20070116";
        QTest::newRow("plain due before date-time")
            << QStringList{"DUE;VALUE=DATE-TIME:20070117T000000", "DUE:20070118"} << "due"
            << "20070118";
        QTest::newRow("date-time due last")
            << QStringList{"DUE;VALUE=DATE-TIME:20070117T000000"} << "due"
            << "20070117T000000";
        QTest::newRow("due with a zone")
            << QStringList{"DUE;TZID=Europe/Berlin:20070115T090000"} << "due"
            << "20070115T090000";
        QTest::newRow("due with VALUE and a zone")
            << QStringList{"DUE;VALUE=DATE-TIME;TZID=Europe/Berlin:20160102T000000"} << "due header"
            << "DUE;VALUE=DATE-TIME;TZID=Europe/Berlin=20160102T000000";
        QTest::newRow("completed with VALUE")
            << QStringList{"COMPLETED;VALUE=DATE-TIME:20250102T101500Z"} << "completed header"
            << "COMPLETED;VALUE=DATE-TIME=20250102T101500Z";
        QTest::newRow("summary with a language")
            << QStringList{"SUMMARY;LANGUAGE=de:Steuererkl\u00e4rung"} << "summary"
            << "Steuererkl\u00e4rung";
        QTest::newRow("a quoted parameter holds colons")
            << QStringList{"SUMMARY;ALTREP=\"cid:part1@example.org\";LANGUAGE=en:Buy milk"}
            << "summary"
            << "Buy milk";
        QTest::newRow("a quote never closed quotes nothing")
            << QStringList{"SUMMARY;X-P=\"open:Buy milk"} << "summary"
            << "Buy milk";
        QTest::newRow("status with a parameter")
            << QStringList{"STATUS;X-FOO=1:IN-PROCESS"} << "status"
            << "IN-PROCESS";
        QTest::newRow("url keeps its backslashes")
            << QStringList{"URL;VALUE=URI:https://x/?q=1\\,2"} << "url"
            << "https://x/?q=1\\,2";
        QTest::newRow("later line wins") << QStringList{"STATUS:A", "STATUS:B"} << "status"
                                         << "B";
        QTest::newRow("names ignore letter case") << QStringList{"status:A"} << "status"
                                                  << "A";
        QTest::newRow("later line wins whatever its case")
            << QStringList{"STATUS:A", "Status:B"} << "status"
            << "B";
        QTest::newRow("mixed-case due date") << QStringList{"Due;Value=Date:20070116"} << "due"
                                             << "20070116";
        QTest::newRow("lower-case zoned completion")
            << QStringList{"completed;tzid=Europe/Berlin:20070111T100000"} << "completed"
            << "20070111T100000";
        QTest::newRow("lower-case start-date header")
            << QStringList{"dtstart;value=date:20070110"} << "start"
            << "dtstart;value=date=20070110";
        QTest::newRow("white space before a name")
            << QStringList{QStringLiteral("\u00a0\u3000\vURL:http://x/")} << "url"
            << "http://x/";
        QTest::newRow("only white space before the colon")
            << QStringList{QStringLiteral("\u00a0:x")} << "status" << absent;
        QTest::newRow("empty value is present") << QStringList{"STATUS:"} << "status"
                                                << "";
        QTest::newRow("value keeps its spaces") << QStringList{"STATUS: A "} << "status"
                                                << " A ";
        QTest::newRow("value keeps later colons") << QStringList{"URL:http://x:80/"} << "url"
                                                  << "http://x:80/";
        QTest::newRow("completed with a zone")
            << QStringList{"COMPLETED;TZID=Europe/Berlin:20070111T100000"} << "completed"
            << "20070111T100000";
        QTest::newRow("later completed wins whatever its parameters")
            << QStringList{"COMPLETED:20070112T000000Z", "COMPLETED;TZID=X:20070111T100000"}
            << "completed"
            << "20070111T100000";
        QTest::newRow("later url wins whatever its parameters")
            << QStringList{"URL;VALUE=URI:a\\,b", "URL:c"} << "url"
            << "c";
        QTest::newRow("priority") << QStringList{"PRIORITY:5"} << "priority"
                                  << "5";
        QTest::newRow("priority not a number") << QStringList{"PRIORITY:x"} << "priority"
                                               << "0";
        QTest::newRow("priority with sign and text") << QStringList{"PRIORITY: -3abc"} << "priority"
                                                     << "-3";
        QTest::newRow("priority overflow") << QStringList{"PRIORITY:99999999999"} << "priority"
                                           << "2147483647";
        QTest::newRow("no priority") << QStringList{} << "priority" << absent;
        QTest::newRow("no sequence") << QStringList{} << "sequence"
                                     << "0";
        QTest::newRow("fractional sequence") << QStringList{"SEQUENCE:2.5"} << "sequence"
                                             << "2.5";
        QTest::newRow("sequence not a number") << QStringList{"SEQUENCE:abc"} << "sequence"
                                               << "0";
        QTest::newRow("sequence with exponent") << QStringList{"SEQUENCE:1e2x"} << "sequence"
                                                << "100";
        QTest::newRow("sequence out of range") << QStringList{"SEQUENCE:1e999"} << "sequence"
                                               << "0";
        QTest::newRow("start-date header")
            << QStringList{"DTSTART;TZID=Europe/Berlin:20070110T090000"} << "start"
            << "DTSTART;TZID=Europe/Berlin=20070110T090000";
    }

    void propertyChoices() {
        QFETCH(QStringList, lines);
        QFETCH(QString, getter);
        QFETCH(QString, expected);
        const std::shared_ptr<QL_ToDo> toDo =
            readOne(QStringList{"BEGIN:VTODO"} + lines + QStringList{"END:VTODO"});
        QVERIFY(toDo);
        auto show = [](const Text& text) { return text.value_or(QStringLiteral("<absent>")); };
        QString got;
        if (getter == "due")
            got = show(toDo->theDueDate());
        else if (getter == "status")
            got = show(toDo->theStatus());
        else if (getter == "url")
            got = show(toDo->theURL());
        else if (getter == "completed")
            got = show(toDo->theCompletedDate());
        else if (getter == "priority")
            got = toDo->thePriority() ? QString::number(*toDo->thePriority()) : "<absent>";
        else if (getter == "sequence")
            got = toDo->theSequence() ? QString::number(*toDo->theSequence()) : "<absent>";
        else if (getter == "start")
            got = show(toDo->theCreationDateHeader()) + '=' + show(toDo->theCreationDate());
        else if (getter == "summary")
            got = show(toDo->theSummary());
        else if (getter == "due header")
            got = show(toDo->theDueDateHeader()) + '=' + show(toDo->theDueDate());
        else if (getter == "completed header")
            got = show(toDo->theCompletedDateHeader()) + '=' + show(toDo->theCompletedDate());
        QCOMPARE(got, expected);
    }

    void eventsArePassedOver() {
        bool ok = false;
        const QL_Calendar::ToDoList list =
            read(calendarFile({"BEGIN:VEVENT", "UID:e", "SUMMARY:event", "END:VEVENT"}), &ok);
        QVERIFY(ok);
        QVERIFY(list.empty());
    }

    void unreadableFilesFailAndEmptyTheList_data() {
        QTest::addColumn<QByteArray>("bytes"); // empty: no file
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not UTF-8") << QByteArray("BEGIN:VTODO\r\nSUMMARY:Caf\xe9\r\nEND:VTODO\r\n");
        QTest::newRow("truncated UTF-8") << QByteArray("BEGIN:VTODO\r\nSUMMARY:\xe2\x9c");
        QTest::newRow("FIFO") << QByteArray("fifo");
        QTest::newRow("sparse 64 GiB") << QByteArray("sparse");
    }

    void unreadableFilesFailAndEmptyTheList() {
        QFETCH(QByteArray, bytes);
        QVERIFY(storetest::writeFile(testDataPath(), calendarFile(workedExampleLines)));
        QL_Calendar calendar = testCalendar();
        QVERIFY(calendar.parseForToDos());
        QCOMPARE(calendar.arrayOfToDos().size(), size_t(1));

        if (bytes.isEmpty() || bytes == "fifo")
            QVERIFY(QFile::remove(testDataPath()));
        if (bytes == "fifo") // a reader that opened it would wait for a writer forever
            QCOMPARE(::mkfifo(QFile::encodeName(testDataPath()).constData(), 0600), 0);
        else if (bytes == "sparse") // would need 64 GiB of memory
            QCOMPARE(::truncate(QFile::encodeName(testDataPath()).constData(), qint64(64) << 30),
                     0);
        else if (!bytes.isEmpty())
            QVERIFY(storetest::writeFile(testDataPath(), bytes));
        testenv::LogRecorder log;
        QVERIFY(!calendar.parseForToDos());
        QVERIFY(calendar.arrayOfToDos().empty());
        QCOMPARE(log.lines(),
                 QStringList{"Quillo Error :: parseForToDos :: theCalendarContents is nil"});
    }

    void unsafeSourceKeyIsNeverRead() {
        // A file where "../t" would lead, if it were followed.
        QVERIFY(storetest::writeFile(storetest::storeRoot() + "/t.calendar/corestorage.ics",
                                     calendarFile(workedExampleLines)));
        for (const QString& key :
             {QStringLiteral("../t"), QStringLiteral(".."), QString(), QStringLiteral("a\0b")}) {
            QL_Calendar calendar(std::nullopt, key, QStringLiteral("Bad"), std::nullopt,
                                 std::nullopt, std::nullopt);
            testenv::LogRecorder log;
            QVERIFY(!calendar.parseForToDos());
            QVERIFY(calendar.arrayOfToDos().empty());
            QVERIFY(log.contains("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
        }
    }

    void hiddenSubscriptionsAreNotRead() {
        QVERIFY(storetest::writeFile(testDataPath(), calendarFile(workedExampleLines)));
        QL_Calendar subscribed = testCalendar(ql::subscribedCalendarType.toString());
        QL_Calendar own = testCalendar(QStringLiteral("com.apple.ical.sources.naivereadwrite"));

        QVERIFY(subscribed.parseForToDos());
        QCOMPARE(subscribed.arrayOfToDos().size(), size_t(1));

        QL_Preferences::sharedPreferences().setHideSubscribedCalendars(true);
        QVERIFY(subscribed.parseForToDos());
        QVERIFY(subscribed.arrayOfToDos().empty());
        QVERIFY(own.parseForToDos());
        QCOMPARE(own.arrayOfToDos().size(), size_t(1));
    }
};

QUILLO_TEST_MAIN_CORE(TestReader)
#include "tst_reader.moc"
