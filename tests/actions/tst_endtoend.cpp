// Quillo as a user meets it: the menu-bar server shows Quillo.menu in a real tray
// (trayer under the test command's X server); a to-do chosen with Alt (Option) held,
// all through xdotool, is completed in the calendar file, and the next click shows it
// completed.
#include "common/TestEnv.h"
#include "editor/EditorTestSupport.h"
#include "tray/TrayTestSupport.h"

#include "platform/CoreMenuExtra.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

using namespace editortest;
using namespace traytest;

namespace {

const QString kServer = QStringLiteral(QUILLO_MENUBAR_SERVER);
const QString kMenuBundle = QStringLiteral(QUILLO_MENU_BUNDLE_DIR);
const QString homeKey = QStringLiteral("home");

// The dump line of the item with this title in the menu shown now.
QString itemLine(const QString& menu, const QString& title) {
    for (const QString& line : menu.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1Char('"') + title + QLatin1Char('"')))
            return line;
    return {};
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    Tray m_tray;

    // Clicks the icon until a menu is shown; its dump.
    QString openMenu() {
        QString menu;
        for (int attempt = 0; attempt < 5 && menu.isEmpty(); ++attempt) {
            const std::optional<QRect> icon = trayIconOfServer();
            if (!icon || !clickAt(*icon))
                return {};
            QDeadlineTimer deadline(2000);
            while (!deadline.hasExpired() && (menu = shownMenu()).isEmpty())
                QTest::qWait(20);
        }
        return menu;
    }

private slots:
    void initTestCase() {
        QVERIFY2(QProcess::execute("xdotool", {"version"}) == 0,
                 "xdotool is needed (scripts/deps.sh)");
        QVERIFY(linkPane());
        auto& preferences = QL_Preferences::sharedPreferences();
        preferences.setCheckForUpdatesOnLaunch(false);
        preferences.setInformationalIcons(2); // status pictures: checked or not
        QVERIFY(writeStore({{homeKey,
                             QStringLiteral("Home"),
                             {vtodo({"UID:t-1", "DTSTAMP:20261101T100000Z", "SUMMARY:Water plants",
                                     "STATUS:NEEDS-ACTION"})}}}));
    }

    void optionChoiceCompletesInTheFile() {
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QVERIFY(m_tray.start());
        QCOMPARE(platform::CoreMenuExtraAddMenuExtra(QUrl::fromLocalFile(kMenuBundle), 0, 0, 0, 0),
                 platform::kCoreMenuExtraNoErr);
        QTRY_VERIFY_WITH_TIMEOUT(trayIconOfServer(), 20000);

        const QString before = openMenu();
        QVERIFY2(itemLine(before, "Water plants").contains("image=graphiteStatusUnchecked"),
                 qPrintable(before));
        QTRY_COMPARE(menuWindowsOfServer().size(), 1);

        // The first Down reaches "New To-Do…", the second "Quick Add…", the third the
        // to-do (the calendar's label and the separator cannot be chosen); it is chosen
        // with Alt held.
        QVERIFY(xdotool({"key", "Down", "Down", "Down"}));
        QVERIFY(xdotool({"keydown", "Alt_L"}));
        QVERIFY(xdotool({"key", "Return"}));
        QVERIFY(xdotool({"keyup", "Alt_L"}));

        QTRY_VERIFY_WITH_TIMEOUT(readToDo(homeKey, "Home", "t-1") &&
                                     readToDo(homeKey, "Home", "t-1")->theStatus() ==
                                         QStringLiteral("COMPLETED"),
                                 10000);
        const auto toDo = readToDo(homeKey, "Home", "t-1");
        QVERIFY(toDo->theCompletedDate());
        QVERIFY(toDo->theCompletedDate()->endsWith("T000000Z"));
        QTRY_VERIFY(shownMenu().isEmpty());

        const QString after = openMenu();
        QVERIFY2(itemLine(after, "Water plants").contains("image=graphiteStatusChecked"),
                 qPrintable(after));
        QVERIFY(xdotool({"key", "Escape"}));
        QTRY_VERIFY(shownMenu().isEmpty());
        m_tray.stop();
    }
};

QUILLO_TRAY_TEST_MAIN(TestEndToEnd, kServer)

#include "tst_endtoend.moc"
