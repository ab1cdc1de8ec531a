#include "TrayTestSupport.h"

#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace traytest {
namespace {

pid_t g_busPid = 0;

void stopBus() {
    if (g_busPid > 0)
        kill(g_busPid, SIGTERM);
}

bool waitFor(const std::function<bool()>& condition, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace

void startPrivateBus(const QString& serverBinary) {
    const QString root = testenv::home() + QStringLiteral("/bus");
    const QString services = root + QStringLiteral("/services");
    QDir().mkpath(services);
    QFile service(services + QStringLiteral("/org.quillo.MenuBarServer.service"));
    if (!service.open(QIODevice::WriteOnly))
        std::abort();
    service.write(QStringLiteral("[D-BUS Service]\nName=org.quillo.MenuBarServer\nExec=%1\n")
                      .arg(serverBinary)
                      .toUtf8());
    service.close();
    QFile config(root + QStringLiteral("/session.conf"));
    if (!config.open(QIODevice::WriteOnly))
        std::abort();
    config.write(
        QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                       "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                       "busconfig.dtd\">\n<busconfig><type>session</type>"
                       "<listen>unix:tmpdir=%1</listen><auth>EXTERNAL</auth>"
                       "<servicedir>%2</servicedir><policy context=\"default\">"
                       "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
            .arg(root, services)
            .toUtf8());
    config.close();
    const QByteArray command =
        QStringLiteral("dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=%1")
            .arg(config.fileName())
            .toLocal8Bit();
    FILE* out = popen(command.constData(), "r");
    char address[1024] = {};
    char pid[64] = {};
    if (!out || !std::fgets(address, sizeof address, out) || !std::fgets(pid, sizeof pid, out))
        std::abort();
    pclose(out);
    g_busPid = pid_t(std::atoi(pid));
    std::atexit(stopBus);
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray(address).trimmed());
}

std::optional<QVariant> callServer(const QString& method, const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        platform::kMenuBarServerService, platform::kMenuBarServerPath,
        platform::kMenuBarServerInterface, method);
    message.setArguments(args);
    message.setAutoStartService(false);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments().value(0);
}

QVariant callServerAnswering(const QString& method, const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        platform::kMenuBarServerService, platform::kMenuBarServerPath,
        platform::kMenuBarServerInterface, method);
    message.setArguments(args);
    message.setAutoStartService(false);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 20000);
    QDeadlineTimer deadline(20000);
    while (!pending.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    if (!pending.isFinished() || pending.isError())
        return QVariant();
    return pending.reply().arguments().value(0);
}

bool serverRunning() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(
        platform::kMenuBarServerService);
}

QList<QStringList> listMenuExtras() {
    QList<QStringList> out;
    for (const QString& line :
         callServer(QStringLiteral("ListMenuExtras")).value_or(QVariant()).toStringList())
        out << line.split(QLatin1Char('\t'));
    return out;
}

QString shownMenu() {
    return callServer(QStringLiteral("ShownMenu")).value_or(QVariant()).toString();
}

ServerProcess::ServerProcess(const QString& binary) : m_binary(binary) {
    m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
}

ServerProcess::~ServerProcess() {
    if (m_process.state() != QProcess::NotRunning && !quit()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ServerProcess::start() {
    m_process.start(m_binary, {});
    // Running means owning the name: another server may hold it.
    const auto ownsName = [this] {
        return serverRunning() &&
               QDBusConnection::sessionBus().interface()->servicePid(
                   platform::kMenuBarServerService) == uint(m_process.processId());
    };
    return m_process.waitForStarted(5000) &&
           waitFor([&] { return ownsName() || m_process.state() == QProcess::NotRunning; }) &&
           ownsName();
}

bool ServerProcess::quit() {
    if (m_process.state() == QProcess::NotRunning)
        return true;
    callServer(QStringLiteral("Quit"));
    return m_process.waitForFinished(10000);
}

bool ServerProcess::quitCleanly() {
    return quit() && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QString ServerProcess::log() {
    m_log += m_process.readAllStandardError();
    return QString::fromUtf8(m_log);
}

Tray::~Tray() {
    stop();
}

bool Tray::start() {
    m_process.start(QStringLiteral("trayer"),
                    {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                     QStringLiteral("right"), QStringLiteral("--widthtype"),
                     QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
    return m_process.waitForStarted(5000);
}

void Tray::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

namespace {

// The first of the NUL-separated WM_CLASS parts; the value need not end in a NUL.
QByteArray wmClassInstance(xcb_get_property_reply_t* reply) {
    const QByteArray value(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    return value.left(value.indexOf('\0') == -1 ? value.size() : value.indexOf('\0'));
}

struct XWindow {
    xcb_window_t id;
    QRect geometry; // root coordinates
    bool viewable;
    bool overrideRedirect;
    QByteArray instance; // first part of WM_CLASS
    int depth;           // 1: a child of the root
    bool menu;           // of a menu's window type
};

// Every window of the tree, depth first.
QList<XWindow> windows() {
    QList<XWindow> out;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return out;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t wmClass = XCB_ATOM_WM_CLASS;
    std::function<void(xcb_window_t, QPoint, int)> walk = [&](xcb_window_t parent, QPoint origin,
                                                              int depth) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr);
        if (!tree)
            return;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const xcb_window_t w = children[i];
            auto* geo = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
            auto* attr =
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
            auto* cls = xcb_get_property_reply(
                c, xcb_get_property(c, 0, w, wmClass, XCB_ATOM_STRING, 0, 256), nullptr);
            if (geo && attr) {
                XWindow x{w,
                          QRect(origin + QPoint(geo->x, geo->y), QSize(geo->width, geo->height)),
                          attr->map_state == XCB_MAP_STATE_VIEWABLE,
                          bool(attr->override_redirect),
                          cls ? wmClassInstance(cls) : QByteArray(),
                          depth,
                          depth == 1 && isMenuWindow(c, w)};
                out << x;
                walk(w, x.geometry.topLeft(), depth + 1);
            }
            std::free(geo);
            std::free(attr);
            std::free(cls);
        }
        std::free(tree);
    };
    walk(root, QPoint(0, 0), 1);
    xcb_disconnect(c);
    return out;
}

} // namespace

bool isMenuWindow(xcb_connection_t* c, unsigned window) {
    const auto atom = [c](const char* name) {
        auto* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return a;
    };
    const xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t toolTip = atom("_NET_WM_WINDOW_TYPE_TOOLTIP");
    auto* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, type, XCB_ATOM_ATOM, 0, 16), nullptr);
    // Qt types a menu without a parent window as a normal one; an override-redirect
    // window that is no tool tip is the menu.
    bool menu = attributes && attributes->override_redirect && geometry && geometry->width > 1;
    if (reply) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
            menu = menu && atoms[i] != toolTip;
    }
    std::free(attributes);
    std::free(geometry);
    std::free(reply);
    return menu;
}

std::optional<QRect> trayIconOfServer() {
    // Embedded: below a window of the tray, not a child of the root.
    for (const XWindow& w : windows())
        if (w.instance == "menubar-server" && w.viewable && w.depth > 1)
            return w.geometry;
    return std::nullopt;
}

QList<QRect> menuWindowsOfServer() {
    QList<QRect> out;
    for (const XWindow& w : windows())
        if (w.instance == "menubar-server" && w.viewable && w.overrideRedirect && w.menu)
            out << w.geometry;
    return out;
}

bool xdotool(const QStringList& args) {
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

bool clickAt(const QRect& rect, int button) {
    const QPoint at = rect.center();
    return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                    QStringLiteral("click"), QString::number(button)});
}

bool fakeKeys(const QList<std::uint32_t>& symbols, bool press) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(c);
    bool ok = true;
    for (std::uint32_t symbol : symbols) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(syms, symbol);
        ok = ok && codes && *codes;
        if (codes && *codes)
            ok = ok && !xcb_request_check(c, xcb_test_fake_input_checked(
                                                 c, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, *codes,
                                                 XCB_CURRENT_TIME, root, 0, 0, 0));
        std::free(codes);
    }
    xcb_key_symbols_free(syms);
    xcb_disconnect(c);
    return ok;
}

} // namespace traytest
