#include "MenuBarServer.h"

#include "platform/Alert.h"
#include "platform/CoreMenuExtra.h"
#include "platform/DBusMenuExporter.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/TrayPlacement.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>

#include <algorithm>

using platform::NSLog;

namespace {

QString configHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QString canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : c;
}

// A caller's argument in the log: at most 200 characters (a peer may send megabytes),
// never cut inside a surrogate pair.
QString forTheLog(const QString& text) {
    constexpr qsizetype limit = 200;
    if (text.size() <= limit)
        return text;
    const qsizetype cut = text.at(limit - 1).isHighSurrogate() ? limit - 1 : limit;
    return text.left(cut) + QChar(0x2026);
}

} // namespace

// ---- TrayItem

TrayItem::TrayItem(MenuBarServer& server,
                   std::unique_ptr<platform::LoadedPrincipal<platform::NSMenuExtra>> loaded,
                   QString identifier, QString location)
    : m_server(server), m_identifier(std::move(identifier)), m_location(std::move(location)),
      m_loaded(std::move(loaded)) {
    extra()->setHost(this);
    // The exported menu: a StatusNotifierItem host draws it (right click, every click on
    // Wayland); on an XEmbed tray it opens here at a right click.
    m_exported.setMarkup(server.usesStatusNotifier() ? platform::ExportedMenu::Markup::DBusMenu
                                                     : platform::ExportedMenu::Markup::Qt);
    m_exported.setRebuiltHandler([this] {
        if (m_item)
            m_item->menuExporter().menuRebuilt();
    });
    if (platform::NSMenu* built = extra()->lastMenu())
        m_exported.rebuild(built);
    connect(&m_exported.menu(), &QMenu::aboutToShow, this, &TrayItem::exportedMenuRequested);
    qApp->installEventFilter(this);
    showInTray();
}

TrayItem::~TrayItem() {
    // The open menus draw the extra's model: they go first, then the extra, then its code.
    delete m_menuWidget.data();
    m_item.reset();
    m_exported.menu().hide();
    m_exported.rebuild(nullptr);
    m_icon.reset();
    extra()->setHost(nullptr);
    m_loaded.reset();
}

void TrayItem::showInTray() {
    m_iconKey = IconKey();
    if (!m_server.usesStatusNotifier()) {
        m_icon = std::make_unique<QSystemTrayIcon>();
        connect(m_icon.get(), &QSystemTrayIcon::activated, this, &TrayItem::activated);
        updateToolTipAndStatus();
        updateIcon();
        m_icon->show();
        return;
    }
    m_item = std::make_unique<platform::StatusNotifierItem>(m_identifier, m_exported.menu());
    const std::optional<QVariant> name =
        extra()->bundle()
            ? extra()->bundle()->objectForInfoDictionaryKey(QStringLiteral("CFBundleName"))
            : std::nullopt;
    if (name && name->typeId() == QMetaType::QString && !name->toString().isEmpty())
        m_item->setTitle(name->toString());
    // On Wayland no self-drawn menu can open next to the icon: the host shows the
    // exported menu at every click.
    m_item->setItemIsMenu(MenuBarServer::onWayland());
    connect(m_item.get(), &platform::StatusNotifierItem::activated, this,
            &TrayItem::statusNotifierActivated);
    connect(m_item.get(), &platform::StatusNotifierItem::secondaryActivated, this,
            &TrayItem::popUpForClick);
    connect(m_item.get(), &platform::StatusNotifierItem::contextMenuRequested, this,
            &TrayItem::popUpForClick);
    connect(&m_item->menuExporter(), &platform::DBusMenuExporter::aboutToShow, this,
            &TrayItem::exportedMenuRequested);
    updateToolTipAndStatus();
    updateIcon();
}

void TrayItem::moveToStatusNotifier() {
    if (m_item)
        return;
    closeMenu();
    m_exported.menu().hide();
    m_icon.reset();
    m_exported.setMarkup(platform::ExportedMenu::Markup::DBusMenu);
    if (platform::NSMenu* built = extra()->lastMenu())
        m_exported.rebuild(built);
    showInTray();
}

platform::NSImagePtr TrayItem::shownImage() const {
    if (m_menuWidget && m_menuWidget->isVisible() && extra()->alternateImage())
        return extra()->alternateImage();
    return extra()->image();
}

bool TrayItem::isInTray() const {
    if (m_item)
        return m_item->isRegistered();
    return m_icon && m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

platform::NSMenu* TrayItem::openMenu() const {
    return m_menuWidget && m_menuWidget->isVisible() ? &m_menuWidget->model() : nullptr;
}

namespace {

// The pixel sizes of the tray picture: those hosts ask for, and each at the screens'
// device pixel ratio.
QList<int> trayPictureSizes(qreal ratio) {
    QList<int> sizes;
    for (const int size : {16, 22, 24, 32, 48, 64, 128}) {
        sizes << size;
        if (ratio > 1)
            sizes << qRound(size * ratio);
    }
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

// The picture at one pixel size: drawn from its source (an SVG stays sharp), as a shape
// in the panel's text colour when symbolic, with the count on it when above 0.
QImage trayPicture(const QIcon& base, int size, const std::optional<QColor>& ink, int count) {
    QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(0, 0, size, size), base.pixmap(QSize(size, size), 1.0));
    if (ink) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(picture.rect(), *ink);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (count > 0) {
        const QString text = count > 99 ? QStringLiteral("99+") : QString::number(count);
        const qreal diameter = size * 0.6;
        const QRectF badge(size - diameter, size - diameter, diameter, diameter);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xd0, 0x20, 0x20));
        painter.drawEllipse(badge);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(std::max(6, int(diameter * (text.size() > 1 ? 0.55 : 0.75))));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, text);
    }
    painter.end();
    return picture;
}

} // namespace

void TrayItem::updateIcon() {
    const platform::NSImagePtr image = shownImage();
    const platform::NSMenuExtraStatus& status = extra()->status();
    const QColor panelText = QGuiApplication::palette().color(QPalette::WindowText);
    const qreal ratio = qApp->devicePixelRatio();
    // The tray draws the icon again at every change, so an unchanged picture is not set.
    const IconKey key{image, status.badgeCount, status.symbolicImage, panelText.rgba(), ratio};
    if (image && key == m_iconKey)
        return;
    m_iconKey = key;
    // An extra without a picture still needs something to click on.
    const QIcon base =
        image ? image->icon() : QApplication::style()->standardIcon(QStyle::SP_FileDialogListView);
    const std::optional<QColor> ink =
        status.symbolicImage ? std::optional<QColor>(panelText) : std::nullopt;
    QList<QImage> pictures;
    for (const int size : trayPictureSizes(ratio))
        pictures << trayPicture(base, size, ink, status.badgeCount);
    if (m_item) {
        m_item->setIcon(pictures);
        return;
    }
    QIcon icon;
    for (const QImage& picture : pictures)
        icon.addPixmap(QPixmap::fromImage(picture));
    if (m_icon)
        m_icon->setIcon(icon);
}

void TrayItem::updateToolTipAndStatus() {
    const platform::NSMenuExtraStatus& status = extra()->status();
    const QString tip = status.toolTip.value_or(m_identifier);
    if (m_item) {
        // The protocol's tool tip title is plain text.
        m_item->setToolTip(tip);
        m_item->setStatus(status.needsAttention
                              ? platform::StatusNotifierItem::Status::NeedsAttention
                              : platform::StatusNotifierItem::Status::Active);
    } else if (m_icon) {
        // The next due to-do comes from a calendar file: shown as text, never as markup.
        m_icon->setToolTip(platform::plainTextToolTip(tip));
    }
}

bool TrayItem::eventFilter(QObject* watched, QEvent* event) {
    // A light panel turned dark (or back): the symbolic picture follows.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange &&
        extra()->status().symbolicImage)
        updateIcon();
    return QObject::eventFilter(watched, event);
}

void TrayItem::menuExtraStatusChanged(platform::NSMenuExtra*) {
    updateToolTipAndStatus();
    updateIcon();
}

void TrayItem::menuExtraImagesChanged(platform::NSMenuExtra*) {
    updateIcon();
}

void TrayItem::menuExtraPopUpMenu(platform::NSMenuExtra*, platform::NSMenu* menu) {
    popUp(menu, false);
}

void TrayItem::menuExtraMenuChanged(platform::NSMenuExtra*, platform::NSMenu* menu) {
    m_exported.rebuild(menu);
    m_exportedRebuilt = true;
}

void TrayItem::exportedMenuRequested() {
    if (m_exportedFresh)
        return;
    m_exportedRebuilt = false;
    platform::NSMenu* menu = extra()->menu();
    // An extra that does not report its rebuilds is followed here.
    if (!m_exportedRebuilt)
        m_exported.rebuild(menu);
}

void TrayItem::activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        // A left click: the rich menu, which takes modifier keys.
        popUpForClick();
        break;
    case QSystemTrayIcon::Context:
        // A right click on an XEmbed tray shows the exported menu here, next to the icon.
        popUpExported(std::nullopt);
        break;
    default:
        break;
    }
}

void TrayItem::statusNotifierActivated() {
    // A host that still calls Activate where it should have shown the exported menu
    // (Wayland, ItemIsMenu) gets that menu, placed by the compositor; on X11 a left click
    // shows the rich menu at the icon.
    if (MenuBarServer::onWayland())
        popUpExported(QCursor::pos());
    else
        popUpAtIcon();
}

void TrayItem::popUpForClick() {
    if (MenuBarServer::onWayland())
        popUpAtPointer();
    else
        popUpAtIcon();
}

void TrayItem::popUpExported(std::optional<QPoint> at) {
    closeMenu();
    // Built first, so that it is placed by its new size; not again as it shows.
    exportedMenuRequested();
    m_exportedFresh = true;
    QMenu& menu = m_exported.menu();
    menu.popup(at ? *at : placeNextToIcon(menu.sizeHint()));
    m_exportedFresh = false;
}

void TrayItem::popUpAtIcon() {
    popUp(extra()->menu(), true);
}

void TrayItem::popUpAtPointer() {
    popUp(extra()->menu(), false);
}

void TrayItem::closeMenu() {
    if (m_menuWidget)
        m_menuWidget->hide();
}

QPoint TrayItem::placeNextToIcon(const QSize& menuSize) const {
    // Next to the icon and the panel holding it, never over them. A StatusNotifierItem
    // host tells no icon geometry: the panel under the pointer (the click) stands in.
    const QPoint pointer = QCursor::pos();
    const QRect icon = m_icon ? m_icon->geometry() : QRect();
    QRect avoid = icon.isValid() ? icon : QRect(pointer, QSize(1, 1));
    if (const std::optional<QRect> panel = platform::panelUnderPointer())
        if (panel->contains(avoid.center()))
            avoid = avoid.united(*panel);
    if (!icon.isValid() && avoid.size() == QSize(1, 1))
        return pointer; // no icon and no panel: where the user clicked
    const QScreen* screen = QGuiApplication::screenAt(avoid.center());
    return platform::trayMenuPosition(avoid, icon.isValid() ? icon.left() : pointer.x(), menuSize,
                                      screen ? screen->geometry() : QRect());
}

void TrayItem::popUp(platform::NSMenu* menu, bool atIcon) {
    if (!menu)
        return;
    // One menu at a time: a widget drawing an older model goes. A closed widget is kept
    // until the next pop-up (or the end), so none is ever deleted from its own signal.
    delete m_menuWidget.data();
    auto* widget = new platform::MenuWidget(*menu);
    m_menuWidget = widget;
    connect(
        widget, &QMenu::aboutToHide, this, [this] { updateIcon(); }, Qt::QueuedConnection);
    const QPoint at = atIcon ? placeNextToIcon(widget->sizeHint()) : QCursor::pos();
    widget->popup(at);
    updateIcon();
}

// ---- MenuBarServer

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

MenuBarServer::MenuBarServer(QObject* parent) : QObject(parent) {
    // Qt chooses its tray protocol once, at the first tray icon: its own
    // StatusNotifierItem when a watcher with a host is there, XEmbed otherwise. The probe
    // makes that happen first; then we look. With a host we show our own items and never
    // a Qt tray icon; without one Qt's icons stay XEmbed ones, and a watcher that arrives
    // later gets our items in their place.
    m_protocolProbe = std::make_unique<QSystemTrayIcon>();
    watchForStatusNotifierWatcher();
    m_statusNotifier = statusNotifierHostRegistered();
}

bool MenuBarServer::onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool MenuBarServer::statusNotifierHostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcherService))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage &&
           reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
}

void MenuBarServer::watchForStatusNotifierWatcher() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &MenuBarServer::statusNotifierMaybeArrived);
    // A watcher may take its host a moment after its name.
    bus.connect(kWatcherService, kWatcherPath, kWatcherService,
                QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(statusNotifierMaybeArrived()));
}

void MenuBarServer::statusNotifierMaybeArrived() {
    if (m_statusNotifier || !statusNotifierHostRegistered())
        return;
    // The icons are XEmbed ones, which this desktop's tray may not show at all (and it
    // would draw no exported menu for them). Once moved, each item registers again by
    // itself whenever a watcher restarts.
    m_statusNotifier = true;
    NSLog(QStringLiteral("menubar-server :: tray :: a StatusNotifierItem host appeared; "
                         "showing the icons there"));
    for (const auto& item : m_items)
        item->moveToStatusNotifier();
}

MenuBarServer::~MenuBarServer() {
    while (!m_items.empty())
        m_items.pop_back();
}

QString MenuBarServer::listFilePath() {
    return configHome() + QStringLiteral("/menubar-server/MenuExtras.plist");
}

QString MenuBarServer::autostartFilePath() {
    return configHome() + QStringLiteral("/autostart/menubar-server.desktop");
}

QStringList MenuBarServer::rememberedLocations() {
    const std::optional<QVariant> list = platform::PropertyList::fromFile(listFilePath());
    QStringList out;
    if (list && list->typeId() == QMetaType::QVariantList)
        for (const QVariant& v : list->toList())
            if (v.typeId() == QMetaType::QString)
                out << v.toString();
    return out;
}

QString MenuBarServer::locateBundle(const QString& pathOrIdentifier) {
    if (QFileInfo(pathOrIdentifier).isDir())
        return pathOrIdentifier;
    for (const QString& location : rememberedLocations()) {
        const auto bundle = platform::Bundle::bundleWithPath(location);
        if (bundle && bundle->bundleIdentifier() == pathOrIdentifier)
            return location;
    }
    return QString();
}

std::unique_ptr<platform::LoadedPrincipal<platform::NSMenuExtra>>
MenuBarServer::loadMenuExtra(const QString& location, QString* identifier, QString* why) {
    const auto bundle = platform::Bundle::bundleWithPath(location);
    if (bundle && !bundle->bundleIdentifier()) {
        *why = QStringLiteral("its Info.plist names no CFBundleIdentifier");
        return nullptr;
    }
    auto loaded =
        platform::LoadedPrincipal<platform::NSMenuExtra>::load(location, "NSMenuExtra", why);
    if (loaded && identifier)
        *identifier = *loaded->plugIn().bundle()->bundleIdentifier();
    return loaded;
}

TrayItem* MenuBarServer::find(const QString& identifier) const {
    for (const auto& item : m_items)
        if (item->identifier() == identifier)
            return item.get();
    return nullptr;
}

void MenuBarServer::loadRemembered() {
    for (const QString& location : rememberedLocations()) {
        if (!QFileInfo(location).isDir()) {
            NSLog(QStringLiteral("menubar-server :: loadRemembered :: %1 is gone; forgotten")
                      .arg(location));
            continue;
        }
        // A bundle that exists but fails today (a broken update) is kept for next time.
        if (add(location, false) != Done)
            m_failedRemembered << location;
    }
    save();
}

int MenuBarServer::AddMenuExtra(const QString& location) {
    // A relative path would be taken against wherever the server happens to run.
    if (location.isEmpty() || QDir::isRelativePath(location)) {
        NSLog(QStringLiteral("menubar-server :: addMenuExtra :: %1 is not a menu extra: %2")
                  .arg(forTheLog(location), QStringLiteral("the path is not absolute")));
        return Invalid;
    }
    return add(location, true);
}

int MenuBarServer::add(const QString& location, bool remember) {
    const QString path = canonical(location);
    const auto bundle = platform::Bundle::bundleWithPath(path);
    if (bundle && bundle->bundleIdentifier() && find(*bundle->bundleIdentifier()))
        return Done; // loaded already: one instance of each extra
    QString identifier;
    QString why;
    auto loaded = loadMenuExtra(path, &identifier, &why);
    if (!loaded) {
        NSLog(QStringLiteral("menubar-server :: addMenuExtra :: %1 is not a menu extra: %2")
                  .arg(forTheLog(location), forTheLog(why)));
        return Invalid;
    }
    trayMaybeAvailable();
    m_items.push_back(std::make_unique<TrayItem>(*this, std::move(loaded), identifier, path));
    if (remember)
        save();
    platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
        platform::kMenuExtraAddedNotification, identifier);
    return Done;
}

int MenuBarServer::GetMenuExtra(const QString& identifier) {
    return find(identifier) ? Done : NotLoaded;
}

int MenuBarServer::RemoveMenuExtra(const QString& identifier) {
    const auto it = std::find_if(m_items.begin(), m_items.end(), [&](const auto& item) {
        return item->identifier() == identifier;
    });
    if (it == m_items.end())
        return NotLoaded;
    m_items.erase(it);
    save();
    platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
        platform::kMenuExtraRemovedNotification, identifier);
    return Done;
}

int MenuBarServer::PopUpMenu(const QString& identifier) {
    TrayItem* item = find(identifier);
    if (!item)
        return NotLoaded;
    // After the answer, so the caller is not kept waiting while the menu builds.
    QMetaObject::invokeMethod(
        this,
        [this, identifier] {
            if (TrayItem* i = find(identifier))
                i->popUpAtPointer();
        },
        Qt::QueuedConnection);
    return Done;
}

QStringList MenuBarServer::ListMenuExtras() {
    QStringList out;
    for (const auto& item : m_items) {
        const platform::NSImagePtr image = item->shownImage();
        out << QStringList{item->identifier(), item->location(), image ? image->name() : QString(),
                           item->isInTray() ? QStringLiteral("yes") : QStringLiteral("no")}
                   .join(QLatin1Char('\t'));
    }
    return out;
}

QString MenuBarServer::ShownMenu() {
    for (const auto& item : m_items)
        if (platform::NSMenu* menu = item->openMenu())
            return platform::dumpMenu(*menu);
    for (const auto& item : m_items)
        if (item->exportedMenu().menu().isVisible())
            return platform::ExportedMenu::dump(item->exportedMenu().menu());
    return QString();
}

bool MenuBarServer::TrayAvailable() {
    return m_statusNotifier ? statusNotifierHostRegistered()
                            : QSystemTrayIcon::isSystemTrayAvailable();
}

void MenuBarServer::Quit() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

void MenuBarServer::trayMaybeAvailable() {
    if (m_loggedNoTray || m_statusNotifier || QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_loggedNoTray = true;
    NSLog(QStringLiteral("menubar-server :: tray :: no system tray is available; the icons "
                         "will show when a tray appears"));
}

void MenuBarServer::save() {
    QStringList locations;
    for (const auto& item : m_items)
        locations << item->location();
    for (const QString& location : m_failedRemembered)
        if (!locations.contains(location))
            locations << location;
    const std::optional<QByteArray> bytes =
        platform::PropertyList::toData(QVariant(QVariantList(locations.begin(), locations.end())));
    if (!bytes || !writeFile(listFilePath(), *bytes))
        NSLog(QStringLiteral("menubar-server :: save :: cannot write %1").arg(listFilePath()));

    // Back at the next login exactly while something is loaded.
    const QString autostart = autostartFilePath();
    if (m_items.empty()) {
        QFile::remove(autostart);
        return;
    }
    const QByteArray entry = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Menu-bar server\n"
                                            "Comment=Shows Quillo and other menu extras in the "
                                            "system tray\n"
                                            "Exec=\"%1\"\n"
                                            "NoDisplay=true\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(QCoreApplication::applicationFilePath())
                                 .toUtf8();
    QFile current(autostart);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == entry)
        return;
    if (!writeFile(autostart, entry))
        NSLog(QStringLiteral("menubar-server :: save :: cannot write %1").arg(autostart));
}
