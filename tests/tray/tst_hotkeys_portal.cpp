// Without X11 the hot keys go through the desktop portal's GlobalShortcuts interface.
// The portal here is the test's own, on the test's private bus (no portal backend that
// offers global shortcuts runs headless): version 1 of the interface, its Request
// answers, its Activated signal and the session's Close. The server runs on the
// offscreen platform with Quillo, as a new user's first start.
#include "QuilloTraySetup.h"
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/HotKeys.h"
#include "platform/ShortcutsPortal.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace platform;
using namespace traytest;

namespace {

const QString kServer = QStringLiteral(QUILLO_MENUBAR_SERVER);
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kInstead = QStringLiteral(", so no global hot key; a keyboard shortcut of the "
                                        "desktop can run \"menubar-server --pop-up IDENTIFIER\" "
                                        "instead");

// The portal's side of the interface, with what the client asked for on record. As the
// Portal it is what the client talks to; as the Backend it serves the real frontend
// (xdg-desktop-portal) the interface's implementation side, which answers in the
// method's reply instead of a Response signal.
class TestPortal : public QDBusVirtualObject {
public:
    enum class Role { Portal, Backend };
    explicit TestPortal(Role role = Role::Portal) : m_role(role) {}
    ~TestPortal() override {
        vanish();
        QDBusConnection::disconnectFromBus(m_bus.name());
    }

    QStringList sessions; // created, in order
    QStringList closed;
    QStringList binds;      // each: its session, then a line per shortcut
    uint bindResponse = 0;  // the Response code binds get
    bool failBinds = false; // binds get an error reply instead
    bool answerBeforeReply = true;
    bool garbledSessionHandle = false; // CreateSession's answer names no valid path

    bool start() {
        if (!m_bus.isConnected() ||
            !m_bus.registerVirtualObject(kPortalPath, this, QDBusConnection::SubPath))
            return false;
        return m_bus.registerService(backend() ? kBackendService : kPortalService);
    }
    void vanish() {
        m_bus.unregisterService(backend() ? kBackendService : kPortalService);
        m_bus.unregisterObject(kPortalPath, QDBusConnection::UnregisterTree);
    }
    bool activate(const QString& session, const QString& shortcutId) {
        QDBusMessage signal = QDBusMessage::createSignal(kPortalPath, shortcutsInterface(),
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << shortcutId << qulonglong(123456)
               << QVariantMap();
        return m_bus.send(signal);
    }

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const QList<QVariant> args = call.arguments();
        if (call.member() == QStringLiteral("Get") && args.size() == 2 &&
            args.at(0).toString() == shortcutsInterface() && args.at(1).toString() == "version") {
            bus.send(call.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            return true;
        }
        // The backend's calls start with the Request's path.
        const int at = backend() ? 1 : 0;
        const QString sender = call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        const auto pathFor = [&](const char* kind, const QVariantMap& options, const char* key) {
            return kPortalPath + "/" + kind + "/" + sender + "/" + options.value(key).toString();
        };
        if (call.interface() == shortcutsInterface() && call.member() == "CreateSession" &&
            args.size() == (backend() ? 4 : 1)) {
            const auto options = qdbus_cast<QVariantMap>(args.last());
            const QString session = backend() ? args.at(1).value<QDBusObjectPath>().path()
                                              : pathFor("session", options, "session_handle_token");
            sessions << session;
            answer(call, pathFor("request", options, "handle_token"), 0,
                   {{QStringLiteral("session_handle"),
                     garbledSessionHandle ? QStringLiteral("no/path//") : session}});
            return true;
        }
        if (call.interface() == shortcutsInterface() && call.member() == "BindShortcuts" &&
            args.size() == at + 4) {
            const QString session = args.at(at).value<QDBusObjectPath>().path();
            QString record = session;
            const QDBusArgument list = args.at(at + 1).value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap options;
                list.beginStructure();
                list >> id >> options;
                list.endStructure();
                record += "\n" + id + " | " + options.value("description").toString() + " | " +
                          options.value("preferred_trigger").toString();
            }
            list.endArray();
            binds << record;
            if (failBinds) {
                bus.send(
                    call.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.Failed"),
                                          QStringLiteral("no keys today")));
                return true;
            }
            const bool known = sessions.contains(session) && !closed.contains(session);
            answer(call, pathFor("request", qdbus_cast<QVariantMap>(args.last()), "handle_token"),
                   known ? bindResponse : 2, {});
            return true;
        }
        if (call.interface() == (backend() ? "org.freedesktop.impl.portal.Session"
                                           : "org.freedesktop.portal.Session") &&
            call.member() == "Close") {
            closed << call.path();
            bus.send(call.createReply());
            return true;
        }
        return false;
    }

    static inline const QString kBackendService =
        QStringLiteral("org.freedesktop.impl.portal.desktop.quillotest");

private:
    bool backend() const { return m_role == Role::Backend; }
    QString shortcutsInterface() const {
        return backend() ? QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts")
                         : kShortcuts;
    }

    // Like the real frontend the Response can come before the call's reply: only a
    // client subscribed beforehand sees it.
    void answer(const QDBusMessage& call, const QString& request, uint code,
                const QVariantMap& results) {
        if (backend()) {
            QDBusMessage reply = call.createReply();
            reply << code << QVariantMap();
            m_bus.send(reply);
            return;
        }
        QDBusMessage response = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << code << results;
        const QDBusMessage reply = call.createReply(QVariant::fromValue(QDBusObjectPath(request)));
        if (answerBeforeReply) {
            m_bus.send(response);
            m_bus.send(reply);
        } else {
            m_bus.send(reply);
            m_bus.send(response);
        }
    }

    Role m_role;
    QDBusConnection m_bus = QDBusConnection::connectToBus(
        QDBusConnection::SessionBus, QStringLiteral("test-portal-%1").arg(++s_connections));
    static inline int s_connections = 0;
};

QString quilloImage() {
    for (const QStringList& extra : listMenuExtras())
        if (extra.value(0) == QStringLiteral("com.orvane.quillo"))
            return extra.value(2);
    return QString();
}

} // namespace

class TestHotKeysPortal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        QVERIFY(installQuilloWithSampleStore());
    }

    void triggerText_data() {
        QTest::addColumn<uint>("keyCode");
        QTest::addColumn<uint>("modifiers");
        QTest::addColumn<QString>("trigger"); // "-": none
        QTest::newRow("menu's default")
            << uint(kVK_Space) << (controlKey | optionKey | cmdKey) << "CTRL+ALT+LOGO+space";
        QTest::newRow("all four") << uint(kVK_F12) << (cmdKey | shiftKey | optionKey | controlKey)
                                  << "CTRL+ALT+SHIFT+LOGO+F12";
        QTest::newRow("shift F1") << uint(kVK_F1) << shiftKey << "SHIFT+F1";
        QTest::newRow("alt F5") << uint(kVK_F5) << optionKey << "ALT+F5";
        QTest::newRow("F10 alone") << uint(kVK_F10) << 0u << "F10";
        QTest::newRow("logo space") << uint(kVK_Space) << cmdKey << "LOGO+space";
        QTest::newRow("no such key") << 0u << cmdKey << "-";
        QTest::newRow("modifier key") << uint(kVK_Shift) << controlKey << "-";
        QTest::newRow("unknown modifier") << uint(kVK_Space) << 0x4000u << "-";
    }
    void triggerText() {
        QFETCH(uint, keyCode);
        QFETCH(uint, modifiers);
        QFETCH(QString, trigger);
        QCOMPARE(portalTriggerForHotKey(keyCode, modifiers).value_or(QStringLiteral("-")), trigger);
    }

    void boundThroughThePortal() {
        TestPortal portal;
        QVERIFY(portal.start());
        QCOMPARE(writeSetting("useOpenMenuKey", "1"), 0);
        QCOMPARE(writeSetting("useQuickAddKey", "1"), 0);

        ServerProcess server(kServer);
        QVERIFY(server.start());
        QCOMPARE(
            callServerAnswering(QStringLiteral("AddMenuExtra"), {quilloMenuURL().toLocalFile()})
                .toInt(),
            0);
        // Both keys in one bind, in the session just made.
        QTRY_COMPARE(portal.binds.size(), 1);
        QCOMPARE(portal.sessions.size(), 1);
        const QString session = portal.sessions.first();
        QCOMPARE(portal.binds.first(),
                 session + "\ngQLk-1 | Open the Quillo menu | CTRL+ALT+LOGO+space"
                           "\ngQLk-2 | Quillo: Quick Add | CTRL+ALT+SHIFT+LOGO+space");

        // The desktop reports the key: the rich menu pops up. Another session's or an
        // unknown shortcut does nothing.
        QVERIFY(portal.activate(session + "x", QStringLiteral("gQLk-1")));
        QVERIFY(portal.activate(session, QStringLiteral("gQLk-9")));
        QTest::qWait(300);
        QCOMPARE(callServerAnswering(QStringLiteral("ShownMenu")).toString(), QString());
        QVERIFY(portal.activate(session, QStringLiteral("gQLk-1")));
        QTRY_VERIFY(callServerAnswering(QStringLiteral("ShownMenu"))
                        .toString()
                        .contains(QStringLiteral("\"Buy milk, eggs\" enabled")));

        // Other modifiers in the settings: the set is bound again in the same session.
        QCOMPARE(writeSetting("openMenuModifiers", "4864"), 0); // Control, Shift, Super
        QTRY_COMPARE(portal.binds.size(), 2);
        QCOMPARE(portal.binds.last(),
                 session + "\ngQLk-1 | Open the Quillo menu | CTRL+SHIFT+LOGO+space"
                           "\ngQLk-2 | Quillo: Quick Add | CTRL+ALT+SHIFT+LOGO+space");
        // A setting that leaves the keys as they are sends nothing.
        QCOMPARE(writeSetting("menuIconImage", "2"), 0);
        QTRY_VERIFY(quilloImage().startsWith(QStringLiteral("graphiteToDoMenuIconCalendar")));
        QTest::qWait(300);
        QCOMPARE(portal.binds.size(), 2);
        QCOMPARE(portal.sessions.size(), 1);

        // A refusal and an error are one log line each; the server carries on.
        const QString refused = "Quillo :: RegisterEventHotKey :: the desktop's GlobalShortcuts "
                                "portal refused the shortcuts (response 1)" +
                                kInstead;
        const QString failed = "Quillo :: RegisterEventHotKey :: the desktop's GlobalShortcuts "
                               "portal failed (org.freedesktop.portal.Error.Failed: no keys "
                               "today)" +
                               kInstead;
        portal.bindResponse = 1;
        QCOMPARE(writeSetting("openMenuKey", "120"), 0);
        QTRY_VERIFY(server.log().contains(refused));
        portal.bindResponse = 0;
        portal.failBinds = true;
        QCOMPARE(writeSetting("openMenuKey", "99"), 0);
        QTRY_VERIFY(server.log().contains(failed));
        QTest::qWait(300);
        QCOMPARE(server.log().count(refused), 1);
        QCOMPARE(server.log().count(failed), 1);
        QCOMPARE(portal.binds.size(), 4);
        portal.failBinds = false;

        // The keys switched off: one left is bound alone, none left closes the session.
        QCOMPARE(writeSetting("useQuickAddKey", "0"), 0);
        QTRY_COMPARE(portal.binds.size(), 5);
        QCOMPARE(portal.binds.last(),
                 session + "\ngQLk-1 | Open the Quillo menu | CTRL+SHIFT+LOGO+F3");
        QCOMPARE(writeSetting("useOpenMenuKey", "0"), 0);
        QTRY_COMPARE(portal.closed, QStringList{session});
        QCOMPARE(portal.binds.size(), 5);

        // On again: a new session. A portal that answers its Request after the reply
        // is heard as well, and a session handle that is no path is taken for the one
        // the client asked for.
        portal.answerBeforeReply = false;
        portal.garbledSessionHandle = true;
        QCOMPARE(writeSetting("useOpenMenuKey", "1"), 0);
        QTRY_COMPARE(portal.binds.size(), 6);
        QCOMPARE(portal.sessions.size(), 2);
        QVERIFY(portal.binds.last().startsWith(portal.sessions.last() + "\ngQLk-1 | "));

        // The portal goes away (one log line) and comes back: bound anew.
        portal.vanish();
        QTRY_VERIFY(server.log().contains(
            "Quillo :: RegisterEventHotKey :: the desktop's GlobalShortcuts portal went away, so "
            "no global hot key until it is back; a keyboard shortcut of the desktop can run "
            "\"menubar-server --pop-up IDENTIFIER\" instead"));
        QVERIFY(portal.start());
        QTRY_COMPARE(portal.binds.size(), 7);
        QCOMPARE(portal.sessions.size(), 3);
        QVERIFY(portal.binds.last().startsWith(portal.sessions.last() + "\ngQLk-1 | "));
        QVERIFY(!server.log().contains(QStringLiteral("no X11 display")));

        QVERIFY2(server.quitCleanly(), qPrintable(server.log().right(2500)));
    }

    // The same through the real frontend, xdg-desktop-portal, in front of the test's
    // backend: the paths the client predicts, the Responses and Activated it forwards,
    // the rebind and the session it closes.
    void throughTheFrontend() {
        const QString frontend = QStringLiteral("/usr/libexec/xdg-desktop-portal");
        QVERIFY2(QFileInfo::exists(frontend), "xdg-desktop-portal is needed (scripts/deps.sh)");
        TestPortal backend(TestPortal::Role::Backend);
        QVERIFY(backend.start());
        const QString portals = testenv::home() + QStringLiteral("/portals");
        QVERIFY(QDir().mkpath(portals));
        QFile description(portals + QStringLiteral("/quillotest.portal"));
        QVERIFY(description.open(QIODevice::WriteOnly));
        description.write("[portal]\nDBusName=" + TestPortal::kBackendService.toUtf8() +
                          "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\n"
                          "UseIn=quillotest\n");
        description.close();
        QProcess xdp;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), portals);
        env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("quillotest"));
        xdp.setProcessEnvironment(env);
        xdp.setProcessChannelMode(QProcess::MergedChannels);
        xdp.start(frontend, {});
        QVERIFY(xdp.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered(kPortalService), 10000);

        // Quillo is remembered; both keys again, the descriptions in the user's language.
        QCOMPARE(writeSetting("useQuickAddKey", "1"), 0);
        ServerProcess server(kServer);
        qputenv("LC_ALL", "de_DE.UTF-8");
        const bool started = server.start();
        qputenv("LC_ALL", "C.UTF-8");
        QVERIFY(started);
        QTRY_VERIFY2_WITH_TIMEOUT(backend.binds.size() == 1,
                                  qPrintable(server.log() + xdp.readAll()), 10000);
        QCOMPARE(backend.sessions.size(), 1);
        const QString session = backend.sessions.first();
        QCOMPARE(backend.binds.first(),
                 session + "\ngQLk-1 | Quillo-Menü öffnen | CTRL+SHIFT+LOGO+F3"
                           "\ngQLk-2 | Quillo: Schnell hinzufügen | CTRL+ALT+SHIFT+LOGO+space");
        QVERIFY(backend.activate(session, QStringLiteral("gQLk-1")));
        QTRY_VERIFY(callServerAnswering(QStringLiteral("ShownMenu"))
                        .toString()
                        .contains(QStringLiteral("\"Buy milk, eggs\" enabled")));

        QCOMPARE(writeSetting("useQuickAddKey", "0"), 0);
        QTRY_COMPARE(backend.binds.size(), 2);
        QCOMPARE(writeSetting("useOpenMenuKey", "0"), 0);
        QTRY_COMPARE(backend.closed, QStringList{session});

        QVERIFY(server.quit());
        xdp.terminate();
        QVERIFY(xdp.waitForFinished(5000));
    }
};

QUILLO_TRAY_TEST_MAIN(TestHotKeysPortal, kServer)

#include "tst_hotkeys_portal.moc"
