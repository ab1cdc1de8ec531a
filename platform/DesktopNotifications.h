#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

// The desktop's notification server (org.freedesktop.Notifications on the session bus):
// shows a notification with actions and reports what became of it. The bus is first
// used when the object is made (to hear the server's signals), so make one only when a
// notification is to be shown. Lives on the main thread.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    struct Notification {
        QString appName;
        QString summary;
        // The server may read markup in the body: plain text is escaped by notify.
        QString body;
        // Action keys and their texts, in the order the server is to show them.
        std::vector<std::pair<QString, QString>> actions;
        QVariantMap hints;
        // Milliseconds; -1 the server's default, 0 until the user closes it.
        int expireTimeout = -1;
    };

    // The server's id of a notification shown, or why it could not be shown.
    struct Result {
        std::optional<quint32> id;
        QString error;
    };

    explicit DesktopNotifications(QObject* parent = nullptr);
    ~DesktopNotifications() override;

    // Asks the server to show the notification; done is called from the event loop
    // with the outcome (never before notify returns), unless this object is gone.
    void notify(const Notification& notification, std::function<void(const Result&)> done);
    // Asks the server to close a notification it shows.
    void close(quint32 id);

signals:
    // The user chose an action of a notification (by its key).
    void actionInvoked(quint32 id, const QString& actionKey);
    // A notification went: expired, dismissed, closed by a call, or by its action.
    void notificationClosed(quint32 id, quint32 reason);

private slots:
    void serverActionInvoked(uint id, const QString& actionKey);
    void serverNotificationClosed(uint id, uint reason);
};

} // namespace platform
