#include "platform/DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

namespace platform {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Signals of whichever program owns the name, now or later.
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                SLOT(serverActionInvoked(uint, QString)));
    bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                SLOT(serverNotificationClosed(uint, uint)));
}

DesktopNotifications::~DesktopNotifications() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                   SLOT(serverActionInvoked(uint, QString)));
    bus.disconnect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                   SLOT(serverNotificationClosed(uint, uint)));
}

void DesktopNotifications::notify(const Notification& notification,
                                  std::function<void(const Result&)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const QString why = bus.lastError().message();
        QMetaObject::invokeMethod(
            this,
            [done = std::move(done), why] {
                if (done)
                    done({std::nullopt, why.isEmpty() ? QStringLiteral("no session bus") : why});
            },
            Qt::QueuedConnection);
        return;
    }
    QStringList actions;
    for (const auto& [key, text] : notification.actions)
        actions << key << text;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << notification.appName << quint32(0) << QString() << notification.summary
         << notification.body.toHtmlEscaped() << actions << notification.hints
         << qint32(notification.expireTimeout);
    // Asked without waiting: a server that is slow to answer must not hold the menu up.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<quint32> reply = *finished;
                if (!done)
                    return;
                if (reply.isError())
                    done({std::nullopt,
                          reply.error().name() + QStringLiteral(": ") + reply.error().message()});
                else
                    done({reply.value(), QString()});
            });
}

void DesktopNotifications::close(quint32 id) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface,
                                                       QStringLiteral("CloseNotification"));
    call << id;
    QDBusConnection::sessionBus().asyncCall(call);
}

void DesktopNotifications::serverActionInvoked(uint id, const QString& actionKey) {
    emit actionInvoked(id, actionKey);
}

void DesktopNotifications::serverNotificationClosed(uint id, uint reason) {
    emit notificationClosed(id, reason);
}

} // namespace platform
