// The menu-bar server as a user's session meets it: started by D-Bus activation, menu
// extras added, found and removed through the platform calls, shown in a real tray
// (trayer), clicked with xdotool, remembered across restarts, and its command-line forms.
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PropertyList.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace platform;
using namespace traytest;

namespace {

const QString kServer = QStringLiteral(QUILLO_MENUBAR_SERVER);
const QString kExtraID = QStringLiteral("org.quillo.test.extra");

QString bundlePath(const QString& folder) {
    return QStringLiteral(QUILLO_TEST_BUNDLES "/") + folder;
}

QUrl bundleURL(const QString& folder) {
    return QUrl::fromLocalFile(bundlePath(folder));
}

void writeConfigFile(const QString& name, const QByteArray& bytes) {
    QFile file(testenv::configHome() + QLatin1Char('/') + name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString autostartFile() {
    return testenv::configHome() + QStringLiteral("/autostart/menubar-server.desktop");
}

QStringList rememberedList() {
    QStringList out;
    const auto list = PropertyList::fromFile(testenv::configHome() +
                                             QStringLiteral("/menubar-server/MenuExtras.plist"));
    if (list)
        for (const QVariant& v : list->toList())
            out << v.toString();
    return out;
}

// (name, object) of the menu-bar server's notifications, in order.
struct Notifications {
    QStringList seen;
    Notifications() {
        for (const QString& name : {kMenuExtraAddedNotification, kMenuExtraRemovedNotification})
            DistributedNotificationCenter::defaultCenter().addObserver(
                this, name,
                [this](const QString& n, const QString& object) { seen << n + " " + object; });
    }
    ~Notifications() { DistributedNotificationCenter::defaultCenter().removeObserver(this); }
};

QString added(const QString& id) {
    return kMenuExtraAddedNotification + " " + id;
}
QString removed(const QString& id) {
    return kMenuExtraRemovedNotification + " " + id;
}

struct CommandResult {
    int status;
    QString out;
    QString err;
};

CommandResult runServer(const QStringList& args) {
    QProcess p;
    p.start(kServer, args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestMenuBarServer : public QObject {
    Q_OBJECT

    Tray m_tray;

private slots:
    void initTestCase() {
        QVERIFY2(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) == 0,
                 "xdotool is needed (scripts/deps.sh)");
        QVERIFY2(QProcess::execute(QStringLiteral("sh"),
                                   {QStringLiteral("-c"), QStringLiteral("command -v trayer")}) ==
                     0,
                 "trayer is needed (scripts/deps.sh)");
        writeConfigFile(QStringLiteral("test-menu.txt"), "alpha\nbeta\n");
    }

    void init() {
        QFile::remove(testenv::configHome() + QStringLiteral("/menubar-server/MenuExtras.plist"));
        QFile::remove(autostartFile());
    }

    void cleanup() {
        if (serverRunning())
            callServer(QStringLiteral("Quit"));
        QTRY_VERIFY(!serverRunning());
    }

    // A call reaches the name, the bus starts the server; the three calls and the
    // notifications; the refusals; the list and the autostart entry follow.
    void activationAndTheThreeCalls() {
        QVERIFY(!serverRunning());
        Notifications notes;
        CoreMenuExtraRef ref = nullptr;
        QCOMPARE(CoreMenuExtraGetMenuExtra(kExtraID, &ref), kCoreMenuExtraNotFound);
        QVERIFY(!ref);
        QVERIFY(serverRunning()); // started by the call
        QVERIFY(!QFile::exists(autostartFile()));

        std::int32_t word = 99;
        QCOMPARE(CoreMenuExtraAddMenuExtra(bundleURL(QStringLiteral("TestExtra.menu")), 0, 0, 0, 0,
                                           &word),
                 kCoreMenuExtraNoErr);
        QCOMPARE(word, kCoreMenuExtraNoErr);
        QTRY_COMPARE(notes.seen, QStringList{added(kExtraID)});
        QCOMPARE(CoreMenuExtraGetMenuExtra(kExtraID, &ref), kCoreMenuExtraNoErr);
        QCOMPARE(CoreMenuExtraIdentifier(ref), kExtraID);
        QCOMPARE(rememberedList(), QStringList{bundlePath(QStringLiteral("TestExtra.menu"))});
        QFile autostart(autostartFile());
        QVERIFY(autostart.open(QIODevice::ReadOnly));
        QVERIFY(autostart.readAll().contains("Exec=\"" + kServer.toUtf8() + "\""));

        // Adding it again (by another spelling of the path) loads nothing more.
        QCOMPARE(CoreMenuExtraAddMenuExtra(
                     QUrl::fromLocalFile(bundlePath(QStringLiteral("../bundles/TestExtra.menu"))),
                     0, 0, 0, 0),
                 kCoreMenuExtraNoErr);
        QCOMPARE(listMenuExtras().size(), 1);

        // Not menu extras: refused, nothing changes.
        for (const QString& folder :
             {QStringLiteral("Nowhere.menu"), QStringLiteral("NoEntry.menu"),
              QStringLiteral("WrongClass.menu"), QStringLiteral("Failing.menu"),
              QStringLiteral("NoIdentifier.menu"), QStringLiteral("MissingLibrary.menu")})
            QCOMPARE(CoreMenuExtraAddMenuExtra(bundleURL(folder), 0, 0, 0, 0),
                     kCoreMenuExtraInvalid);
        QCOMPARE(CoreMenuExtraAddMenuExtra(QUrl(QStringLiteral("https://example.org/x.menu")), 0, 0,
                                           0, 0),
                 kCoreMenuExtraInvalid);
        QCOMPARE(listMenuExtras().size(), 1);

        // Removing: what is not loaded is refused; the extra goes with its notification.
        CoreMenuExtraRef other = nullptr;
        QCOMPARE(CoreMenuExtraGetMenuExtra(QStringLiteral("org.quillo.test.second"), &other),
                 kCoreMenuExtraNotFound);
        QCOMPARE(CoreMenuExtraRemoveMenuExtra(nullptr, 0), kCoreMenuExtraNotFound);
        QCOMPARE(CoreMenuExtraRemoveMenuExtra(ref, 0), kCoreMenuExtraNoErr);
        QCOMPARE(CoreMenuExtraRemoveMenuExtra(ref, 0), kCoreMenuExtraNotFound);
        QTRY_COMPARE(notes.seen, (QStringList{added(kExtraID), removed(kExtraID)}));
        QCOMPARE(rememberedList(), QStringList());
        QVERIFY(!QFile::exists(autostartFile()));
    }

    void refusalsAreLogged() {
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QCOMPARE(
            CoreMenuExtraAddMenuExtra(bundleURL(QStringLiteral("WrongClass.menu")), 0, 0, 0, 0),
            kCoreMenuExtraInvalid);
        QTRY_VERIFY(server.log().contains(
            QStringLiteral("menubar-server :: addMenuExtra :: %1 is not a menu extra: its "
                           "principal class QL_Preference_PanePref is not a NSMenuExtra")
                .arg(bundlePath(QStringLiteral("WrongClass.menu")))));
        // A relative path is refused; a huge argument is logged cut to 200 characters.
        QCOMPARE(CoreMenuExtraAddMenuExtra(QUrl::fromLocalFile(QStringLiteral("TestExtra.menu")), 0,
                                           0, 0, 0),
                 kCoreMenuExtraInvalid);
        QTRY_VERIFY(server.log().contains(
            QStringLiteral("menubar-server :: addMenuExtra :: TestExtra.menu is not a menu extra: "
                           "the path is not absolute")));
        const QString huge = QStringLiteral("/") + QString(1024 * 1024, QLatin1Char('x'));
        QCOMPARE(CoreMenuExtraAddMenuExtra(QUrl::fromLocalFile(huge), 0, 0, 0, 0),
                 kCoreMenuExtraInvalid);
        QTRY_VERIFY(server.log().contains(huge.left(200) + QChar(0x2026) + " is not a menu extra"));
        QVERIFY(!server.log().contains(huge.left(201)));
        QCOMPARE(rememberedList(), QStringList());
        // One server per session.
        ServerProcess second(kServer);
        QVERIFY(!second.start());
        QVERIFY(second.log().contains(QStringLiteral("another server is running")));
    }

    // No tray at first: logged once, the icon appears with the tray. Clicks rebuild the
    // menu and show it at the icon; the open menu shows the alternate picture; the
    // extra's picture and menu follow its files.
    void inTheTray() {
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QCOMPARE(CoreMenuExtraAddMenuExtra(bundleURL(QStringLiteral("TestExtra.menu")), 0, 0, 0, 0),
                 kCoreMenuExtraNoErr);
        QCOMPARE(callServer(QStringLiteral("TrayAvailable"))->toBool(), false);
        QCOMPARE(CoreMenuExtraAddMenuExtra(bundleURL(QStringLiteral("Second.menu")), 0, 0, 0, 0),
                 kCoreMenuExtraNoErr);
        QTRY_COMPARE(server.log().count(QStringLiteral("no system tray is available")), 1);
        QVERIFY(!trayIconOfServer());

        QVERIFY(m_tray.start());
        QTRY_VERIFY(trayIconOfServer());
        QTRY_COMPARE(listMenuExtras().value(0).value(3), QStringLiteral("yes"));
        QCOMPARE(listMenuExtras().size(), 2);

        // Clicks the first icon (trayer lines them up in order) and reads the menu shown.
        // A click in the moment the tray docks the icon may be lost, so a click that opens
        // nothing within a while is repeated.
        const auto clickAndRead = [&](QString& menu, int button = 1) {
            menu.clear();
            std::optional<QRect> icon;
            for (int attempt = 0; attempt < 5 && menu.isEmpty(); ++attempt) {
                icon = trayIconOfServer();
                QVERIFY(icon);
                QVERIFY(clickAt(*icon, button));
                QDeadlineTimer deadline(2000);
                while (!deadline.hasExpired() && (menu = shownMenu()).isEmpty())
                    QTest::qWait(20);
            }
            QVERIFY(!menu.isEmpty());
            QTRY_COMPARE(menuWindowsOfServer().size(), 1);
            QVERIFY(menuWindowsOfServer().value(0).top() >= icon->bottom()); // below the icon
        };
        const auto closeMenu = [] {
            xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
            QTRY_VERIFY(shownMenu().isEmpty());
            QTRY_VERIFY(menuWindowsOfServer().isEmpty());
        };

        QString first;
        clickAndRead(first);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(first.contains(QStringLiteral("\"alpha\"")), qPrintable(first));
        QVERIFY(listMenuExtras().value(0).value(2) == QStringLiteral("testIconOpen") ||
                listMenuExtras().value(1).value(2) == QStringLiteral("testIconOpen"));
        closeMenu();

        // A changed file shows at the next click; so does a new picture.
        writeConfigFile(QStringLiteral("test-menu.txt"), "gamma\n");
        writeConfigFile(QStringLiteral("test-image.txt"), "otherIcon");
        QString second;
        clickAndRead(second);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(second.contains(QStringLiteral("\"gamma\"")) && !second.contains("alpha"),
                 qPrintable(second));
        closeMenu();
        QTRY_VERIFY(listMenuExtras().value(0).value(2) == QStringLiteral("otherIcon") ||
                    listMenuExtras().value(1).value(2) == QStringLiteral("otherIcon"));
        writeConfigFile(QStringLiteral("test-image.txt"), "");

        // A right click opens the exported menu: the same model, drawn without
        // modifier keys (no tags, no alternates swapped in).
        QString third;
        clickAndRead(third, 3);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(third.contains(QStringLiteral("\"gamma\" enabled")) && !third.contains("tag="),
                 qPrintable(third));
        closeMenu();

        // The desktop's keyboard shortcut path.
        const CommandResult popUp = runServer({QStringLiteral("--pop-up"), kExtraID});
        QCOMPARE(popUp.status, 0);
        QTRY_VERIFY(shownMenu().contains(QStringLiteral("\"gamma\"")));
        QTRY_COMPARE(menuWindowsOfServer().size(), 1);
        closeMenu();
        const CommandResult unknown =
            runServer({QStringLiteral("--pop-up"), QStringLiteral("org.quillo.nothing")});
        QCOMPARE(unknown.status, 1);
        QVERIFY(unknown.err.contains(QStringLiteral("no menu extra org.quillo.nothing")));

        // Removing one takes its icon out of the tray.
        QCOMPARE(callServer(QStringLiteral("RemoveMenuExtra"), {kExtraID})->toInt(), 0);
        QCOMPARE(callServer(QStringLiteral("RemoveMenuExtra"),
                            {QStringLiteral("org.quillo.test.second")})
                     ->toInt(),
                 0);
        QTRY_VERIFY(!trayIconOfServer());
        m_tray.stop();
    }

    // A restarted server loads what was loaded; a bundle that has gone is forgotten.
    void rememberedAcrossRestarts() {
        {
            ServerProcess server(kServer);
            QVERIFY(server.start());
            QCOMPARE(
                CoreMenuExtraAddMenuExtra(bundleURL(QStringLiteral("TestExtra.menu")), 0, 0, 0, 0),
                kCoreMenuExtraNoErr);
            QVERIFY(server.quit());
        }
        // The list still names it (a quit is no removal), plus one that is gone.
        QCOMPARE(rememberedList(), QStringList{bundlePath(QStringLiteral("TestExtra.menu"))});
        QVERIFY(QFile::exists(autostartFile()));
        const auto bytes = PropertyList::toData(QVariantList{
            bundlePath(QStringLiteral("Gone.menu")), bundlePath(QStringLiteral("TestExtra.menu"))});
        QFile list(testenv::configHome() + QStringLiteral("/menubar-server/MenuExtras.plist"));
        QVERIFY(list.open(QIODevice::WriteOnly | QIODevice::Truncate));
        list.write(*bytes);
        list.close();

        Notifications notes;
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QTRY_COMPARE(notes.seen, QStringList{added(kExtraID)});
        CoreMenuExtraRef ref = nullptr;
        QCOMPARE(CoreMenuExtraGetMenuExtra(kExtraID, &ref), kCoreMenuExtraNoErr);
        QCOMPARE(rememberedList(), QStringList{bundlePath(QStringLiteral("TestExtra.menu"))});
        QTRY_VERIFY(server.log().contains(QStringLiteral("Gone.menu is gone; forgotten")));
        QCOMPARE(CoreMenuExtraRemoveMenuExtra(ref, 0), kCoreMenuExtraNoErr);
    }

    // --print needs no display and no server.
    void printTheMenu() {
        writeConfigFile(QStringLiteral("test-menu.txt"), "one\ntwo\n");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        p.setProcessEnvironment(env);
        p.start(kServer, {QStringLiteral("--print"), bundlePath(QStringLiteral("TestExtra.menu"))});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
                 QStringLiteral("\"Menu 1\" enabled tag=0\n\"one\" enabled tag=0\n"
                                "\"two\" enabled tag=0\n"));

        // By identifier, once the server remembers it.
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QCOMPARE(CoreMenuExtraAddMenuExtra(bundleURL(QStringLiteral("TestExtra.menu")), 0, 0, 0, 0),
                 kCoreMenuExtraNoErr);
        QVERIFY(runServer({QStringLiteral("--print"), kExtraID}).out.contains("\"two\""));
        QCOMPARE(callServer(QStringLiteral("RemoveMenuExtra"), {kExtraID})->toInt(), 0);

        const CommandResult bad = runServer({QStringLiteral("--print"), kExtraID});
        QCOMPARE(bad.status, 1);
        QVERIFY(bad.err.contains(QStringLiteral("neither a bundle folder")));
        const CommandResult wrong =
            runServer({QStringLiteral("--print"), bundlePath(QStringLiteral("NoEntry.menu"))});
        QCOMPARE(wrong.status, 1);
        QVERIFY(wrong.err.contains(QStringLiteral("does not export")));
        QCOMPARE(runServer({QStringLiteral("--bogus")}).status, 2);
    }
};

QUILLO_TRAY_TEST_MAIN(TestMenuBarServer, kServer)

#include "tst_menubarserver.moc"
