#pragma once

// A notification server of the test's own (org.freedesktop.Notifications) on a bus
// connection of its own: it records each notification with the test clock's time of
// arrival, and the test invokes actions as a user would.
#include "platform/Clock.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class TestNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        quint32 id = 0;
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = -1;
        QDateTime when;
    };
    // The error a failing server answers with.
    static inline const QString refusal = QStringLiteral("org.quillo.Test.Refused");

    TestNotificationServer()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                              QStringLiteral("test-notification-server"))) {}
    ~TestNotificationServer() override {
        m_bus.unregisterService(service());
        m_bus.unregisterObject(path());
        QDBusConnection::disconnectFromBus(QStringLiteral("test-notification-server"));
    }

    bool start() {
        return m_bus.isConnected() &&
               m_bus.registerObject(path(), this, QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(service());
    }
    void setFailing(bool failing) { m_failing = failing; }

    const QList<Shown>& shown() const { return m_shown; }
    int calls() const { return m_calls; }
    const QList<quint32>& closed() const { return m_closed; }

    // The user chooses an action: the server says so and closes the notification.
    void invoke(quint32 id, const QString& actionKey) {
        QDBusMessage action =
            QDBusMessage::createSignal(path(), service(), QStringLiteral("ActionInvoked"));
        action << id << actionKey;
        m_bus.send(action);
        QDBusMessage closed =
            QDBusMessage::createSignal(path(), service(), QStringLiteral("NotificationClosed"));
        closed << id << quint32(2);
        m_bus.send(closed);
    }

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout) {
        Q_UNUSED(replacesId);
        Q_UNUSED(appIcon);
        ++m_calls;
        if (m_failing) {
            sendErrorReply(refusal, QStringLiteral("refused by the test"));
            return 0;
        }
        const quint32 id = ++m_lastId;
        m_shown.append(
            {id, appName, summary, body, actions, hints, expireTimeout, platform::Clock::now()});
        return id;
    }
    void CloseNotification(uint id) { m_closed.append(id); }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

private:
    static QString service() { return QStringLiteral("org.freedesktop.Notifications"); }
    static QString path() { return QStringLiteral("/org/freedesktop/Notifications"); }

    QDBusConnection m_bus;
    QList<Shown> m_shown;
    QList<quint32> m_closed;
    quint32 m_lastId = 0;
    int m_calls = 0;
    bool m_failing = false;
};
