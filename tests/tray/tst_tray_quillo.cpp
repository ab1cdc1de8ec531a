// Quillo in a real tray, end to end: the menu-bar server (a child process on a bus of
// the test's own), trayer as the tray, xdotool as the user's pointer and keyboard, and
// Quillo.menu from the pane the build laid out, on a copy of the sample store.
#include "QuilloTraySetup.h"
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"
#include "platform/DistributedNotificationCenter.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTest>

using namespace platform;
using namespace traytest;

namespace {

const QString kServer = QStringLiteral(QUILLO_MENUBAR_SERVER);
const QString kQuillo = QStringLiteral("com.orvane.quillo");

QString quilloImage() {
    for (const QStringList& extra : listMenuExtras())
        if (extra.value(0) == kQuillo)
            return extra.value(2);
    return QString();
}

} // namespace

class TestTrayQuillo : public QObject {
    Q_OBJECT

    Tray m_tray;

    // Clicks the icon until a menu shows (a click while the tray docks the icon may be
    // lost), then checks that its window is mapped below the icon.
    void clickAndRead(QString& menu) {
        menu.clear();
        std::optional<QRect> icon;
        for (int attempt = 0; attempt < 5 && menu.isEmpty(); ++attempt) {
            QTRY_VERIFY((icon = trayIconOfServer()).has_value());
            QVERIFY(clickAt(*icon));
            QDeadlineTimer deadline(3000);
            while (!deadline.hasExpired() && (menu = shownMenu()).isEmpty())
                QTest::qWait(20);
        }
        QVERIFY(!menu.isEmpty());
        QTRY_COMPARE(menuWindowsOfServer().size(), 1);
        QVERIFY(menuWindowsOfServer().value(0).top() >= icon->bottom());
    }

    void closeMenu() {
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY(shownMenu().isEmpty());
        QTRY_VERIFY(menuWindowsOfServer().isEmpty());
    }

private slots:
    void initTestCase() {
        QVERIFY(installQuilloWithSampleStore());
        QVERIFY(m_tray.start());
    }

    void endToEnd() {
        QStringList notes;
        for (const QString& name : {kMenuExtraAddedNotification, kMenuExtraRemovedNotification})
            DistributedNotificationCenter::defaultCenter().addObserver(
                this, name,
                [&notes](const QString& n, const QString& object) { notes << n + " " + object; });
        auto server = std::make_unique<ServerProcess>(kServer);
        QVERIFY(server->start());
        QCOMPARE(CoreMenuExtraAddMenuExtra(quilloMenuURL(), 0, 0, 0, 0), kCoreMenuExtraNoErr);
        QTRY_COMPARE(notes, QStringList{kMenuExtraAddedNotification + " " + kQuillo});

        // In the tray with its picture; a click lists the store's to-dos.
        QTRY_VERIFY(trayIconOfServer());
        QCOMPARE(quilloImage(), QStringLiteral("graphiteToDoMenuIcon"));
        QString menu;
        clickAndRead(menu);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(menu.contains(QStringLiteral("\"Buy milk, eggs\"")), qPrintable(menu));
        QVERIFY(menu.contains(QStringLiteral("\"New To-Do\u2026\"")));
        QVERIFY(!menu.contains(QStringLiteral("Water the plants")));
        QCOMPARE(quilloImage(), QStringLiteral("graphiteToDoMenuIcon_Alt")); // while open
        closeMenu();

        // The calendar application saves a file whole: the next click shows the change.
        const QString home =
            testenv::dataHome() + QStringLiteral("/iCal/Sources/home.calendar/corestorage.ics");
        QFile current(home);
        QVERIFY(current.open(QIODevice::ReadOnly));
        QByteArray text = current.readAll();
        current.close();
        text.replace("END:VCALENDAR", "BEGIN:VTODO\r\nUID:water\r\nSUMMARY:Water the plants\r\n"
                                      "PRIORITY:1\r\nEND:VTODO\r\nEND:VCALENDAR");
        QSaveFile replaced(home);
        QVERIFY(replaced.open(QIODevice::WriteOnly));
        replaced.write(text);
        QVERIFY(replaced.commit());
        clickAndRead(menu);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(menu.contains(QStringLiteral("\"Water the plants\"")), qPrintable(menu));
        closeMenu();

        // A setting changed by another process changes the icon at once.
        QCOMPARE(writeSetting("menuIconImage", "2"), 0);
        QTRY_COMPARE(quilloImage(), QStringLiteral("graphiteToDoMenuIconCalendar"));

        // The hot key, switched on from another process, pops the menu up.
        QCOMPARE(writeSetting("useOpenMenuKey", "1"), 0);
        bool popped = false;
        for (int attempt = 0; attempt < 20 && !popped; ++attempt) {
            QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+super+space")}));
            QDeadlineTimer deadline(500);
            while (!deadline.hasExpired() && !(popped = !shownMenu().isEmpty()))
                QTest::qWait(20);
        }
        QVERIFY(popped);
        QVERIFY(shownMenu().contains(QStringLiteral("\"Water the plants\"")));
        QTRY_COMPARE(menuWindowsOfServer().size(), 1);
        closeMenu();

        // Removed: the icon leaves the tray and the notification is posted.
        CoreMenuExtraRef ref = nullptr;
        QCOMPARE(CoreMenuExtraGetMenuExtra(kQuillo, &ref), kCoreMenuExtraNoErr);
        QCOMPARE(CoreMenuExtraRemoveMenuExtra(ref, 0), kCoreMenuExtraNoErr);
        QTRY_VERIFY(!trayIconOfServer());
        QTRY_COMPARE(notes.last(), kMenuExtraRemovedNotification + " " + kQuillo);

        // Added again and the server restarted: Quillo is back in the tray by itself.
        QCOMPARE(CoreMenuExtraAddMenuExtra(quilloMenuURL(), 0, 0, 0, 0), kCoreMenuExtraNoErr);
        QVERIFY(server->quit());
        server = std::make_unique<ServerProcess>(kServer);
        QVERIFY(server->start());
        QTRY_VERIFY(trayIconOfServer());
        QCOMPARE(quilloImage(), QStringLiteral("graphiteToDoMenuIconCalendar"));
        clickAndRead(menu);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(menu.contains(QStringLiteral("\"Water the plants\"")));
        closeMenu();
        DistributedNotificationCenter::defaultCenter().removeObserver(this);
    }
};

QUILLO_TRAY_TEST_MAIN(TestTrayQuillo, kServer)

#include "tst_tray_quillo.moc"
