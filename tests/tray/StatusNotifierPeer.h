#pragma once

// A StatusNotifierWatcher and host of the test's own on the session bus, for what a real
// panel cannot be asked: which items registered, their properties, their exported menu's
// layout (GetLayout), and choosing an entry of it (Event).

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace traytest {

// One entry of an exported menu, as GetLayout gives it.
struct MenuNode {
    int id = 0;
    QVariantMap properties;
    QList<MenuNode> children;

    QString label() const { return properties.value(QStringLiteral("label")).toString(); }
    bool enabled() const { return properties.value(QStringLiteral("enabled"), true).toBool(); }
    bool isSeparator() const {
        return properties.value(QStringLiteral("type")).toString() == QLatin1String("separator");
    }
    // The icon's pixels; a null image when the entry has none.
    QImage icon() const;
    // The first entry at any depth with this label; null when none.
    const MenuNode* find(const QString& label) const;
    // One line per entry, indented by depth: "label" [disabled] [icon] [submenu].
    QString dump(int indent = 0) const;
};

// Reads a layout node "(ia{sv}av)" of a GetLayout answer.
void readLayout(const QVariant& node, MenuNode& into);

class StatusNotifierPeer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    StatusNotifierPeer();
    ~StatusNotifierPeer() override;

    // Takes the watcher's name and registers a host; false when the name is taken.
    bool start();
    void stop();

    QStringList registeredItems() const { return m_items; }
    bool hostRegistered() const { return m_started; }
    int protocolVersion() const { return 0; }

    // Reads an item registered with another watcher (a real panel): "service/path".
    void useItem(const QString& entry) { m_items = QStringList{entry}; }

    // The bus service and path of the first registered item; nothing before one is.
    std::optional<std::pair<QString, QString>> firstItem() const;
    // A property of the first item's org.kde.StatusNotifierItem interface.
    QVariant itemProperty(const QString& name) const;
    // The first item's exported menu: AboutToShow on the root, then GetLayout.
    std::optional<MenuNode> menuLayout(bool aboutToShow = true) const;
    // Sends "clicked" for an entry of the first item's exported menu.
    bool clickMenuEntry(int id) const;
    // Calls a method of the first item (Activate, ContextMenu) at a point.
    bool callItem(const QString& method, int x, int y) const;
    // Records the first item's NewStatus signals from now on.
    bool watchStatus();
    const QStringList& statusesSignalled() const { return m_statuses; }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);
    void RegisterStatusNotifierHost(const QString& service);

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private slots:
    void itemNewStatus(const QString& status) { m_statuses << status; }

private:
    QString menuPath() const;
    QStringList m_items;
    QStringList m_statuses;
    bool m_started = false;
};

} // namespace traytest
