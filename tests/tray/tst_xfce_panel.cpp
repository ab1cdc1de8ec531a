// Quillo in a real StatusNotifierItem host: xfce4-panel with its systray plugin under the
// test command's X server, on a scratch configuration and a bus of the test's own. The
// panel is the watcher; the test reads Quillo's exported menu as the panel does and
// chooses "Complete" in it.
#include "QuilloTraySetup.h"
#include "StatusNotifierPeer.h"
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace platform;
using namespace traytest;

namespace {

const QString kServer = QStringLiteral(QUILLO_MENUBAR_SERVER);
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kXfconfd = QStringLiteral("/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd");

// One panel along the top with the notification area (XEmbed and StatusNotifierItem).
const char kPanelConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";

QString homeCalendar() {
    return testenv::dataHome() + QStringLiteral("/iCal/Sources/home.calendar/corestorage.ics");
}

QByteArray milkToDo() {
    QFile file(homeCalendar());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray text = file.readAll();
    const qsizetype at = text.indexOf("SUMMARY:Buy milk");
    if (at < 0)
        return QByteArray();
    const qsizetype begin = text.lastIndexOf("BEGIN:VTODO", at);
    return text.mid(begin, text.indexOf("END:VTODO", at) - begin);
}

QStringList registeredItems() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("RegisteredStatusNotifierItems");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::BlockWithGui, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    return reply.arguments().value(0).value<QDBusVariant>().variant().toStringList();
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

class TestXfcePanel : public QObject {
    Q_OBJECT

    QProcess m_xfconfd;
    QProcess m_panel;

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(kXfconfd) &&
                     QProcess::execute(
                         QStringLiteral("sh"),
                         {QStringLiteral("-c"), QStringLiteral("command -v xfce4-panel")}) == 0,
                 "xfce4-panel is needed (scripts/deps.sh)");
        QVERIFY(installQuilloWithSampleStore());

        const QString channels =
            testenv::configHome() + QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml");
        QVERIFY(QDir().mkpath(channels));
        QFile config(channels + QStringLiteral("/xfce4-panel.xml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(kPanelConfig);
        config.close();
        // The test's bus starts nothing but the menu-bar server: the settings daemon the
        // panel reads its configuration from is started here.
        m_xfconfd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_xfconfd.start(kXfconfd, {});
        QVERIFY(m_xfconfd.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     QStringLiteral("org.xfce.Xfconf")),
                                 10000);
        m_panel.setProcessChannelMode(QProcess::MergedChannels);
        m_panel.start(QStringLiteral("xfce4-panel"), {QStringLiteral("--disable-wm-check")});
        QVERIFY(m_panel.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcher), 15000);
    }

    void cleanupTestCase() {
        if (serverRunning())
            callServer(QStringLiteral("Quit"));
        stop(m_panel);
        stop(m_xfconfd);
    }

    void quilloInThePanel() {
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QCOMPARE(CoreMenuExtraAddMenuExtra(quilloMenuURL(), 0, 0, 0, 0), kCoreMenuExtraNoErr);
        // Registered with the panel's watcher, and shown: the panel is the tray.
        QTRY_COMPARE_WITH_TIMEOUT(registeredItems().size(), 1, 10000);
        QTRY_COMPARE(listMenuExtras().value(0).value(3), QStringLiteral("yes"));

        // The exported menu as the panel reads it: the store's to-dos with their choices.
        StatusNotifierPeer reader;
        reader.useItem(registeredItems().value(0));
        std::optional<MenuNode> layout = reader.menuLayout();
        QVERIFY(layout);
        const MenuNode* milk = layout->find(QStringLiteral("Buy milk, eggs"));
        QVERIFY2(milk, qPrintable(layout->dump()));
        QCOMPARE(milk->dump(), QStringLiteral("\"Complete\"\n\"Edit…\"\n\"Remove…\"\n"));
        QVERIFY(layout->find(QStringLiteral("Attend:VTODO review")));
        QVERIFY(!milk->icon().isNull());

        // Choosing "Complete" through the menu's Event call completes it in the file.
        QVERIFY(reader.clickMenuEntry(milk->find(QStringLiteral("Complete"))->id));
        QTRY_VERIFY(milkToDo().contains("STATUS:COMPLETED"));
        QVERIFY(server.log().isEmpty() || !server.log().contains(QStringLiteral("restarting")));
        QVERIFY(server.quit());
        QTRY_COMPARE(registeredItems().size(), 0);
        QCOMPARE(m_panel.state(), QProcess::Running);
    }
};

QUILLO_TRAY_TEST_MAIN(TestXfcePanel, kServer)

#include "tst_xfce_panel.moc"
