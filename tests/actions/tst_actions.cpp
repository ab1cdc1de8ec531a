// The menu's actions with the keyboard state fixed through the GetKeys seam: what a
// choice does to the calendar file, which alert it asks, which editor it opens, and
// what the new-to-do, calendar and settings items start.
#include "common/TestEnv.h"
#include "editor/EditorTestSupport.h"

#include "menuextra/QLMenuExtra.h"
#include "platform/Alert.h"
#include "platform/Clock.h"
#include "platform/HotKeys.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimeZone>

using namespace editortest;

namespace {

const QString homeKey = QStringLiteral("home");

// The keys held, by virtual key code.
platform::KeyMap held(const QList<int>& codes) {
    platform::KeyMap keys{};
    for (int code : codes)
        platform::setKeyDown(keys, std::uint32_t(code), true);
    return keys;
}

enum Key { Command = 55, Shift = 56, Option = 58, Control = 59, RightOption = 61 };

QList<QDialog*> openEditors() {
    QList<QDialog*> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
            windows.append(dialog);
    return windows;
}

platform::NSMenuItemPtr itemTitled(QLMenuExtra& extra, const QString& title) {
    for (const platform::NSMenuItemPtr& item : extra.menu()->itemArray())
        if (item->title() == title)
            return item;
    return nullptr;
}

// What became of to-do t-1: its status and completed date, or that it is gone.
QString stateInFile() {
    const std::shared_ptr<QL_ToDo> toDo = readToDo(homeKey, "Home", "t-1");
    if (!toDo)
        return QStringLiteral("removed");
    return toDo->theStatus().value_or("-") + ' ' + toDo->theCompletedDate().value_or("-");
}

} // namespace

class TestActions : public QObject {
    Q_OBJECT

    QList<platform::Alert> m_alerts;
    platform::AlertButton m_answer = platform::AlertFirstButton;

private slots:
    void initTestCase() {
        QVERIFY(linkPane());
        // No update check over the network from a test.
        QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(false);
        platform::setAlertResponder([this](const platform::Alert& alert) {
            m_alerts.append(alert);
            return m_answer;
        });
    }

    void init() {
        platform::Clock::setFixedNow(
            QDateTime(QDate(2026, 12, 8), QTime(0, 30), QTimeZone::systemTimeZone()));
        m_alerts.clear();
        auto& workspace = platform::Workspace::sharedWorkspace();
        workspace.clearRecordedCalls();
        workspace.setRecordsCalls(true);
    }

    void cleanup() {
        platform::setGetKeysSource({});
        for (QDialog* window : openEditors())
            window->close();
        QTRY_VERIFY(openEditors().isEmpty());
        auto& preferences = QL_Preferences::sharedPreferences();
        preferences.setToggleStatusModifier(2);
        preferences.setRemoveToDoModifier(1);
        preferences.setWarnWhenRemovingItems(true);
    }

    void choosingAToDo_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("toggle");
        QTest::addColumn<int>("remove");
        QTest::addColumn<bool>("warn");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("result");
        const QStringList open{"STATUS:NEEDS-ACTION"};
        const QStringList done{"STATUS:COMPLETED", "COMPLETED:20261101T000000Z"};
        QTest::newRow("Option completes today (local date)")
            << open << 2 << 1 << true << QList<int>{Option} << 0
            << "COMPLETED 20261208T000000Z | alerts 0 | editors 0";
        QTest::newRow("Option reopens a completed one")
            << done << 2 << 1 << true << QList<int>{Option} << 0 << "- - | alerts 0 | editors 0";
        QTest::newRow("Option and Shift match neither set: editor")
            << open << 2 << 1 << true << QList<int>{Option, Shift} << 0
            << "NEEDS-ACTION - | alerts 0 | editors 1";
        QTest::newRow("the right-hand Option key does not count")
            << open << 2 << 1 << true << QList<int>{RightOption} << 0
            << "NEEDS-ACTION - | alerts 0 | editors 1";
        QTest::newRow("no keys: editor") << open << 2 << 1 << true << QList<int>{} << 0
                                         << "NEEDS-ACTION - | alerts 0 | editors 1";
        QTest::newRow("toggle switched off: Option edits")
            << open << 0 << 1 << true << QList<int>{Option} << 0
            << "NEEDS-ACTION - | alerts 0 | editors 1";
        QTest::newRow("both gestures Shift: it toggles, never removes")
            << open << 4 << 4 << true << QList<int>{Shift} << 0
            << "COMPLETED 20261208T000000Z | alerts 0 | editors 0";
        QTest::newRow("Command and Shift as the toggle")
            << open << 12 << 1 << true << QList<int>{Command, Shift} << 0
            << "COMPLETED 20261208T000000Z | alerts 0 | editors 0";
        QTest::newRow("Control removes at once without the warning")
            << open << 2 << 1 << false << QList<int>{Control} << 0
            << "removed | alerts 0 | editors 0";
        QTest::newRow("Control asks, Cancel keeps it")
            << open << 2 << 1 << true << QList<int>{Control} << 1
            << "NEEDS-ACTION - | alerts 1 | editors 0";
        QTest::newRow("Control asks, Remove removes")
            << open << 2 << 1 << true << QList<int>{Control} << 0
            << "removed | alerts 1 | editors 0";
        QTest::newRow("remove switched off: Control edits")
            << open << 2 << 0 << true << QList<int>{Control} << 0
            << "NEEDS-ACTION - | alerts 0 | editors 1";
    }

    void choosingAToDo() {
        QFETCH(QStringList, lines);
        QFETCH(int, toggle);
        QFETCH(int, remove);
        QFETCH(bool, warn);
        QFETCH(QList<int>, keys);
        QFETCH(int, answer);
        QFETCH(QString, result);
        QStringList component{"UID:t-1", "DTSTAMP:20261101T100000Z", "SUMMARY:Water plants"};
        QVERIFY(writeStore({{homeKey,
                             QStringLiteral("Home"),
                             {vtodo(component + lines),
                              vtodo({"UID:t-2", "DTSTAMP:20261101T100000Z", "SUMMARY:Other"})}}}));
        auto& preferences = QL_Preferences::sharedPreferences();
        preferences.setToggleStatusModifier(toggle);
        preferences.setRemoveToDoModifier(remove);
        preferences.setWarnWhenRemovingItems(warn);
        m_answer = platform::AlertButton(answer);

        QLMenuExtra extra;
        const platform::NSMenuItemPtr item = itemTitled(extra, "Water plants");
        QVERIFY(item);
        QCOMPARE(item->action().selector, QStringLiteral("toDoMenuItemSelected:"));
        QVERIFY(item->action().isSet());
        platform::setGetKeysSource([keys] { return held(keys); });
        item->action().call(item.get());

        const QString outcome = QStringLiteral("%1 | alerts %2 | editors %3")
                                    .arg(stateInFile())
                                    .arg(m_alerts.size())
                                    .arg(openEditors().size());
        QCOMPARE(outcome, result);
        // The other to-do is never touched.
        QVERIFY(readToDo(homeKey, "Home", "t-2"));
        if (!m_alerts.isEmpty()) {
            const platform::Alert& alert = m_alerts.at(0);
            QCOMPARE(alert.title, QL_LocalizedString("REMOVE_TO_DO_TITLE"));
            QCOMPARE(alert.message, QL_LocalizedString("REMOVE_TO_DO_TEXT"));
            QCOMPARE(alert.buttons, (QStringList{QL_LocalizedString("REMOVE_BUTTON"),
                                                 QL_LocalizedString("CANCEL_BUTTON")}));
        }
        if (result.endsWith("editors 1")) {
            auto* summary = openEditors().at(0)->findChild<QLineEdit*>("summaryField");
            QCOMPARE(summary->text(), QStringLiteral("Water plants"));
        }
    }

    // Completing a recurring to-do moves the series on (DUE and DTSTART, the excluded
    // date skipped, their parameters kept, nothing completed); a rule without a next
    // occurrence or one that is not advanced completes it as before, the latter with a
    // log line.
    void completingARecurringToDo_data() {
        QTest::addColumn<QString>("rrule");
        QTest::addColumn<QStringList>("expected"); // the changed lines, in file order
        QTest::addColumn<bool>("logged");
        QTest::newRow("weekly, one date excluded")
            << "FREQ=WEEKLY;BYDAY=MO"
            << QStringList{"DTSTART;TZID=Europe/Berlin:20270118T090000",
                           "DUE;TZID=Europe/Berlin:20270118T090000", "STATUS:NEEDS-ACTION"}
            << false;
        QTest::newRow("no next occurrence")
            << "FREQ=WEEKLY;COUNT=1"
            << QStringList{"DTSTART;TZID=Europe/Berlin:20270104T090000",
                           "DUE;TZID=Europe/Berlin:20270104T090000", "STATUS:COMPLETED"}
            << false;
        QTest::newRow("rule not advanced")
            << "FREQ=MONTHLY;BYDAY=MO;BYSETPOS=1"
            << QStringList{"DTSTART;TZID=Europe/Berlin:20270104T090000",
                           "DUE;TZID=Europe/Berlin:20270104T090000", "STATUS:COMPLETED"}
            << true;
    }
    void completingARecurringToDo() {
        QFETCH(QString, rrule);
        QFETCH(QStringList, expected);
        QFETCH(bool, logged);
        QVERIFY(writeStore(
            {{homeKey,
              QStringLiteral("Home"),
              {vtodo({"UID:t-1", "DTSTAMP:20261101T100000Z", "SUMMARY:Water plants",
                      "DTSTART;TZID=Europe/Berlin:20270104T090000",
                      "DUE;TZID=Europe/Berlin:20270104T090000", "RRULE:" + rrule,
                      "EXDATE;TZID=Europe/Berlin:20270111T090000", "STATUS:NEEDS-ACTION"})}}}));
        QL_Preferences::sharedPreferences().setToggleStatusModifier(2);
        testenv::LogRecorder log;
        QLMenuExtra extra;
        // The series is marked, and its tool tip names the rule.
        const platform::NSMenuItemPtr item = itemTitled(extra, "Water plants \u21BB");
        QVERIFY(item);
        QVERIFY(item->toolTip());
        const QString repeats = QL_LocalizedString("REPEAT_TOOLTIP") + ": ";
        if (rrule == "FREQ=WEEKLY;BYDAY=MO")
            QVERIFY2(item->toolTip()->contains(repeats + "every week on Monday\r"),
                     qPrintable(*item->toolTip()));
        else if (logged)
            QVERIFY(item->toolTip()->contains(repeats + rrule + "\r"));
        platform::setGetKeysSource([] { return held({Option}); });
        item->action().call(item.get());

        const QString file = QString::fromUtf8(fileBytes(dataPath(homeKey)));
        QStringList lines;
        for (const QString& line : file.split("\r\n"))
            if (line.startsWith("DTSTART") || line.startsWith("DUE") || line.startsWith("STATUS"))
                lines << line;
        QCOMPARE(lines, expected);
        QVERIFY(file.contains("\r\nRRULE:" + rrule + "\r\n"));
        QVERIFY(file.contains("\r\nEXDATE;TZID=Europe/Berlin:20270111T090000\r\n"));
        QCOMPARE(file.contains("\r\nCOMPLETED:"), expected.last() == "STATUS:COMPLETED");
        bool sawLog = false;
        for (const QString& line : log.lines())
            sawLog = sawLog || line.contains("repeat rule not advanced");
        QCOMPARE(sawLog, logged);
    }

    // An item of a menu rebuilt since it was shown reaches no to-do.
    void itemOfAnOldMenuDoesNothing() {
        QVERIFY(writeStore({{homeKey,
                             QStringLiteral("Home"),
                             {vtodo({"UID:t-1", "DTSTAMP:20261101T100000Z", "SUMMARY:A"})}}}));
        QLMenuExtra extra;
        const platform::NSMenuItemPtr old = itemTitled(extra, "A");
        QVERIFY(old);
        QVERIFY(itemTitled(extra, "A") != old);
        platform::setGetKeysSource([] { return held({Option}); });
        const QByteArray before = fileBytes(dataPath(homeKey));
        old->action().call(old.get());
        QCOMPARE(fileBytes(dataPath(homeKey)), before);
        QVERIFY(openEditors().isEmpty());
    }

    void headerAndFooterItems() {
        QVERIFY(writeStore({{homeKey,
                             QStringLiteral("Home"),
                             {vtodo({"UID:t-1", "DTSTAMP:20261101T100000Z", "SUMMARY:A"})}}}));
        QLMenuExtra extra;
        auto& workspace = platform::Workspace::sharedWorkspace();

        const auto newToDo = itemTitled(extra, QL_LocalizedString("NEW_TO_DO"));
        QVERIFY(newToDo);
        newToDo->action().call(newToDo.get());
        QCOMPARE(openEditors().size(), 1);
        QCOMPARE(openEditors().at(0)->windowTitle(), QL_LocalizedString("NEW_TO_DO_TITLE"));

        // Quick add opens its one window; choosing it again raises the same one.
        const auto quickAdd = itemTitled(extra, QL_LocalizedString("QUICK_ADD"));
        QVERIFY(quickAdd);
        quickAdd->action().call(quickAdd.get());
        quickAdd->action().call(quickAdd.get());
        QStringList titles;
        for (const QDialog* window : openEditors())
            titles.append(window->windowTitle());
        titles.sort();
        QStringList expectedTitles{QL_LocalizedString("NEW_TO_DO_TITLE"),
                                   QL_LocalizedString("QUICK_ADD_WINDOW_TITLE")};
        expectedTitles.sort();
        QCOMPARE(titles, expectedTitles);

        const auto calendar = itemTitled(extra, QL_LocalizedString("OPEN_ICAL"));
        QVERIFY(calendar);
        QVERIFY(calendar->isAlternate());
        calendar->action().call(calendar.get());

        const auto settings = itemTitled(extra, QL_LocalizedString("QUILLO_SETTINGS"));
        QVERIFY(settings);
        settings->action().call(settings.get());
        const QList<platform::Workspace::Call> expected{{"launchApplication", {"iCal"}},
                                                        {"openFile", {*pathToPreferencePane()}}};
        QList<platform::Workspace::Call> calls;
        for (const auto& call : workspace.recordedCalls())
            if (call.name != "noteFileSystemChanged")
                calls.append(call);
        QCOMPARE(calls, expected);

        // Without an installed pane the settings item does nothing.
        const QString link = testenv::dataHome() + "/PreferencePanes/Quillo.prefPane";
        QVERIFY(QFile::remove(link));
        workspace.clearRecordedCalls();
        settings->action().call(settings.get());
        QVERIFY(workspace.recordedCalls().isEmpty());
        QVERIFY(linkPane());
    }
};

QUILLO_TEST_MAIN(TestActions)
#include "tst_actions.moc"
