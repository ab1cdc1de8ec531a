// The menu extra's reminders against a real notification server: dunst on an X server
// of its own, on the test's private bus. The test reads what dunst shows through
// dunstctl, and chooses an action through dunst's context menu, whose menu program is
// a script that picks the line the test names.
#include "common/TestEnv.h"
#include "editor/EditorTestSupport.h"

#include "menuextra/QLMenuExtra.h"
#include "menuextra/reminders/QL_Reminders.h"
#include "platform/Clock.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace editortest;

namespace {

QDateTime at(int hour, int minute, int second = 0) {
    return QDateTime(QDate(2026, 12, 8), QTime(hour, minute, second), QTimeZone("Europe/Berlin"));
}

QString dunstctl(const QStringList& args) {
    const testenv::ProgramRun run = testenv::runProgram(QStringLiteral("dunstctl"), args);
    return run.code == 0 ? run.out.trimmed() : QStringLiteral("failed: ") + run.err;
}

int displayed() {
    bool ok = false;
    const int n = dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}).toInt(&ok);
    return ok ? n : -1;
}

// "appname | summary | body" of each notification in dunst's history, newest first.
QStringList history() {
    const QJsonDocument doc =
        QJsonDocument::fromJson(dunstctl({QStringLiteral("history")}).toUtf8());
    QStringList out;
    for (const QJsonValue& entry : doc.object().value("data").toArray().at(0).toArray()) {
        const QJsonObject n = entry.toObject();
        auto field = [&](const char* name) {
            return n.value(name).toObject().value("data").toString();
        };
        out << field("appname") + " | " + field("summary") + " | " + field("body");
    }
    return out;
}

bool serverOnBus() {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
}

} // namespace

class TestRemindersDunst : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_x;
    QProcess m_dunst;

    // The context menu's choice: the first line holding this text.
    void choose(const QString& text) {
        QFile choice(m_dir.filePath("choice"));
        QVERIFY(choice.open(QIODevice::WriteOnly | QIODevice::Truncate));
        choice.write(text.toUtf8());
        choice.close();
        QCOMPARE(dunstctl({QStringLiteral("context")}), QString());
    }

private slots:
    void initTestCase() {
        QVERIFY(linkPane());
        QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(false);
        QVERIFY(m_dir.isValid());

        // An X server of dunst's own: its windows never reach the suites that click.
        int display = 90;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) ||
               QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)))
            ++display;
        m_x.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(display), "-screen", "0",
                                           "800x600x24", "-nolisten", "tcp"});
        QVERIFY2(m_x.waitForStarted(), "Xvfb is not installed");
        QTRY_VERIFY(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)));

        const QString pick = m_dir.filePath("pick.sh");
        QFile script(pick);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ngrep -m1 -F -- \"$(cat '" + m_dir.filePath("choice").toUtf8() +
                     "')\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner));
        QFile config(m_dir.filePath("dunstrc"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[global]\n    follow = none\n    dmenu = " + pick.toUtf8() + "\n");
        config.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_dunst.setProcessEnvironment(env);
        m_dunst.start(QStringLiteral("dunst"), {"-config", config.fileName()});
        QVERIFY2(m_dunst.waitForStarted(), "dunst is not installed");
        QTRY_VERIFY_WITH_TIMEOUT(serverOnBus(), 10000);
    }

    void cleanupTestCase() {
        platform::Clock::setFixedNow(std::nullopt);
        for (QProcess* p : {&m_dunst, &m_x}) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
        }
    }

    // The reminder arrives at its instant on the clock; snoozed through dunst's menu it
    // comes back ten minutes later; "Complete" through the menu completes the to-do in
    // the file.
    void remindsSnoozesAndCompletes() {
        const QString home = QStringLiteral("home");
        QVERIFY(writeStore({{home,
                             "Home",
                             {vtodo({"UID:t-1", "DTSTAMP:20261101T100000Z", "SUMMARY:Water plants",
                                     "DUE;TZID=Europe/Berlin:20261208T100000", "BEGIN:VALARM",
                                     "ACTION:DISPLAY", "TRIGGER:-PT15M", "END:VALARM"})}}}));
        QL_Preferences::sharedPreferences().setShowReminders(true);
        platform::Clock::setRunningNow(at(9, 44, 58));
        QLMenuExtra extra;
        extra.refreshMenu();
        QCOMPARE(displayed(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(displayed(), 1, 6000);
        QVERIFY(platform::Clock::now() >= at(9, 45));

        // Snooze 10 min, by its text in the menu.
        choose(QL_LocalizedString("REMINDER_SNOOZE"));
        QTRY_VERIFY(extra.reminders()->nextReminder().value_or(at(11, 0)) < at(10, 0));
        const QDateTime snoozedUntil = *extra.reminders()->nextReminder();
        QVERIFY(snoozedUntil >= at(9, 55));
        QVERIFY(snoozedUntil < at(9, 55, 30));

        QCOMPARE(dunstctl({QStringLiteral("close-all")}), QString());
        QTRY_COMPARE(displayed(), 0);
        const QStringList shown = history();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.at(0).startsWith(QL_LocalizedString("PRODUCT_NAME") + " | Water plants | " +
                                        QL_LocalizedString("DUE_DATE_TOOLTIP") + ": "),
                 qPrintable(shown.at(0)));

        platform::Clock::setRunningNow(snoozedUntil.addSecs(-1));
        extra.refreshMenu();
        QTRY_COMPARE_WITH_TIMEOUT(displayed(), 1, 6000);
        QVERIFY(platform::Clock::now() >= snoozedUntil);

        choose(QL_LocalizedString("COMPLETE_TO_DO"));
        QTRY_VERIFY(readToDo(home, "Home", "t-1") &&
                    readToDo(home, "Home", "t-1")->theCompletedDate());
        QCOMPARE(readToDo(home, "Home", "t-1")->theStatus(), std::optional<QString>("COMPLETED"));
    }
};

QUILLO_TEST_MAIN(TestRemindersDunst)

#include "tst_reminders_dunst.moc"
