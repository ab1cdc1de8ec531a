#include "common/TestEnv.h"

#include "menuextra/store/QL_ToDo.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QTest>

using Text = QL_ToDo::Text;

namespace {

// Fixes the clock at a local wall-clock time of the current test time zone.
void setLocalNow(QDate day, QTime time) {
    platform::Clock::setFixedNow(QDateTime(day, time, Qt::LocalTime));
}

QL_ToDo dueOn(const QString& due) {
    QL_ToDo toDo;
    toDo.setDueDate(due);
    return toDo;
}

} // namespace

class TestToDo : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        platform::Clock::setFixedNow(std::nullopt);
        testenv::setTimeZone("Europe/Berlin");
    }

    void plainRecordHasNothing() {
        const QL_ToDo toDo;
        QVERIFY(!toDo.theRawData() && !toDo.theSummary() && !toDo.theUID() &&
                !toDo.theDateStamp() && !toDo.theCreationDate() && !toDo.theCreationDateHeader() &&
                !toDo.theSequence() && !toDo.theCalendarID() && !toDo.theCalendarName() &&
                !toDo.theCalendarColor() && !toDo.theDescription() && !toDo.theURL() &&
                !toDo.theStatus() && !toDo.thePriority() && !toDo.theCompletedDate() &&
                !toDo.theDueDate() && !toDo.theVAlarm());
        QVERIFY(!toDo.isComplete());
        QVERIFY(!toDo.isExpired());
        QCOMPARE(toDo.daysComplete(), -1);
        QCOMPARE(toDo.daysDue(), -999999);
        QVERIFY(!toDo.theDueDateAsDate() && !toDo.theCreationDateAsDate() &&
                !toDo.theCompletedDateAsDate());
    }

    void designatedInitialiserUnescapesOnlyTheSummary() {
        const QL_ToDo toDo(QStringLiteral("u\\,1"), QStringLiteral("a\\,b"),
                           QStringLiteral("20070110T120000Z"), QStringLiteral("20070110"),
                           QStringLiteral("DTSTART;VALUE=DATE"), 2.0, QStringLiteral("cal"),
                           QStringLiteral("Home"), QColor(Qt::red), std::nullopt);
        QCOMPARE(toDo.theSummary(), Text(QStringLiteral("a,b")));
        QCOMPARE(toDo.theUID(), Text(QStringLiteral("u\\,1")));
        QCOMPARE(toDo.theCreationDateHeader(), Text(QStringLiteral("DTSTART;VALUE=DATE")));
        QCOMPARE(toDo.theSequence(), std::optional<double>(2.0));
        QCOMPARE(toDo.theCalendarColor(), std::optional<QColor>(QColor(Qt::red)));
        QVERIFY(!toDo.theRawData());
        QVERIFY(!toDo.theDescription() && !toDo.theURL() && !toDo.theStatus() &&
                !toDo.thePriority() && !toDo.theCompletedDate() && !toDo.theDueDate() &&
                !toDo.theVAlarm());
    }

    void settersUnescapeTextsAndClear() {
        QL_ToDo toDo;
        toDo.setSummary(QStringLiteral("a\\,b"));
        toDo.setDescription(QStringLiteral("one\\ntwo"));
        toDo.setURL(QStringLiteral("http://x/a\\;b"));
        QCOMPARE(toDo.theSummary(), Text(QStringLiteral("a,b")));
        QCOMPARE(toDo.theDescription(), Text(QStringLiteral("one\rtwo")));
        // A URI has no escapes: its backslash is its own.
        QCOMPARE(toDo.theURL(), Text(QStringLiteral("http://x/a\\;b")));
        toDo.setSummary(std::nullopt);
        toDo.setStatus(QStringLiteral("COMPLETED"));
        toDo.setStatus(std::nullopt);
        QVERIFY(!toDo.theSummary());
        QVERIFY(!toDo.theStatus());
    }

    void unescaping_data() {
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<QString>("plain");
        QTest::newRow("comma") << "Buy milk\\, eggs"
                               << "Buy milk, eggs";
        QTest::newRow("line break") << "line one\\nline two"
                                    << "line one\rline two";
        QTest::newRow("upper-case N") << "a\\Nb"
                                      << "a\rb";
        QTest::newRow("semicolon") << "a\\;b"
                                   << "a;b";
        QTest::newRow("backslash") << "C:\\\\dir"
                                   << "C:\\dir";
        // A literal backslash followed by n must not turn into a line break.
        QTest::newRow("escaped backslash before n") << "a\\\\nb"
                                                    << "a\\nb";
        QTest::newRow("escaped backslash, then line break") << "\\\\\\n"
                                                            << "\\\r";
        QTest::newRow("unknown escape kept") << "a\\tb\\:"
                                             << "a\\tb\\:";
        QTest::newRow("trailing backslash") << "abc\\"
                                            << "abc\\";
        QTest::newRow("no escapes") << "plain ✓"
                                    << "plain ✓";
        QTest::newRow("empty") << ""
                               << "";
    }

    void unescaping() {
        QFETCH(QString, escaped);
        QFETCH(QString, plain);
        QCOMPARE(QL_ToDo::convertFromEscapedString(escaped), Text(plain));
        QVERIFY(!QL_ToDo::convertFromEscapedString(std::nullopt));
    }

    void copyIsIndependentAndNotUnescapedTwice() {
        QL_ToDo original(QStringLiteral("u1"), QStringLiteral("x\\\\n"), QStringLiteral("stamp"),
                         QStringLiteral("20070110"), QStringLiteral("DTSTART"), 4.0,
                         QStringLiteral("cal"), QStringLiteral("Home"), QColor(Qt::blue),
                         QStringLiteral("BEGIN:VTODO\r\nEND:VTODO"));
        original.setDescription(QStringLiteral("d\\\\n"));
        original.setURL(QStringLiteral("u\\\\n"));
        original.setStatus(QStringLiteral("IN-PROCESS"));
        original.setPriority(3);
        original.setCompletedDate(QStringLiteral("20070111T000000Z"));
        original.setDueDate(QStringLiteral("20070112"));
        original.setVAlarm(QStringLiteral("BEGIN:VALARM\r\nEND:VALARM"));

        const std::shared_ptr<QL_ToDo> copy = original.copyToDo();
        QVERIFY(copy);
        QCOMPARE(copy->theSummary(), Text(QStringLiteral("x\\n")));
        QCOMPARE(copy->theDescription(), Text(QStringLiteral("d\\n")));
        QCOMPARE(copy->theURL(), Text(QStringLiteral("u\\\\n")));
        QCOMPARE(copy->description(), original.description());
        QCOMPARE(copy->theRawData(), original.theRawData());
        QCOMPARE(copy->theVAlarm(), original.theVAlarm());
        QCOMPARE(copy->theCalendarColor(), original.theCalendarColor());

        copy->setStatus(std::nullopt);
        copy->setCompletedDate(std::nullopt);
        QCOMPARE(original.theStatus(), Text(QStringLiteral("IN-PROCESS")));
        QVERIFY(original.isComplete());
    }

    void descriptionFormat() {
        QL_ToDo toDo(QStringLiteral("abc-1"), QStringLiteral("Call"), QStringLiteral("S"),
                     std::nullopt, std::nullopt, 2.0, QStringLiteral("cal"), QStringLiteral("Home"),
                     std::nullopt, std::nullopt);
        toDo.setPriority(1);
        QCOMPARE(toDo.description(),
                 QStringLiteral("\r\rCalendar: Home\rUID: abc-1\rSummary: Call\rDate Stamp: "
                                "S\rCreation Date: (null)\rCreation Date Header: (null)\rSequence: "
                                "2\rCalendar ID: cal\rStatus: (null)\rCompleted: "
                                "(null)\rDescription: (null)\rURL: (null)\rPriority: 1\rDue "
                                "Date:(null)\r"));
    }

    void dateViews_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QDate>("day");
        QTest::newRow("date") << "20070115" << QDate(2007, 1, 15);
        QTest::newRow("date-time") << "20070110T000000Z" << QDate(2007, 1, 10);
        QTest::newRow("leap day") << "20080229" << QDate(2008, 2, 29);
        QTest::newRow("too short") << "2007011" << QDate();
        QTest::newRow("not digits") << "2007-01-15" << QDate();
        QTest::newRow("no such day") << "20070230" << QDate();
        QTest::newRow("month 13") << "20071301" << QDate();
        QTest::newRow("signs") << "+2007011" << QDate();
        QTest::newRow("empty") << "" << QDate();
    }

    void dateViews() {
        QFETCH(QString, stored);
        QFETCH(QDate, day);
        QL_ToDo toDo;
        toDo.setDueDate(stored);
        toDo.setCreationDate(stored);
        toDo.setCompletedDate(stored);
        for (const std::optional<QDateTime>& date :
             {toDo.theDueDateAsDate(), toDo.theCreationDateAsDate(),
              toDo.theCompletedDateAsDate()}) {
            if (!day.isValid()) {
                QVERIFY(!date);
                continue;
            }
            QVERIFY(date);
            QCOMPARE(*date, QDateTime(day, QTime(0, 0), Qt::LocalTime));
        }
        if (!day.isValid()) {
            // Unreadable dates count as absent for the derived facts.
            QVERIFY(!toDo.isExpired());
            QCOMPARE(toDo.daysDue(), -999999);
            QCOMPARE(toDo.daysComplete(), -1);
            QVERIFY(toDo.isComplete());
        }
    }

    void expiresAtTheStartOfTheDueDay() {
        const QL_ToDo toDo = dueOn(QStringLiteral("20070115"));
        setLocalNow(QDate(2007, 1, 14), QTime(23, 59, 59));
        QVERIFY(!toDo.isExpired());
        QCOMPARE(toDo.daysDue(), 1);
        setLocalNow(QDate(2007, 1, 15), QTime(0, 0));
        QVERIFY(toDo.isExpired());
        QCOMPARE(toDo.daysDue(), -1);
        setLocalNow(QDate(2007, 1, 15), QTime(23, 59, 59));
        QCOMPARE(toDo.daysDue(), -1);

        QL_ToDo done = dueOn(QStringLiteral("20070101"));
        done.setCompletedDate(QStringLiteral("20070102T000000Z"));
        QVERIFY(!done.isExpired());
    }

    void daysDue_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("due");
        QTest::addColumn<int>("days");
        const QDate jan15(2007, 1, 15);
        QTest::newRow("today") << QByteArray("Europe/Berlin") << jan15 << "20070115" << -1;
        QTest::newRow("tomorrow") << QByteArray("Europe/Berlin") << jan15 << "20070116" << 1;
        QTest::newRow("yesterday") << QByteArray("Europe/Berlin") << jan15 << "20070114" << -2;
        QTest::newRow("in two days") << QByteArray("Europe/Berlin") << jan15 << "20070117" << 2;
        QTest::newRow("in a week") << QByteArray("Europe/Berlin") << jan15 << "20070122" << 7;
        QTest::newRow("a year ago") << QByteArray("Europe/Berlin") << jan15 << "20060115" << -366;
        QTest::newRow("local time part ignored")
            << QByteArray("Europe/Berlin") << jan15 << "20070116T235959" << 1;
        // A UTC time is an instant: 23:59:59 UTC is already the next day in Berlin.
        QTest::newRow("UTC time, the local day of its instant")
            << QByteArray("Europe/Berlin") << jan15 << "20070116T235959Z" << 2;
        QTest::newRow("UTC time west of UTC")
            << QByteArray("America/Chicago") << jan15 << "20070117T035959Z" << 1;
        // Clock changes: 11 or 13 hours lie between the due day's start and noon.
        QTest::newRow("spring forward, today")
            << QByteArray("Europe/Berlin") << QDate(2007, 3, 25) << "20070325" << 0;
        QTest::newRow("spring forward, tomorrow")
            << QByteArray("Europe/Berlin") << QDate(2007, 3, 25) << "20070326" << 1;
        QTest::newRow("fall back, today")
            << QByteArray("Europe/Berlin") << QDate(2007, 10, 28) << "20071028" << -1;
        QTest::newRow("fall back, yesterday")
            << QByteArray("Europe/Berlin") << QDate(2007, 10, 28) << "20071027" << -2;
        QTest::newRow("new york spring forward")
            << QByteArray("America/New_York") << QDate(2007, 3, 11) << "20070311" << 0;
        QTest::newRow("far future saturates") << QByteArray("UTC") << jan15 << "99991231" << 24855;
        QTest::newRow("far past saturates") << QByteArray("UTC") << jan15 << "00010101" << -24855;
    }

    void daysDue() {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, today);
        QFETCH(QString, due);
        QFETCH(int, days);
        testenv::setTimeZone(zone);
        setLocalNow(today, QTime(9, 30));
        QCOMPARE(dueOn(due).daysDue(), days);
    }

    void daysComplete_data() {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<int>("days");
        QTest::newRow("same day") << QDate(2007, 1, 10) << 0;
        QTest::newRow("next day") << QDate(2007, 1, 11) << 0;
        QTest::newRow("two days on") << QDate(2007, 1, 12) << 1;
        QTest::newRow("three days on") << QDate(2007, 1, 13) << 2;
        QTest::newRow("completed in the future") << QDate(2007, 1, 1) << 0;
        QTest::newRow("after a clock change") << QDate(2007, 4, 10) << 89;
    }

    void daysComplete() {
        QFETCH(QDate, today);
        QFETCH(int, days);
        QL_ToDo toDo;
        toDo.setCompletedDate(QStringLiteral("20070110T000000Z"));
        setLocalNow(today, QTime(0, 0, 1));
        QCOMPARE(toDo.daysComplete(), days);
        setLocalNow(today, QTime(23, 59));
        QCOMPARE(toDo.daysComplete(), days);
    }
};

QUILLO_TEST_MAIN_CORE(TestToDo)
#include "tst_todo.moc"
