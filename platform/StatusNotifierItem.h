#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

#include <memory>

class QMenu;

namespace platform {

class DBusMenuExporter;

// A tray item of the StatusNotifierItem protocol: the desktop's host shows its icon, its
// tool tip and its status, draws its exported menu, and hands the clicks over. Each item
// has a bus connection and name of its own (org.kde.StatusNotifierItem-<pid>-<n>), so
// that several can live in one process, and registers with the StatusNotifierWatcher
// whenever one is there (again when it restarts). Main thread only.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    enum class Status { Active, NeedsAttention };

    // The menu (exported at /MenuBar) must outlive the item.
    StatusNotifierItem(const QString& id, QMenu& menu, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // The item's bus name; empty when there is no session bus.
    const QString& serviceName() const { return m_service; }
    // Whether the watcher took the item: it is in the tray.
    bool isRegistered() const { return m_registered; }
    DBusMenuExporter& menuExporter() { return *m_menu; }

    void setTitle(const QString& title);
    // The icon at every pixel size it comes in (the host picks the nearest).
    void setIcon(const QList<QImage>& pictures);
    // The tool tip's title, as plain text.
    void setToolTip(const QString& text);
    void setStatus(Status status);
    // Whether a host shows the menu at every click instead of calling Activate.
    void setItemIsMenu(bool itemIsMenu);

    const QString& id() const { return m_id; }
    const QString& title() const { return m_title; }
    const QString& toolTip() const { return m_toolTip; }
    Status status() const { return m_status; }
    bool itemIsMenu() const { return m_itemIsMenu; }
    const QList<QImage>& icon() const { return m_pictures; }
    QString menuPath() const;

    // The pixels of a picture as the protocol carries them: ARGB32, big-endian.
    static QByteArray networkOrderPixels(const QImage& picture);

signals:
    // A left click (Activate), a middle click (SecondaryActivate), a host asking the item
    // to show its menu itself (ContextMenu); at the screen point the host gives.
    void activated(const QPoint& at);
    void secondaryActivated(const QPoint& at);
    void contextMenuRequested(const QPoint& at);
    void registeredChanged(bool registered);

    // For the adaptor.
    void newTitle();
    void newIcon();
    void newToolTip();
    void newStatus(const QString& status);

private:
    void registerWithWatcher();
    void setRegistered(bool registered);

    QString m_id;
    QString m_service;
    QString m_connectionName;
    QString m_title;
    QString m_toolTip;
    Status m_status = Status::Active;
    bool m_itemIsMenu = false;
    bool m_registered = false;
    QList<QImage> m_pictures;
    std::unique_ptr<DBusMenuExporter> m_menu;
};

} // namespace platform
