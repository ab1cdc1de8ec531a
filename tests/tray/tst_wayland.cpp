// The menu-bar server on Wayland: weston's headless backend as the compositor, Qt's
// Wayland platform for the server. Without a tray nothing crashes or hangs and the
// desktop's shortcut path (--pop-up) shows the rich menu; with a StatusNotifierItem host
// (a watcher of the test's own) the exported menu is served.
#include "QuilloTraySetup.h"
#include "StatusNotifierPeer.h"
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
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

} // namespace

class TestWayland : public QObject {
    Q_OBJECT

    QProcess m_weston;

private slots:
    void initTestCase() {
        QVERIFY2(QProcess::execute(QStringLiteral("sh"),
                                   {QStringLiteral("-c"), QStringLiteral("command -v weston")}) ==
                     0,
                 "weston is needed (scripts/deps.sh)");
        QVERIFY(installQuilloWithSampleStore());

        const QString runtime = testenv::home() + QStringLiteral("/runtime");
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        m_weston.setProcessChannelMode(QProcess::MergedChannels);
        m_weston.start(QStringLiteral("weston"),
                       {QStringLiteral("--backend=headless-backend.so"),
                        QStringLiteral("--socket=wayland-quillo"), QStringLiteral("--idle-time=0"),
                        QStringLiteral("--no-config")});
        QVERIFY(m_weston.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtime + QStringLiteral("/wayland-quillo")), 10000);
        // What the server (a child) inherits: Wayland and nothing of X11.
        qputenv("WAYLAND_DISPLAY", "wayland-quillo");
        qputenv("QT_QPA_PLATFORM", "wayland");
        // Qt's client-side decoration plug-in leaks a little at exit (the sanitizer build
        // sees it, by then unloaded and unnamed); weston draws no decorations we test.
        qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
        qunsetenv("DISPLAY");
    }

    void cleanupTestCase() {
        m_weston.terminate();
        if (!m_weston.waitForFinished(5000)) {
            m_weston.kill();
            m_weston.waitForFinished(5000);
        }
    }

    void withoutATray() {
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QCOMPARE(
            callServerAnswering(QStringLiteral("AddMenuExtra"), {quilloMenuURL().toLocalFile()})
                .toInt(),
            0);
        QTRY_VERIFY(server.log().contains(QStringLiteral("no system tray is available")));
        QCOMPARE(callServerAnswering(QStringLiteral("TrayAvailable")).toBool(), false);

        // The desktop's keyboard shortcut shows the rich menu (placed by the compositor).
        QProcess popUp;
        popUp.start(kServer, {QStringLiteral("--pop-up"), QStringLiteral("com.orvane.quillo")});
        QVERIFY(popUp.waitForFinished(10000));
        QCOMPARE(popUp.exitCode(), 0);
        QTRY_VERIFY(callServerAnswering(QStringLiteral("ShownMenu"))
                        .toString()
                        .contains(QStringLiteral("\"Buy milk, eggs\" enabled")));
        QVERIFY(!server.log().contains(QStringLiteral("restarting")));
        QVERIFY2(server.quitCleanly(), qPrintable(server.log().right(2500)));
    }

    void exportedMenuServed() {
        StatusNotifierPeer peer;
        QVERIFY(peer.start());
        ServerProcess server(kServer); // Quillo is remembered
        QVERIFY(server.start());
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 10000);
        const std::optional<MenuNode> layout = peer.menuLayout();
        QVERIFY(layout);
        const MenuNode* milk = layout->find(QStringLiteral("Buy milk, eggs"));
        QVERIFY(milk && milk->find(QStringLiteral("Complete")));
        // The host is to show that menu at every click; one that still hands a click over
        // (Activate) gets it drawn here, as the compositor places it. A middle click
        // (SecondaryActivate) shows the rich menu. The server stays up.
        QCOMPARE(peer.itemProperty(QStringLiteral("ItemIsMenu")).toBool(), true);
        QVERIFY(peer.callItem(QStringLiteral("Activate"), 10, 10));
        QTRY_VERIFY(callServerAnswering(QStringLiteral("ShownMenu"))
                        .toString()
                        .contains(QStringLiteral("\"Buy milk, eggs\" enabled icon\n")));
        QVERIFY(!callServerAnswering(QStringLiteral("ShownMenu"))
                     .toString()
                     .contains(QStringLiteral(" tag=")));
        QVERIFY(peer.callItem(QStringLiteral("SecondaryActivate"), 10, 10));
        QTRY_VERIFY(callServerAnswering(QStringLiteral("ShownMenu"))
                        .toString()
                        .contains(QStringLiteral(" tag=")));
        QVERIFY2(server.quitCleanly(), qPrintable(server.log().right(2500)));
    }
};

QUILLO_TRAY_TEST_MAIN(TestWayland, kServer)

#include "tst_wayland.moc"
