#include "StatusNotifierPeer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDateTime>

namespace traytest {

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

// The layout node "(ia{sv}av)"; each child is a variant holding a node.
void readNode(const QDBusArgument& argument, MenuNode& node) {
    argument.beginStructure();
    argument >> node.id >> node.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        MenuNode childNode;
        readNode(child.variant().value<QDBusArgument>(), childNode);
        node.children << childNode;
    }
    argument.endArray();
    argument.endStructure();
}

QDBusMessage call(QDBusMessage message) {
    // Events are handled while waiting: the server may call the watcher meanwhile.
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 10000);
}

} // namespace

void readLayout(const QVariant& node, MenuNode& into) {
    readNode(node.value<QDBusArgument>(), into);
}

QImage MenuNode::icon() const {
    const QByteArray png = properties.value(QStringLiteral("icon-data")).toByteArray();
    return png.isEmpty() ? QImage() : QImage::fromData(png, "PNG");
}

const MenuNode* MenuNode::find(const QString& wanted) const {
    if (label() == wanted)
        return this;
    for (const MenuNode& child : children)
        if (const MenuNode* found = child.find(wanted))
            return found;
    return nullptr;
}

QString MenuNode::dump(int indent) const {
    QString out;
    for (const MenuNode& child : children) {
        out += QString(indent * 4, QLatin1Char(' '));
        if (child.isSeparator()) {
            out += QLatin1String("----\n");
            continue;
        }
        out += QLatin1Char('"') + child.label() + QLatin1Char('"');
        if (!child.enabled())
            out += QLatin1String(" disabled");
        if (!child.icon().isNull())
            out += QLatin1String(" icon");
        if (child.properties.value(QStringLiteral("children-display")).toString() ==
            QLatin1String("submenu"))
            out += QLatin1String(" submenu");
        out += QLatin1Char('\n') + child.dump(indent + 1);
    }
    return out;
}

StatusNotifierPeer::StatusNotifierPeer() = default;

StatusNotifierPeer::~StatusNotifierPeer() {
    stop();
}

bool StatusNotifierPeer::start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties))
        return false;
    if (!bus.registerService(kWatcher)) {
        bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        return false;
    }
    m_started = true;
    emit StatusNotifierHostRegistered();
    return true;
}

void StatusNotifierPeer::stop() {
    if (!m_started)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(kWatcher);
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    m_started = false;
    m_items.clear();
}

void StatusNotifierPeer::RegisterStatusNotifierItem(const QString& service,
                                                    const QDBusMessage& message) {
    // An item names its bus service or its object path; the sender is the service then.
    const QString entry = service.startsWith(QLatin1Char('/'))
                              ? message.service() + service
                              : service + QStringLiteral("/StatusNotifierItem");
    if (!m_items.contains(entry))
        m_items << entry;
    emit StatusNotifierItemRegistered(entry);
}

void StatusNotifierPeer::RegisterStatusNotifierHost(const QString&) {}

std::optional<std::pair<QString, QString>> StatusNotifierPeer::firstItem() const {
    if (m_items.isEmpty())
        return std::nullopt;
    const QString& entry = m_items.first();
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    return std::make_pair(entry.left(slash), entry.mid(slash));
}

QVariant StatusNotifierPeer::itemProperty(const QString& name) const {
    const auto item = firstItem();
    if (!item)
        return QVariant();
    QDBusMessage get = QDBusMessage::createMethodCall(
        item->first, item->second, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kItemInterface << name;
    const QDBusMessage reply = call(get);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return QVariant();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QString StatusNotifierPeer::menuPath() const {
    return itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
}

std::optional<MenuNode> StatusNotifierPeer::menuLayout(bool aboutToShow) const {
    const auto item = firstItem();
    const QString path = menuPath();
    if (!item || path.isEmpty())
        return std::nullopt;
    if (aboutToShow) {
        QDBusMessage show = QDBusMessage::createMethodCall(item->first, path, kMenuInterface,
                                                           QStringLiteral("AboutToShow"));
        show << 0;
        if (call(show).type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(item->first, path, kMenuInterface,
                                                      QStringLiteral("GetLayout"));
    get << 0 << -1 << QStringList();
    const QDBusMessage reply = call(get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return std::nullopt;
    MenuNode root;
    readNode(reply.arguments().at(1).value<QDBusArgument>(), root);
    return root;
}

bool StatusNotifierPeer::clickMenuEntry(int id) const {
    const auto item = firstItem();
    const QString path = menuPath();
    if (!item || path.isEmpty())
        return false;
    QDBusMessage event =
        QDBusMessage::createMethodCall(item->first, path, kMenuInterface, QStringLiteral("Event"));
    event << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(QString()))
          << uint(QDateTime::currentSecsSinceEpoch());
    return call(event).type() == QDBusMessage::ReplyMessage;
}

bool StatusNotifierPeer::callItem(const QString& method, int x, int y) const {
    const auto item = firstItem();
    if (!item)
        return false;
    QDBusMessage message =
        QDBusMessage::createMethodCall(item->first, item->second, kItemInterface, method);
    message << x << y;
    return call(message).type() == QDBusMessage::ReplyMessage;
}

bool StatusNotifierPeer::watchStatus() {
    const auto item = firstItem();
    return item && QDBusConnection::sessionBus().connect(item->first, item->second, kItemInterface,
                                                         QStringLiteral("NewStatus"), this,
                                                         SLOT(itemNewStatus(QString)));
}

} // namespace traytest
