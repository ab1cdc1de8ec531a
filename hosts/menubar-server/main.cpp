// menubar-server: shows menu extras (plug-in bundles) in the desktop's system tray.
//   menubar-server                          run (one per login session, on the session bus)
//   menubar-server --print PATH-OR-ID       print the menu of a menu extra and exit
//   menubar-server --pop-up IDENTIFIER      pop the menu of a loaded extra up at the pointer
#include "MenuBarServer.h"
#include "menubarserver_adaptor.h"

#include "platform/CoreMenuExtra.h"
#include "platform/Log.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <cstdio>
#include <cstdlib>

namespace {

void say(FILE* to, const QString& text) {
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
    std::fflush(to);
}

int usage() {
    say(stderr, QStringLiteral("usage: menubar-server [--print PATH-OR-IDENTIFIER | --pop-up "
                               "IDENTIFIER]"));
    return 2;
}

int print(const QString& pathOrIdentifier) {
    const QString location = MenuBarServer::locateBundle(pathOrIdentifier);
    if (location.isEmpty()) {
        say(stderr, QStringLiteral("menubar-server: %1 is neither a bundle folder nor the "
                                   "identifier of a remembered menu extra")
                        .arg(pathOrIdentifier));
        return 1;
    }
    QString why;
    auto loaded = MenuBarServer::loadMenuExtra(location, nullptr, &why);
    if (!loaded) {
        say(stderr,
            QStringLiteral("menubar-server: %1 is not a menu extra: %2").arg(location, why));
        return 1;
    }
    platform::NSMenu* menu = loaded->object()->menu();
    std::fputs(menu ? platform::dumpMenu(*menu).toUtf8().constData() : "(no menu)\n", stdout);
    std::fflush(stdout);
    loaded.reset();
    return 0;
}

int popUp(const QString& identifier) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        platform::kMenuBarServerService, platform::kMenuBarServerPath,
        platform::kMenuBarServerInterface, QStringLiteral("PopUpMenu"));
    call << identifier;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        say(stderr, QStringLiteral("menubar-server: the server cannot be reached: %1")
                        .arg(reply.errorMessage()));
        return 1;
    }
    if (reply.arguments().value(0).toInt() != 0) {
        say(stderr, QStringLiteral("menubar-server: no menu extra %1 is loaded").arg(identifier));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i)
            list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    if (!args.isEmpty() && args.size() != 2)
        return usage();
    if (!args.isEmpty() && args[0] == QStringLiteral("--print")) {
        // No display needed: the menu is built and printed, never shown.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        const int status = print(args[1]);
        // A plug-in may leave a detached worker (an update check) running; do not wait
        // for it, and do not tear the process down under it.
        std::quick_exit(status);
    }
    if (!args.isEmpty() && args[0] == QStringLiteral("--pop-up")) {
        QCoreApplication app(argc, argv);
        return popUp(args[1]);
    }
    if (!args.isEmpty())
        return usage();

    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        say(stderr, QStringLiteral("menubar-server: no session bus"));
        return 1;
    }
    MenuBarServer server;
    new MenuBarServerAdaptor(&server);
    if (!bus.registerObject(platform::kMenuBarServerPath, &server) ||
        !bus.registerService(platform::kMenuBarServerService)) {
        say(stderr, QStringLiteral("menubar-server: another server is running in this session"));
        return 1;
    }
    server.loadRemembered();
    const int status = app.exec();
    bus.unregisterService(platform::kMenuBarServerService);
    return status;
}
