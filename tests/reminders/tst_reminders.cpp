// Reminders: the instant of a to-do's first alarm, table-driven; and the menu extra's
// reminders end to end against a notification server of the test's own on a bus of the
// test's own (no server is started by the bus): when they arrive on the clock, what
// "Complete" writes to the file, snoozing, what never reminds, and a missing server.
#include "common/TestEnv.h"
#include "editor/EditorTestSupport.h"
#include "reminders/TestNotificationServer.h"

#include "menuextra/QLMenuExtra.h"
#include "menuextra/reminders/QL_Reminders.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/Clock.h"
#include "platform/DateStyles.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QTest>
#include <QTimeZone>

#include <limits>

using namespace editortest;

namespace {

const QTimeZone berlin("Europe/Berlin");

QDateTime at(int day, int hour, int minute, int second = 0) {
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second), berlin);
}

// The alarm of a to-do made of these lines, as "yyyy-MM-dd HH:mm:ss" in UTC, or "none".
QString alarmOf(const QStringList& lines) {
    std::vector<std::shared_ptr<QL_ToDo>> toDos;
    ql::appendToDos(ql::normalizeLineEndings(vtodo(QStringList{"UID:a-1"} + lines)), {}, toDos);
    if (toDos.size() != 1)
        return QStringLiteral("unread");
    const std::optional<QDateTime> instant = ql::alarmInstant(*toDos.front());
    return instant ? instant->toUTC().toString(u"yyyy-MM-dd HH:mm:ss") : QStringLiteral("none");
}

QStringList alarm(const QString& trigger, const QStringList& more = {}) {
    return QStringList{"BEGIN:VALARM", "ACTION:DISPLAY", trigger} + more +
           QStringList{"END:VALARM"};
}

QString withAlarm(const QString& uid, const QString& summary, const QStringList& lines,
                  const QString& trigger) {
    return vtodo(QStringList{"UID:" + uid, "DTSTAMP:20261101T100000Z", "SUMMARY:" + summary} +
                 lines + alarm(trigger));
}

int countOf(const QStringList& lines, const QString& part) {
    int n = 0;
    for (const QString& line : lines)
        n += line.contains(part) ? 1 : 0;
    return n;
}

constexpr qint64 notADuration = std::numeric_limits<qint64>::min();

const QString failureLine = QStringLiteral("Quillo :: reminders :: a reminder could not be shown");

} // namespace

class TestReminders : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(linkPane());
        QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(false);
    }

    void cleanup() {
        platform::Clock::setFixedNow(std::nullopt);
        QL_Preferences::sharedPreferences().setShowReminders(false);
    }

    void durations_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds");
        const struct {
            const char* text;
            qint64 seconds;
        } rows[] = {
            {"-PT15M", -900},        {"PT0S", 0},
            {"-P1D", -86400},        {"-P1W", -604800},
            {"-P1DT2H", -93600},     {"+PT1H30M", 5400},
            {"P1DT2H3M4S", 93784},   {" -pt5m ", -300},
            {"PT", notADuration},    {"P", notADuration},
            {"P1DT", notADuration},  {"-15M", notADuration},
            {"P1W2D", notADuration}, {"PT1D", notADuration},
            {"P1H", notADuration},   {"PT5M1H", notADuration},
            {"P1D1D", notADuration}, {"PT1234567890S", notADuration},
            {"P-1D", notADuration},  {"PT15", notADuration},
            {"", notADuration},
        };
        for (const auto& row : rows)
            QTest::newRow(row.text) << QString::fromLatin1(row.text) << row.seconds;
    }

    void durations() {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        QCOMPARE(ql::durationSeconds(text).value_or(notADuration), seconds);
    }

    // Times in the table are UTC; the test runs in Europe/Berlin (UTC+1 in December).
    void alarmInstants_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("expected");
        const QString due = "DUE;TZID=Europe/Berlin:20261215T100000";
        const QString start = "DTSTART;TZID=Europe/Berlin:20261214T080000";
        auto row = [](const char* name, const QStringList& lines, const char* expected) {
            QTest::newRow(name) << lines << QString::fromLatin1(expected);
        };
        row("before due", QStringList{due} + alarm("TRIGGER:-PT15M"), "2026-12-15 08:45:00");
        row("RELATED=END is due", QStringList{start, due} + alarm("TRIGGER;RELATED=END:-PT15M"),
            "2026-12-15 08:45:00");
        row("RELATED=START is start", QStringList{start, due} + alarm("TRIGGER;RELATED=START:-P1D"),
            "2026-12-13 07:00:00");
        row("no RELATED with a start is start", QStringList{start, due} + alarm("TRIGGER:PT0S"),
            "2026-12-14 07:00:00");
        row("a week before", QStringList{due} + alarm("TRIGGER:-P1W"), "2026-12-08 09:00:00");
        row("a day and two hours", QStringList{due} + alarm("TRIGGER:-P1DT2H"),
            "2026-12-14 07:00:00");
        row("after due", QStringList{due} + alarm("TRIGGER;VALUE=DURATION:PT1H"),
            "2026-12-15 10:00:00");
        row("absolute UTC", QStringList{due} + alarm("TRIGGER;VALUE=DATE-TIME:20261210T063000Z"),
            "2026-12-10 06:30:00");
        row("absolute without a due", alarm("TRIGGER;VALUE=DATE-TIME:20261210T063000Z"),
            "2026-12-10 06:30:00");
        row("due in UTC", QStringList{"DUE:20261215T100000Z"} + alarm("TRIGGER:-PT10M"),
            "2026-12-15 09:50:00");
        row("floating due is local", QStringList{"DUE:20261215T100000"} + alarm("TRIGGER:PT0S"),
            "2026-12-15 09:00:00");
        row("due in another zone",
            QStringList{"DUE;TZID=America/New_York:20261215T100000"} + alarm("TRIGGER:PT0S"),
            "2026-12-15 15:00:00");
        row("a skipped hour moves on",
            QStringList{"DUE;TZID=Europe/Berlin:20270328T023000"} + alarm("TRIGGER:PT0S"),
            "2027-03-28 01:30:00");
        row("a skipped local hour moves on",
            QStringList{"DUE:20270328T023000"} + alarm("TRIGGER:PT0S"), "2027-03-28 01:30:00");
        row("unknown zone is local",
            QStringList{"DUE;TZID=Nowhere/Atlantis:20261215T100000"} + alarm("TRIGGER:PT0S"),
            "2026-12-15 09:00:00");
        row("date-only due: start of the local day",
            QStringList{"DUE;VALUE=DATE:20261215"} + alarm("TRIGGER:-PT1H"), "2026-12-14 22:00:00");
        row("folded trigger",
            QStringList{due} + QStringList{"BEGIN:VALARM", "TRIGGER:-P", " T15M", "END:VALARM"},
            "2026-12-15 08:45:00");
        row("second alarm ignored",
            QStringList{due} + alarm("TRIGGER:-PT15M") + alarm("TRIGGER:-P1D"),
            "2026-12-15 08:45:00");
        row("first alarm unreadable, second ignored",
            QStringList{due} + alarm("TRIGGER:soon") + alarm("TRIGGER:-P1D"), "none");
        row("a block inside the alarm is not its trigger",
            QStringList{due} + QStringList{"BEGIN:VALARM", "BEGIN:X-INNER", "TRIGGER:-P1D",
                                           "END:X-INNER", "TRIGGER:-PT1M", "END:VALARM"},
            "2026-12-15 08:59:00");
        row("no alarm", QStringList{due}, "none");
        row("alarm without a trigger",
            QStringList{due} + QStringList{"BEGIN:VALARM", "ACTION:DISPLAY", "END:VALARM"}, "none");
        row("relative without a due", alarm("TRIGGER:-PT15M"), "none");
        row("RELATED=START without a start",
            QStringList{due} + alarm("TRIGGER;RELATED=START:-PT15M"), "none");
        row("unknown RELATED", QStringList{due} + alarm("TRIGGER;RELATED=MIDDLE:-PT15M"), "none");
        row("unknown VALUE", QStringList{due} + alarm("TRIGGER;VALUE=TEXT:-PT15M"), "none");
        row("absolute date only", QStringList{due} + alarm("TRIGGER;VALUE=DATE-TIME:20261210"),
            "none");
        row("absolute not a date", QStringList{due} + alarm("TRIGGER;VALUE=DATE-TIME:tomorrow"),
            "none");
        row("malformed duration", QStringList{due} + alarm("TRIGGER:-PT15"), "none");
        row("unreadable due", QStringList{"DUE:sometime"} + alarm("TRIGGER:-PT15M"), "none");
        row("completed",
            QStringList{due, "STATUS:COMPLETED", "COMPLETED:20261201T000000Z"} +
                alarm("TRIGGER:-PT15M"),
            "none");
        row("completed by status alone",
            QStringList{due, "STATUS:COMPLETED"} + alarm("TRIGGER:-PT15M"), "none");
        row("cancelled", QStringList{due, "STATUS:CANCELLED"} + alarm("TRIGGER:-PT15M"), "none");
        row("in process still reminds",
            QStringList{due, "STATUS:IN-PROCESS"} + alarm("TRIGGER:-PT15M"), "2026-12-15 08:45:00");
    }

    void alarmInstants() {
        QFETCH(QStringList, lines);
        QFETCH(QString, expected);
        QCOMPARE(alarmOf(lines), expected);
    }

    // The menu extra's reminders from start to end of one session of the server.
    void remindersEndToEnd() {
        TestNotificationServer server;
        QVERIFY(server.start());
        const QString home = QStringLiteral("home");
        const QString dueAt10 = "DUE;TZID=Europe/Berlin:20261208T100000";
        QVERIFY(
            writeStore({{home,
                         "Home",
                         {withAlarm("t-1", "Water plants", {dueAt10}, "TRIGGER:-PT15M"),
                          withAlarm("t-2", "Done already",
                                    {dueAt10, "STATUS:COMPLETED", "COMPLETED:20261201T000000Z"},
                                    "TRIGGER:-PT15M"),
                          // Came due at 08:00 while nothing ran: shown at start.
                          withAlarm("t-3", "Missed this morning", {dueAt10},
                                    "TRIGGER;VALUE=DATE-TIME:20261208T070000Z"),
                          // Came due more than a day ago: never shown.
                          withAlarm("t-4", "Missed yesterday", {dueAt10},
                                    "TRIGGER;VALUE=DATE-TIME:20261207T080000Z"),
                          withAlarm("t-5", "Take out bins",
                                    {"DUE;TZID=Europe/Berlin:20261208T120000", "RRULE:FREQ=WEEKLY"},
                                    "TRIGGER:-PT1H")}},
                        {"hidden",
                         "Hidden",
                         {withAlarm("h-1", "Hidden one", {dueAt10}, "TRIGGER:-PT15M")},
                         plainType,
                         {},
                         true},
                        {"feed",
                         "Feed",
                         {withAlarm("f-1", "Feed one", {dueAt10}, "TRIGGER:-PT15M")},
                         subscribedType}}));

        QLMenuExtra extra;
        platform::Clock::setRunningNow(at(8, 9, 44, 58));

        // Off by default: nothing armed, nothing asked of the bus.
        extra.refreshMenu();
        QVERIFY(!extra.reminders());
        QTest::qWait(200);
        QCOMPARE(server.calls(), 0);

        // On: the one missed this morning at once, then the next on the clock.
        QL_Preferences::sharedPreferences().setShowReminders(true);
        extra.refreshMenu();
        QVERIFY(extra.reminders());
        QTRY_COMPARE(server.shown().size(), 1);
        QCOMPARE(server.shown().at(0).summary, QStringLiteral("Missed this morning"));
        const std::optional<QDateTime> next = extra.reminders()->nextReminder();
        QVERIFY(next);
        QCOMPARE(next->toMSecsSinceEpoch(), at(8, 9, 45).toMSecsSinceEpoch());

        QTRY_COMPARE_WITH_TIMEOUT(server.shown().size(), 2, 5000);
        const TestNotificationServer::Shown first = server.shown().at(1);
        QCOMPARE(first.summary, QStringLiteral("Water plants"));
        QVERIFY(first.when >= at(8, 9, 45));
        QVERIFY(first.when < at(8, 9, 45, 30)); // by its own timer, not a later rebuild
        QCOMPARE(first.appName, QL_LocalizedString("PRODUCT_NAME"));
        QCOMPARE(first.body,
                 QL_LocalizedString("DUE_DATE_TOOLTIP") + ": " +
                     platform::stringFromDate(at(8, 10, 0), platform::NSDateFormatterLongStyle) +
                     " " + QLocale::system().toString(QTime(10, 0), QLocale::ShortFormat));
        QCOMPARE(first.actions, (QStringList{"complete", QL_LocalizedString("COMPLETE_TO_DO"),
                                             "snooze", QL_LocalizedString("REMINDER_SNOOZE")}));
        QCOMPARE(first.expireTimeout, 0);
        QCOMPARE(first.hints.value("desktop-entry"), QVariant("quillo"));
        // Each is shown once, whatever the rebuilds.
        extra.refreshMenu();
        extra.refreshMenu();
        QTest::qWait(300);
        QCOMPARE(server.shown().size(), 2);

        // Snoozed: back ten minutes later on the clock, not before.
        server.invoke(first.id, "snooze");
        // Until then the series' alarm at 11:00 was the next.
        QTRY_VERIFY(extra.reminders()->nextReminder().value_or(at(9, 0, 0)) < at(8, 10, 0));
        const QDateTime snoozedUntil = *extra.reminders()->nextReminder();
        QVERIFY(snoozedUntil >= at(8, 9, 55));
        QVERIFY(snoozedUntil < at(8, 9, 55, 30));
        QTest::qWait(300);
        QCOMPARE(server.shown().size(), 2);
        platform::Clock::setRunningNow(snoozedUntil.addSecs(-1));
        extra.refreshMenu();
        QTRY_COMPARE_WITH_TIMEOUT(server.shown().size(), 3, 5000);
        const TestNotificationServer::Shown again = server.shown().at(2);
        QCOMPARE(again.summary, QStringLiteral("Water plants"));
        QVERIFY(again.when >= snoozedUntil);

        // "Complete" completes it in the file, as the menu's toggle does.
        const QByteArray before = fileBytes(dataPath(home));
        platform::Clock::setFixedNow(at(8, 9, 56));
        server.invoke(again.id, "complete");
        QTRY_VERIFY(fileBytes(dataPath(home)) != before);
        const std::shared_ptr<QL_ToDo> done = readToDo(home, "Home", "t-1");
        QVERIFY(done);
        QCOMPARE(done->theStatus(), std::optional<QString>("COMPLETED"));
        QCOMPARE(done->theCompletedDate(), std::optional<QString>("20261208T000000Z"));
        QString expected = QString::fromUtf8(before);
        // Only the to-do's stamps and its status change; every other byte stays.
        expected.replace(
            "UID:t-1\r\nDTSTAMP:20261101T100000Z\r\nSUMMARY:Water plants\r\n",
            "UID:t-1\r\nDTSTAMP:20261208T085600Z\r\nLAST-MODIFIED:20261208T085600Z\r\n"
            "STATUS:COMPLETED\r\nCOMPLETED:20261208T000000Z\r\nSUMMARY:Water plants\r\n");
        QCOMPARE(QString::fromUtf8(fileBytes(dataPath(home))), expected);

        // The series' reminder at 11:00: "Complete" moves it on a week, and the next
        // occurrence's alarm is armed.
        platform::Clock::setRunningNow(at(8, 10, 59, 59));
        extra.refreshMenu();
        QTRY_COMPARE_WITH_TIMEOUT(server.shown().size(), 4, 5000);
        QCOMPARE(server.shown().at(3).summary, QStringLiteral("Take out bins"));
        platform::Clock::setFixedNow(at(8, 11, 0, 30));
        server.invoke(server.shown().at(3).id, "complete");
        QTRY_COMPARE(readToDo(home, "Home", "t-5")->theDueDate(),
                     std::optional<QString>("20261215T120000"));
        QVERIFY(!readToDo(home, "Home", "t-5")->theCompletedDate());
        extra.refreshMenu();
        QCOMPARE(extra.reminders()->nextReminder(), std::optional(at(15, 11, 0)));

        // The reminder still on screen is taken back once its to-do is done elsewhere;
        // those answered were closed by the server already.
        QByteArray bytes = fileBytes(dataPath(home));
        QVERIFY(bytes.contains("SUMMARY:Missed this morning\r\n"));
        bytes.replace("SUMMARY:Missed this morning\r\n",
                      "SUMMARY:Missed this morning\r\nSTATUS:COMPLETED\r\n"
                      "COMPLETED:20261208T000000Z\r\n");
        QFile file(dataPath(home));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();
        QVERIFY(server.closed().isEmpty());
        extra.refreshMenu();
        QTRY_COMPARE(server.closed(), (QList<quint32>{server.shown().at(0).id}));

        // Nothing else was shown: not the completed one, the hidden calendar's, the
        // subscription's, nor the one missed more than a day ago.
        QStringList summaries;
        for (const TestNotificationServer::Shown& s : server.shown())
            summaries << s.summary;
        QCOMPARE(summaries, (QStringList{"Missed this morning", "Water plants", "Water plants",
                                         "Take out bins"}));

        // Off again: nothing armed.
        QL_Preferences::sharedPreferences().setShowReminders(false);
        extra.refreshMenu();
        QVERIFY(!extra.reminders()->nextReminder());
    }

    // Without a server, or with one that answers with an error, a reminder is not
    // shown and one line says so, however many alarms come due.
    void serverMissingOrFailing() {
        testenv::LogRecorder log;
        QVERIFY(writeStore(
            {{"home",
              "Home",
              {withAlarm("n-1", "First", {}, "TRIGGER;VALUE=DATE-TIME:20261208T080000Z"),
               withAlarm("n-2", "Second", {}, "TRIGGER;VALUE=DATE-TIME:20261208T080100Z")}}}));
        QL_Preferences::sharedPreferences().setShowReminders(true);
        platform::Clock::setRunningNow(at(8, 9, 30));
        {
            QLMenuExtra extra;
            extra.refreshMenu();
            QTRY_COMPARE(countOf(log.lines(), failureLine), 1);
            QTest::qWait(300);
            QCOMPARE(countOf(log.lines(), failureLine), 1);
            QCOMPARE(countOf(log.lines(), "ServiceUnknown"), 1);
        }

        TestNotificationServer server;
        server.setFailing(true);
        QVERIFY(server.start());
        log.clear();
        {
            QLMenuExtra extra;
            extra.refreshMenu();
            QTRY_COMPARE(server.calls(), 2);
            QTRY_COMPARE(countOf(log.lines(), failureLine), 1);
            QTest::qWait(300);
            QCOMPARE(countOf(log.lines(), failureLine), 1);
            QCOMPARE(countOf(log.lines(), TestNotificationServer::refusal), 1);
            QVERIFY(server.shown().isEmpty());
        }
    }
};

QUILLO_TEST_MAIN(TestReminders)

#include "tst_reminders.moc"
