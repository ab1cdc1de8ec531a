#pragma once

#include "platform/ExportedMenu.h"
#include "platform/MenuWidget.h"
#include "platform/NSMenuExtra.h"
#include "platform/PlugIn.h"
#include "platform/StatusNotifierItem.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>
#include <vector>

class MenuBarServer;

// One loaded menu extra: its plug-in, its tray item and the menu popped up from it. The
// item is a StatusNotifierItem of our own where the desktop has a watcher, or Qt's tray
// icon on an XEmbed tray.
class TrayItem : public QObject, public platform::NSMenuExtraHost {
    Q_OBJECT
public:
    TrayItem(MenuBarServer& server,
             std::unique_ptr<platform::LoadedPrincipal<platform::NSMenuExtra>> loaded,
             QString identifier, QString location);
    ~TrayItem() override;

    platform::NSMenuExtra* extra() const { return m_loaded->object(); }
    const QString& identifier() const { return m_identifier; }
    const QString& location() const { return m_location; }
    // The picture shown now (the alternate one while the menu is open).
    platform::NSImagePtr shownImage() const;
    bool isInTray() const;
    // The model of the open menu; null when none is open.
    platform::NSMenu* openMenu() const;
    // The menu the desktop draws (exported with the icon) or Qt draws at a right click.
    platform::ExportedMenu& exportedMenu() { return m_exported; }
    // A StatusNotifierItem host appeared after the item went to an XEmbed tray: the
    // item moves there.
    void moveToStatusNotifier();

    // Asks the extra for its menu and shows it at the icon, or at the pointer when the
    // tray gives no place for the icon.
    void popUpAtIcon();
    void popUpAtPointer();
    void closeMenu();

    void menuExtraImagesChanged(platform::NSMenuExtra* extra) override;
    void menuExtraPopUpMenu(platform::NSMenuExtra* extra, platform::NSMenu* menu) override;
    void menuExtraMenuChanged(platform::NSMenuExtra* extra, platform::NSMenu* menu) override;
    void menuExtraStatusChanged(platform::NSMenuExtra* extra) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showInTray();
    void popUp(platform::NSMenu* menu, bool atIcon);
    // The rich menu for a click a host handed over: at the icon on X11; on Wayland the
    // compositor places it.
    void popUpForClick();
    // The exported menu drawn here, as a plain menu: at the point, or next to the icon.
    void popUpExported(std::optional<QPoint> at);
    QPoint placeNextToIcon(const QSize& menuSize) const;
    void updateIcon();
    void updateToolTipAndStatus();
    void activated(QSystemTrayIcon::ActivationReason reason);
    void statusNotifierActivated();
    // The host (or Qt, at a right click) is about to show the exported menu: the extra
    // builds its menu as for a click, and the exported menu follows.
    void exportedMenuRequested();

    MenuBarServer& m_server;
    QString m_identifier;
    QString m_location;
    std::unique_ptr<platform::LoadedPrincipal<platform::NSMenuExtra>> m_loaded;
    // What the icon was last drawn from: picture, badge, form, panel colour, scale.
    struct IconKey {
        platform::NSImagePtr image;
        int badge = 0;
        bool symbolic = false;
        QRgb panelText = 0;
        qreal ratio = 1;
        friend bool operator==(const IconKey&, const IconKey&) = default;
    } m_iconKey;
    QPointer<platform::MenuWidget> m_menuWidget;
    platform::ExportedMenu m_exported;
    // One of the two: the XEmbed tray's icon, or the StatusNotifierItem (exporting
    // m_exported, so declared after it).
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::unique_ptr<platform::StatusNotifierItem> m_item;
    bool m_exportedRebuilt = false;
    bool m_exportedFresh = false;
};

// The menu-bar server: menu extras loaded by bundle location, each shown as a tray icon;
// the list of loaded bundles is remembered across logins and an autostart entry exists
// while any is loaded. The D-Bus adaptor calls the public slots.
class MenuBarServer : public QObject {
    Q_OBJECT
public:
    enum Status { Done = 0, NotLoaded = 1, Invalid = 2 };

    explicit MenuBarServer(QObject* parent = nullptr);
    ~MenuBarServer() override;

    // Loads the remembered bundles (at start).
    void loadRemembered();
    // The remembered bundle locations, in loading order.
    static QStringList rememberedLocations();
    // A remembered bundle with this identifier, or the argument itself when it is a folder.
    static QString locateBundle(const QString& pathOrIdentifier);

    static QString listFilePath();
    static QString autostartFilePath();

    // Loads a menu extra without tray or bus (--print); null with the reason.
    static std::unique_ptr<platform::LoadedPrincipal<platform::NSMenuExtra>>
    loadMenuExtra(const QString& location, QString* identifier, QString* why);

    void trayMaybeAvailable();

    // Whether the icons are StatusNotifierItems (a watcher with a host was there at start
    // or has come since), drawn by the desktop with their exported menus.
    bool usesStatusNotifier() const { return m_statusNotifier; }
    // Whether the display server is Wayland, where no click reaches a self-drawn menu
    // placed next to the icon.
    static bool onWayland();

public slots:
    int AddMenuExtra(const QString& location);
    int GetMenuExtra(const QString& identifier);
    int RemoveMenuExtra(const QString& identifier);
    int PopUpMenu(const QString& identifier);
    QStringList ListMenuExtras();
    QString ShownMenu();
    bool TrayAvailable();
    void Quit();

private slots:
    // A StatusNotifierWatcher or its host appeared on the bus.
    void statusNotifierMaybeArrived();

private:
    TrayItem* find(const QString& identifier) const;
    static bool statusNotifierHostRegistered();
    void watchForStatusNotifierWatcher();
    int add(const QString& location, bool remember);
    void save();

    std::vector<std::unique_ptr<TrayItem>> m_items;
    QStringList m_failedRemembered;
    bool m_loggedNoTray = false;
    bool m_statusNotifier = false;
    // Made at start so that Qt chooses its tray protocol then, before we look: with no
    // watcher there it stays with XEmbed for good, and a Qt tray icon made later never
    // becomes a second StatusNotifierItem beside ours.
    std::unique_ptr<QSystemTrayIcon> m_protocolProbe;
};
