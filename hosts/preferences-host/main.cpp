// preferences-host PATH.prefPane: shows a settings pane in a window. A second start for
// the same pane raises the window already open and ends.
#include "PreferencesHost.h"

#include "platform/Alert.h"
#include "platform/Log.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QUrl>

#include <cstdio>

namespace {

const QString objectPath = QStringLiteral("/org/quillo/PreferencesHost");
const QString interfaceName = QStringLiteral("org.quillo.PreferencesHost");

void say(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// A file URL names a folder too (the desktop passes one when opening a bundle).
QString panePathFromArgument(const QString& argument) {
    const QUrl url(argument);
    return url.isLocalFile() ? url.toLocalFile() : argument;
}

bool raiseRunningHost(QDBusConnection& bus, const QString& service) {
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        service, objectPath, interfaceName, QStringLiteral("Raise")));
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) {
        say(QStringLiteral("usage: preferences-host PATH.prefPane"));
        return 2;
    }
    const QString panePath = panePathFromArgument(args.first());

    PreferencesHost host;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = PreferencesHost::serviceNameForPane(panePath);
    if (bus.isConnected()) {
        bus.registerObject(objectPath, &host, QDBusConnection::ExportScriptableSlots);
        const auto registered =
            bus.interface()->registerService(service, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        if (registered.value() != QDBusConnectionInterface::ServiceRegistered) {
            if (raiseRunningHost(bus, service))
                return 0;
            platform::NSLog(QStringLiteral("preferences-host :: main :: the window of %1 is "
                                           "open but does not answer")
                                .arg(panePath));
            return 1;
        }
    } else {
        platform::NSLog(
            QStringLiteral("preferences-host :: main :: no session bus; a second window may open"));
    }

    QString why;
    if (!host.load(panePath, &why)) {
        const QString message = QStringLiteral("%1 is not a settings pane: %2").arg(panePath, why);
        say(QStringLiteral("preferences-host: ") + message);
        platform::NSLog(QStringLiteral("preferences-host :: load :: ") + message);
        platform::Alert alert;
        alert.style = platform::AlertStyle::Critical;
        alert.title = QStringLiteral("The settings cannot be shown");
        alert.message = message;
        platform::runModalAlert(alert);
        return 1;
    }
    const int status = app.exec();
    if (bus.isConnected())
        bus.interface()->unregisterService(service);
    return status;
}
