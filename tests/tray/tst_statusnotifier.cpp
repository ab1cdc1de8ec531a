// Quillo as a StatusNotifierItem: the menu-bar server (a child process) shows Quillo.menu
// on a copy of the sample store, and a watcher and host of the test's own reads what a
// desktop reads: the item, its exported menu (GetLayout), and the choices made in it
// (Event), which must reach the calendar's file. Then a watcher that arrives late.
#include "StatusNotifierPeer.h"
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace platform;
using namespace traytest;

namespace {

const QString kServer = QStringLiteral(QUILLO_MENUBAR_SERVER);

QString paneLink() {
    return testenv::dataHome() + QStringLiteral("/PreferencePanes/Quillo.prefPane");
}

QUrl quilloMenuURL() {
    return QUrl::fromLocalFile(paneLink() + QStringLiteral("/Contents/Resources/Quillo.menu"));
}

int writeSetting(const char* key, const char* value) {
    return QProcess::execute(
        QStringLiteral(QUILLO_SETTINGS_HELPER),
        {QStringLiteral("write"), QString::fromLatin1(key), QString::fromLatin1(value)});
}

QString homeCalendar() {
    return testenv::dataHome() + QStringLiteral("/iCal/Sources/home.calendar/corestorage.ics");
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The VTODO of a summary in a calendar file, empty when there is none.
QByteArray toDoText(const QString& path, const QByteArray& summary) {
    const QByteArray text = readFile(path);
    const qsizetype at = text.indexOf("SUMMARY:" + summary);
    if (at < 0)
        return QByteArray();
    const qsizetype begin = text.lastIndexOf("BEGIN:VTODO", at);
    const qsizetype end = text.indexOf("END:VTODO", at);
    return text.mid(begin, end - begin);
}

// Quillo's menu on the sample store as a host reads it.
#define EXPECTED_LAYOUT                                                                            \
    "\"New To-Do…\"\n"                                                                           \
    "\"Open Calendar\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Deep\" disabled\n"                                                                          \
    "\"Deep in two groups\" icon submenu\n"                                                        \
    "    \"Reopen\"\n"                                                                             \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Errands\" disabled\n"                                                                       \
    "\"From top\" icon submenu\n"                                                                  \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Holidays\" disabled\n"                                                                      \
    "\"Subscribed\" icon submenu\n"                                                                \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Home\" disabled\n"                                                                          \
    "\"A long title that the calendar application folded just before a space and again\" icon "    \
    "submenu\n"                                                                                    \
    "    \"Reopen\"\n"                                                                             \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "\"Buy milk, eggs\" icon submenu\n"                                                            \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Work\" disabled\n"                                                                          \
    "\"Attend:VTODO review\" icon submenu\n"                                                       \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Quillo Settings…\"\n"

// Adds Quillo without blocking: the server registers its item with the watcher in this
// process while it answers.
bool addQuillo() {
    QDBusMessage add =
        QDBusMessage::createMethodCall(kMenuBarServerService, kMenuBarServerPath,
                                       kMenuBarServerInterface, QStringLiteral("AddMenuExtra"));
    add << quilloMenuURL().toLocalFile();
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(add, 20000);
    QDeadlineTimer deadline(20000);
    while (!pending.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    return pending.isFinished() && !pending.isError() &&
           pending.reply().arguments().value(0).toInt() == 0;
}

} // namespace

class TestStatusNotifier : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(QDir().mkpath(testenv::dataHome() + QStringLiteral("/PreferencePanes")));
        QVERIFY(QFile::link(QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane"), paneLink()));
        QCOMPARE(QProcess::execute(QStringLiteral("cp"),
                                   {QStringLiteral("-r"),
                                    QStringLiteral(QUILLO_TESTS_DIR "/data/store/sample/iCal"),
                                    testenv::dataHome()}),
                 0);
        QL_Preferences& preferences = QL_Preferences::sharedPreferences();
        preferences.setCheckForUpdatesOnLaunch(false);
        preferences.setColorItemsByCalendarColor(true);
        preferences.setWarnWhenRemovingItems(false);
    }

    // The layout a host reads, the icons, the choices reaching the file, and the
    // rebuilds a host is told about without asking (a watched file, a setting).
    void exportedMenu() {
        StatusNotifierPeer peer;
        QVERIFY(peer.start());
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QVERIFY(addQuillo());
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 10000);
        QCOMPARE(peer.itemProperty(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
        QVERIFY(peer.itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path() !=
                QStringLiteral("/NO_DBUSMENU"));

        std::optional<MenuNode> layout = peer.menuLayout();
        QVERIFY(layout);
        QCOMPARE(layout->dump(), QStringLiteral(EXPECTED_LAYOUT));

        // The icon of an item of a coloured calendar: its priority picture with the
        // calendar's colour as a dot in the lower right corner, in pixels of the scale.
        const MenuNode* milk = layout->find(QStringLiteral("Buy milk, eggs"));
        QVERIFY(milk);
        const QImage icon = milk->icon();
        QVERIFY(icon.width() >= 16 && icon.width() == icon.height());
        const QColor dot = icon.pixelColor(icon.width() * 3 / 4, icon.height() * 3 / 4);
        QVERIFY2(dot.red() > 200 && dot.green() < 80 && dot.blue() < 80, qPrintable(dot.name()));

        // "Complete" through the menu's Event call completes the to-do in its file; the
        // watcher rebuilds the menu and the host is told without asking.
        const MenuNode* complete = milk->find(QStringLiteral("Complete"));
        QVERIFY(complete);
        QVERIFY(peer.clickMenuEntry(complete->id));
        QTRY_VERIFY(toDoText(homeCalendar(), "Buy milk").contains("STATUS:COMPLETED"));
        QVERIFY(toDoText(homeCalendar(), "Buy milk").contains("COMPLETED:"));
        QTRY_VERIFY(peer.menuLayout(false) &&
                    peer.menuLayout(false)->find(QStringLiteral("Buy milk, eggs")) &&
                    peer.menuLayout(false)
                        ->find(QStringLiteral("Buy milk, eggs"))
                        ->find(QStringLiteral("Reopen")));
        // A choice from a layout that has been rebuilt since does nothing.
        QVERIFY(peer.clickMenuEntry(complete->id));
        QTest::qWait(300);
        QVERIFY(toDoText(homeCalendar(), "Buy milk").contains("STATUS:COMPLETED"));

        // A setting from another process rebuilds it too: no section labels.
        QCOMPARE(writeSetting("showLabels", "0"), 0);
        QTRY_VERIFY(peer.menuLayout(false) &&
                    peer.menuLayout(false)->find(QStringLiteral("Buy milk, eggs")) &&
                    !peer.menuLayout(false)->find(QStringLiteral("Home")));

        // "Remove…" (the warning is off) takes the to-do out of its file.
        layout = peer.menuLayout();
        QVERIFY(layout && layout->find(QStringLiteral("Buy milk, eggs")));
        const MenuNode* remove =
            layout->find(QStringLiteral("Buy milk, eggs"))->find(QStringLiteral("Remove…"));
        QVERIFY(remove);
        QVERIFY(peer.clickMenuEntry(remove->id));
        QTRY_VERIFY(toDoText(homeCalendar(), "Buy milk").isEmpty());
        QVERIFY(readFile(homeCalendar()).contains("END:VCALENDAR"));

        // A left click (Activate) shows the rich menu, which takes modifier keys.
        QVERIFY(peer.callItem(QStringLiteral("Activate"), 600, 5));
        QTRY_VERIFY(shownMenu().contains(QStringLiteral(" tag=")));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY(shownMenu().isEmpty());
        QCOMPARE(writeSetting("showLabels", "1"), 0);
    }
};

QUILLO_TRAY_TEST_MAIN(TestStatusNotifier, kServer)

#include "tst_statusnotifier.moc"
