#include "platform/StatusNotifierItem.h"

#include "platform/DBusMenuExporter.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QtEndian>

#include <mutex>

namespace platform::sni {

// (iiay): width, height, ARGB32 pixels in network byte order.
struct Pixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using PixmapList = QList<Pixmap>;
// (sa(iiay)ss): icon name, pictures, title, text.
struct ToolTip {
    QString iconName;
    PixmapList pixmaps;
    QString title;
    QString text;
};

} // namespace platform::sni

Q_DECLARE_METATYPE(platform::sni::Pixmap)
Q_DECLARE_METATYPE(platform::sni::ToolTip)

namespace platform::sni {

QDBusArgument& operator<<(QDBusArgument& argument, const Pixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.pixels;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Pixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.pixels;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& tip) {
    argument.beginStructure();
    argument << tip.iconName << tip.pixmaps << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip& tip) {
    argument.beginStructure();
    argument >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

void registerTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<Pixmap>();
        qDBusRegisterMetaType<PixmapList>();
        qDBusRegisterMetaType<ToolTip>();
    });
}

} // namespace platform::sni

using namespace platform::sni;

namespace platform {

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");

} // namespace

// org.kde.StatusNotifierItem on the item's path.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ noName)
    Q_PROPERTY(QString IconName READ noName)
    Q_PROPERTY(platform::sni::PixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ noName)
    Q_PROPERTY(platform::sni::PixmapList OverlayIconPixmap READ noPixmap)
    Q_PROPERTY(QString AttentionIconName READ noName)
    Q_PROPERTY(platform::sni::PixmapList AttentionIconPixmap READ iconPixmap)
    Q_PROPERTY(QString AttentionMovieName READ noName)
    Q_PROPERTY(platform::sni::ToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), m_item(*item) {
        setAutoRelaySignals(false);
        connect(item, &StatusNotifierItem::newTitle, this, &StatusNotifierItemAdaptor::NewTitle);
        connect(item, &StatusNotifierItem::newIcon, this, &StatusNotifierItemAdaptor::NewIcon);
        // The attention icon is the icon: a host that shows it shows the same.
        connect(item, &StatusNotifierItem::newIcon, this,
                &StatusNotifierItemAdaptor::NewAttentionIcon);
        connect(item, &StatusNotifierItem::newToolTip, this,
                &StatusNotifierItemAdaptor::NewToolTip);
        connect(item, &StatusNotifierItem::newStatus, this, &StatusNotifierItemAdaptor::NewStatus);
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return m_item.id(); }
    QString title() const { return m_item.title(); }
    QString status() const {
        return m_item.status() == StatusNotifierItem::Status::NeedsAttention
                   ? QStringLiteral("NeedsAttention")
                   : QStringLiteral("Active");
    }
    int windowId() const { return 0; }
    QString noName() const { return QString(); }
    PixmapList noPixmap() const { return {}; }
    PixmapList iconPixmap() const {
        PixmapList list;
        for (const QImage& picture : m_item.icon())
            list << Pixmap{picture.width(), picture.height(),
                           StatusNotifierItem::networkOrderPixels(picture)};
        return list;
    }
    platform::sni::ToolTip toolTip() const {
        return platform::sni::ToolTip{QString(), {}, m_item.toolTip(), QString()};
    }
    bool itemIsMenu() const { return m_item.itemIsMenu(); }
    QDBusObjectPath menu() const { return QDBusObjectPath(m_item.menuPath()); }

public slots:
    // The clicks come back after the answer: a host waits for it, and a menu shown
    // meanwhile would keep it waiting.
    void Activate(int x, int y) { later(&StatusNotifierItem::activated, QPoint(x, y)); }
    void SecondaryActivate(int x, int y) {
        later(&StatusNotifierItem::secondaryActivated, QPoint(x, y));
    }
    void ContextMenu(int x, int y) {
        later(&StatusNotifierItem::contextMenuRequested, QPoint(x, y));
    }
    void Scroll(int delta, const QString& orientation) {
        (void)delta;
        (void)orientation;
    }

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    void later(void (StatusNotifierItem::*signal)(const QPoint&), QPoint at) {
        StatusNotifierItem* item = &m_item;
        QMetaObject::invokeMethod(
            item, [item, signal, at] { emit(item->*signal)(at); }, Qt::QueuedConnection);
    }

    StatusNotifierItem& m_item;
};

StatusNotifierItem::StatusNotifierItem(const QString& id, QMenu& menu, QObject* parent)
    : QObject(parent), m_id(id), m_title(id) {
    registerTypes();
    static int count = 0;
    const int n = ++count;
    m_connectionName = QStringLiteral("quillo-statusnotifieritem-%1").arg(n);
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
    m_menu = std::make_unique<DBusMenuExporter>(menu, bus, kMenuPath);
    new StatusNotifierItemAdaptor(this);
    if (!bus.isConnected()) {
        NSLog(QStringLiteral("menubar-server :: tray :: no session bus for the item %1").arg(id));
        return;
    }
    const QString service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                                .arg(QCoreApplication::applicationPid())
                                .arg(n);
    if (!bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors) ||
        !bus.registerService(service)) {
        NSLog(QStringLiteral("menubar-server :: tray :: cannot take the bus name %1: %2")
                  .arg(service, bus.lastError().message()));
        return;
    }
    m_service = service;
    auto* watcher =
        new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty())
                    setRegistered(false);
                else
                    registerWithWatcher();
            });
    if (bus.interface()->isServiceRegistered(kWatcher))
        registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    m_menu.reset();
    QDBusConnection bus(m_connectionName);
    if (!m_service.isEmpty()) {
        bus.unregisterObject(kItemPath);
        bus.unregisterService(m_service);
    }
    for (QDBusServiceWatcher* watcher : findChildren<QDBusServiceWatcher*>())
        delete watcher;
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QString StatusNotifierItem::menuPath() const {
    return m_menu && m_menu->isExported() ? kMenuPath : QStringLiteral("/NO_DBUSMENU");
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    auto* pending =
        new QDBusPendingCallWatcher(QDBusConnection(m_connectionName).asyncCall(call, 10000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (finished->isError())
                    NSLog(QStringLiteral("menubar-server :: tray :: the StatusNotifierWatcher "
                                         "did not take the item %1: %2")
                              .arg(m_id, finished->error().message()));
                setRegistered(!finished->isError());
            });
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (registered == m_registered)
        return;
    m_registered = registered;
    emit registeredChanged(registered);
}

void StatusNotifierItem::setTitle(const QString& title) {
    if (title == m_title)
        return;
    m_title = title;
    emit newTitle();
}

void StatusNotifierItem::setIcon(const QList<QImage>& pictures) {
    m_pictures = pictures;
    emit newIcon();
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    emit newToolTip();
}

void StatusNotifierItem::setStatus(Status status) {
    if (status == m_status)
        return;
    m_status = status;
    emit newStatus(status == Status::NeedsAttention ? QStringLiteral("NeedsAttention")
                                                    : QStringLiteral("Active"));
}

void StatusNotifierItem::setItemIsMenu(bool itemIsMenu) {
    m_itemIsMenu = itemIsMenu;
}

QByteArray StatusNotifierItem::networkOrderPixels(const QImage& picture) {
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    QByteArray bytes(qsizetype(argb.width()) * argb.height() * 4, Qt::Uninitialized);
    auto* out = reinterpret_cast<quint32*>(bytes.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            *out++ = qToBigEndian(line[x]);
    }
    return bytes;
}

} // namespace platform

#include "StatusNotifierItem.moc"
