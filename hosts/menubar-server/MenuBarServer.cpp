#include "MenuBarServer.h"

#include "platform/CoreMenuExtra.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>

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
    m_icon.setToolTip(m_identifier);
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
                    popUpAtIcon();
            });
    updateIcon();
    m_icon.show();
}

TrayItem::~TrayItem() {
    // The open menu draws the extra's model: it goes first, then the extra, then its code.
    delete m_menuWidget.data();
    m_icon.hide();
    extra()->setHost(nullptr);
    m_loaded.reset();
}

platform::NSImagePtr TrayItem::shownImage() const {
    if (m_menuWidget && m_menuWidget->isVisible() && extra()->alternateImage())
        return extra()->alternateImage();
    return extra()->image();
}

bool TrayItem::isInTray() const {
    return m_icon.isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

platform::NSMenu* TrayItem::openMenu() const {
    return m_menuWidget && m_menuWidget->isVisible() ? &m_menuWidget->model() : nullptr;
}

void TrayItem::updateIcon() {
    const platform::NSImagePtr image = shownImage();
    // The tray draws the icon again at every change, so an unchanged picture is not set.
    if (image && image == m_iconImage)
        return;
    m_iconImage = image;
    if (image)
        m_icon.setIcon(image->icon());
    else // an extra without a picture still needs something to click on
        m_icon.setIcon(QApplication::style()->standardIcon(QStyle::SP_FileDialogListView));
}

void TrayItem::menuExtraImagesChanged(platform::NSMenuExtra*) {
    updateIcon();
}

void TrayItem::menuExtraPopUpMenu(platform::NSMenuExtra*, platform::NSMenu* menu) {
    popUp(menu, false);
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
    QPoint at = QCursor::pos();
    const QRect icon = m_icon.geometry();
    if (atIcon && icon.isValid()) {
        // Below an icon in the upper half of its screen, above one in the lower half.
        const QScreen* screen = QGuiApplication::screenAt(icon.center());
        const QRect area = screen ? screen->geometry() : QRect();
        if (area.isValid() && icon.center().y() > area.center().y())
            at = QPoint(icon.left(), icon.top() - widget->sizeHint().height());
        else
            at = icon.bottomLeft() + QPoint(0, 1);
    }
    widget->popup(at);
    updateIcon();
}

// ---- MenuBarServer

MenuBarServer::MenuBarServer(QObject* parent) : QObject(parent) {}

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
    return QString();
}

bool MenuBarServer::TrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MenuBarServer::Quit() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

void MenuBarServer::trayMaybeAvailable() {
    if (m_loggedNoTray || QSystemTrayIcon::isSystemTrayAvailable())
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
