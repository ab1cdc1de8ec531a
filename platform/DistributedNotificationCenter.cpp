#include "platform/DistributedNotificationCenter.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <mutex>
#include <vector>

namespace platform {
namespace {

const QString busPath = QStringLiteral("/org/quillo/platform/DistributedNotificationCenter");
const QString busInterface = QStringLiteral("org.quillo.platform.DistributedNotificationCenter");
const QString busMember = QStringLiteral("Notification");

} // namespace

// Lives on the main thread and receives the bus's signals there.
class NotificationRelay : public QObject {
    Q_OBJECT
public:
    explicit NotificationRelay(DistributedNotificationCenter::Private* center) : m_center(center) {}

public slots:
    void busNotification(const QDBusMessage& message);

private:
    DistributedNotificationCenter::Private* m_center;
};

struct DistributedNotificationCenter::Private {
    struct Entry {
        quint64 id;
        const void* observer;
        std::optional<QString> name;
        Handler handler;
    };

    std::mutex mutex;
    std::vector<Entry> entries;
    quint64 nextId = 1;
    QPointer<NotificationRelay> relay;
    bool relayMade = false;
    bool busConnected = false;
    QString ownBusName;

    // The relay, made on first use once an application object exists.
    NotificationRelay* ensureRelay() {
        std::lock_guard lock(mutex);
        QCoreApplication* app = QCoreApplication::instance();
        if (relayMade || !app)
            return relay;
        relayMade = true;
        auto* r = new NotificationRelay(this);
        if (QThread::currentThread() == app->thread())
            r->setParent(app); // goes with the application object
        else
            r->moveToThread(app->thread()); // kept for the life of the process
        relay = r;
        QDBusConnection bus = QDBusConnection::sessionBus();
        // Known before the first signal can reach the relay.
        ownBusName = bus.baseService();
        if (bus.isConnected() && bus.connect(QString(), busPath, busInterface, busMember, r,
                                             SLOT(busNotification(QDBusMessage)))) {
            busConnected = true;
        } else {
            const QString why = bus.lastError().message();
            NSLog(QStringLiteral("Quillo :: DistributedNotificationCenter :: No session bus (%1); "
                                 "notifications reach this process only")
                      .arg(why.isEmpty() ? QStringLiteral("unknown error") : why));
        }
        return relay;
    }

    void deliver(const QString& name, const QString& object) {
        std::vector<std::pair<quint64, Handler>> targets;
        {
            std::lock_guard lock(mutex);
            for (const Entry& e : entries)
                if (!e.name || *e.name == name)
                    targets.emplace_back(e.id, e.handler);
        }
        for (const auto& [id, handler] : targets) {
            // An earlier handler may have removed this one.
            bool stillThere = false;
            {
                std::lock_guard lock(mutex);
                for (const Entry& e : entries)
                    if (e.id == id) {
                        stillThere = true;
                        break;
                    }
            }
            if (stillThere && handler)
                handler(name, object);
        }
    }
};

void NotificationRelay::busNotification(const QDBusMessage& message) {
    // This process's own posts were delivered when they were made.
    if (message.service() == m_center->ownBusName)
        return;
    const QVariantList args = message.arguments();
    if (args.size() != 2 || args.at(0).typeId() != QMetaType::QString ||
        args.at(1).typeId() != QMetaType::QString)
        return;
    m_center->deliver(args.at(0).toString(), args.at(1).toString());
}

DistributedNotificationCenter::DistributedNotificationCenter() : d(std::make_unique<Private>()) {}

DistributedNotificationCenter::~DistributedNotificationCenter() = default;

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter() {
    // Never destroyed: observers and the relay may outlive static destruction order.
    static auto* center = new DistributedNotificationCenter;
    return *center;
}

void DistributedNotificationCenter::addObserver(const void* observer,
                                                const std::optional<QString>& name,
                                                Handler handler) {
    d->ensureRelay();
    std::lock_guard lock(d->mutex);
    d->entries.push_back({d->nextId++, observer, name, std::move(handler)});
}

void DistributedNotificationCenter::removeObserver(const void* observer) {
    std::lock_guard lock(d->mutex);
    std::erase_if(d->entries, [&](const Private::Entry& e) { return e.observer == observer; });
}

void DistributedNotificationCenter::removeObserver(const void* observer, const QString& name) {
    std::lock_guard lock(d->mutex);
    std::erase_if(d->entries, [&](const Private::Entry& e) {
        return e.observer == observer && e.name && *e.name == name;
    });
}

void DistributedNotificationCenter::postNotificationName(const QString& name,
                                                         const QString& object) {
    NotificationRelay* relay = d->ensureRelay();
    bool busConnected = false;
    {
        std::lock_guard lock(d->mutex);
        busConnected = d->busConnected;
    }
    if (busConnected) {
        QDBusMessage signal = QDBusMessage::createSignal(busPath, busInterface, busMember);
        signal << name << object;
        if (!QDBusConnection::sessionBus().send(signal))
            NSLog(QStringLiteral("Quillo :: DistributedNotificationCenter :: Could not post %1")
                      .arg(name));
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !relay || QThread::currentThread() == app->thread()) {
        d->deliver(name, object);
        return;
    }
    Private* p = d.get();
    QMetaObject::invokeMethod(
        relay, [p, name, object] { p->deliver(name, object); }, Qt::QueuedConnection);
}

} // namespace platform

#include "DistributedNotificationCenter.moc"
