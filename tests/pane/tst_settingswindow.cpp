// The settings window end to end on the test command's X server: preferences-host shows
// the pane bundle in a window of its own, a second start raises it, a folder that is no
// pane is refused with an alert; and the pane loaded as a plug-in puts Quillo into a
// real tray (trayer) through the real menu-bar server and takes it out again.
#include "common/TestEnv.h"
#include "pane/PaneTestSupport.h"

#include "platform/NSPreferencePane.h"
#include "platform/PlugIn.h"
#include "platform/Preferences.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

const QString host = QStringLiteral(QUILLO_PREFERENCES_HOST);

// Runs xdotool; its output lines, empty when it failed or found nothing.
QStringList xdotoolOutput(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QStringList windowsNamed(const QString& name) {
    return xdotoolOutput({"search", "--onlyvisible", "--name", '^' + name + '$'});
}

// The server's line for Quillo: identifier, location, image, shown in a tray.
QStringList quilloInServer() {
    for (const QStringList& line : traytest::listMenuExtras())
        if (line.value(0) == QLatin1String("com.orvane.quillo"))
            return line;
    return {};
}

// The top-level windows of the display, bottom to top (there is no window manager).
QStringList stackingOrder() {
    QStringList order;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return order;
    xcb_connection_t* c = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree)
        return order;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
        order << QString::number(children[i]);
    std::free(tree);
    return order;
}

bool isAbove(const QString& window, const QString& other) {
    const QStringList order = stackingOrder();
    return order.contains(window) && order.indexOf(window) > order.indexOf(other);
}

bool serverSeesTray() {
    return traytest::callServer("TrayAvailable").value_or(false).toBool();
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

    traytest::Tray m_tray;
    traytest::ServerProcess m_server{QStringLiteral(QUILLO_MENUBAR_SERVER)};

private slots:
    void initTestCase() {
        QVERIFY2(qgetenv("DISPLAY").size() > 0, "needs the X server of the test command");
        panetest::makePaneCopy();
        QVERIFY(QDir().mkpath(testenv::dataHome() + "/PreferencePanes"));
        QVERIFY(QFile::link(panetest::paneCopy(), panetest::installedPanePath()));
        // No update check from the menu extra: the test has no network.
        QVERIFY(platform::setPersistentDomain(
            {{"firstRun", false}, {"checkForUpdatesOnLaunch", false}}, "com.orvane.quillo"));
        // The menu's settings item starts preferences-host from the PATH.
        qputenv("PATH", QFileInfo(host).absolutePath().toUtf8() + ':' + qgetenv("PATH"));
        QVERIFY(m_tray.start());
        QVERIFY(m_server.start());
        QTRY_VERIFY_WITH_TIMEOUT(serverSeesTray(), 20000);
    }

    void cleanupTestCase() {
        QVERIFY(m_server.quit());
        m_tray.stop();
    }

    // The host shows the pane in a window titled with the bundle's name; a second start
    // for the same pane, by another path to the same folder, raises that window and ends.
    void hostShowsOneWindowPerPane() {
        QProcess first;
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(host, {panetest::paneCopy()});
        QVERIFY(first.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(windowsNamed("Quillo").size(), 1, 20000);
        const QString window = windowsNamed("Quillo").first();

        // Another window covers it...
        QWidget other;
        other.setWindowTitle("Other window");
        other.setGeometry(0, 0, 1280, 1024);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        const QString otherId = QString::number(other.winId());
        QTRY_VERIFY(isAbove(otherId, window));

        // ...until the pane is opened again, as a file URL through a symbolic link.
        QProcess second;
        second.start(host, {QUrl::fromLocalFile(panetest::installedPanePath()).toString()});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(windowsNamed("Quillo"), QStringList{window});
        QTRY_VERIFY(isAbove(window, otherId));

        traytest::xdotool({"windowfocus", "--sync", window});
        traytest::xdotool({"key", "ctrl+w"});
        QVERIFY(first.waitForFinished(20000));
        QCOMPARE(first.exitCode(), 0);
    }

    void hostRefusesWhatIsNoPane_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << testenv::home() + "/Missing.prefPane"
                                 << "is not a settings pane";
        QTest::newRow("menu extra, not a pane")
            << panetest::paneCopy() + "/Contents/Resources/Quillo.menu"
            << "is not a NSPreferencePane";
    }
    void hostRefusesWhatIsNoPane() {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QProcess p;
        p.start(host, {path});
        QVERIFY(p.waitForStarted());
        // The alert says so; the user answers it.
        QTRY_COMPARE_WITH_TIMEOUT(windowsNamed("The settings cannot be shown").size(), 1, 20000);
        const QString alert = windowsNamed("The settings cannot be shown").first();
        traytest::xdotool({"windowfocus", "--sync", alert});
        traytest::xdotool({"key", "Return"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(QString::fromUtf8(p.readAllStandardError()).contains(reason), qPrintable(reason));
    }

    // The pane as the host loads it puts Quillo into the tray and takes it out.
    void trayBoxAddsAndRemovesTheIcon() {
        QString why;
        auto loaded = platform::LoadedPrincipal<platform::NSPreferencePane>::load(
            panetest::paneCopy(), "NSPreferencePane", &why);
        QVERIFY2(loaded, qPrintable(why));
        QWidget* view = loaded->object()->loadMainView();
        QVERIFY(view);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        auto* box = view->findChild<QCheckBox*>("showQuilloCheckbox");
        QVERIFY(box);
        QVERIFY(!box->isChecked());
        QCOMPARE(quilloInServer(), QStringList());

        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QTRY_VERIFY_WITH_TIMEOUT(quilloInServer().value(3) == QLatin1String("yes"), 20000);
        QTRY_VERIFY(box->isChecked());

        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QTRY_COMPARE_WITH_TIMEOUT(quilloInServer(), QStringList(), 20000);
        QTRY_VERIFY(!box->isChecked());

        // Once more: the icon comes back.
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QTRY_VERIFY_WITH_TIMEOUT(quilloInServer().value(3) == QLatin1String("yes"), 20000);
        loaded.reset();
    }

    // The installed Quillo in the tray: its settings item, the menu's last, opens the
    // settings window.
    void settingsItemOpensTheWindow() {
        panetest::callServer("RemoveMenuExtra", "com.orvane.quillo");
        QCOMPARE(panetest::callServer("AddMenuExtra", QStringLiteral(QUILLO_MENU_BUNDLE_DIR)), 0);
        QTRY_VERIFY_WITH_TIMEOUT(traytest::trayIconOfServer(), 20000);
        QVERIFY(windowsNamed("Quillo").isEmpty());

        QString menu;
        for (int attempt = 0; attempt < 5 && menu.isEmpty(); ++attempt) {
            QVERIFY(traytest::clickAt(*traytest::trayIconOfServer()));
            QDeadlineTimer deadline(2000);
            while (!deadline.hasExpired() && (menu = traytest::shownMenu()).isEmpty())
                QTest::qWait(20);
        }
        QVERIFY2(menu.trimmed().split('\n').last().startsWith("\"Quillo Settings"),
                 qPrintable(menu));
        QVERIFY(traytest::xdotool({"key", "Up", "Return"}));

        QTRY_COMPARE_WITH_TIMEOUT(windowsNamed("Quillo").size(), 1, 20000);
        const QString window = windowsNamed("Quillo").first();
        traytest::xdotool({"windowfocus", "--sync", window});
        traytest::xdotool({"key", "ctrl+w"});
        QTRY_VERIFY_WITH_TIMEOUT(windowsNamed("Quillo").isEmpty(), 20000);
    }
};

QUILLO_TEST_MAIN(SettingsWindowTest)

#include "tst_settingswindow.moc"
