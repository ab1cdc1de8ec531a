#include "menuextra/prefspanel/ZVPrefsPanel.h"

#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/Preferences.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QIcon>
#include <QLayout>
#include <QMainWindow>
#include <QTabWidget>

namespace {

// The stored page: a decimal text (or a number written by someone else); 0 for
// anything else.
int pageFromValue(const std::optional<QVariant>& value) {
    if (!value)
        return 0;
    bool ok = false;
    int page = 0;
    if (value->typeId() == QMetaType::QString)
        page = value->toString().trimmed().toInt(&ok);
    else if (value->typeId() == QMetaType::Int || value->typeId() == QMetaType::LongLong)
        page = value->toInt(&ok);
    return ok ? page : 0;
}

} // namespace

ZVPrefsPanel::ZVPrefsPanel(QObject* parent) : ZVPrefsPanel(menuExtraBundle(), parent) {}

ZVPrefsPanel::ZVPrefsPanel(std::shared_ptr<const platform::Bundle> imageBundle, QObject* parent)
    : QObject(parent), m_imageBundle(std::move(imageBundle)) {}

ZVPrefsPanel::~ZVPrefsPanel() {
    // The toolbar may outlive the panel; it must not call back into it.
    if (m_toolbar && m_toolbar->delegate() == this)
        m_toolbar->setDelegate(nullptr);
}

std::shared_ptr<const platform::Bundle> ZVPrefsPanel::menuExtraBundle() {
    const std::optional<QString> pane = pathToPreferencePane();
    if (!pane)
        return nullptr;
    return platform::Bundle::bundleWithPath(*pane +
                                            QStringLiteral("/Contents/Resources/Quillo.menu"));
}

QString ZVPrefsPanel::toolbarIdentifier() const {
    return m_autosaveName + QStringLiteral(".prefspanel.toolbar");
}

QString ZVPrefsPanel::recentPageKey() const {
    return m_autosaveName + QStringLiteral(".prefspanel.recentpage");
}

QWidget* ZVPrefsPanel::window() const {
    return m_tabView ? m_tabView->window() : nullptr;
}

QStringList ZVPrefsPanel::tabIdentifiers() const {
    QStringList identifiers;
    if (!m_tabView)
        return identifiers;
    for (int i = 0; i < m_tabView->count(); ++i)
        identifiers.append(m_tabView->widget(i)->objectName());
    return identifiers;
}

void ZVPrefsPanel::awakeFromNib() {
    QWidget* win = window();
    if (!win) {
        platform::NSLog(QStringLiteral("ZVPrefsPanel :: awakeFromNib :: no tab view"));
        return;
    }
    const QString title = win->windowTitle();
    if (!title.isEmpty())
        m_baseWindowName = QStringLiteral("%1 : ").arg(title);
    m_autosaveName = win->property("frameAutosaveName").toString();

    // Another process (an earlier run in another host) may have stored the page.
    platform::preferencesAppSynchronize(kQLApplicationID);
    int page = pageFromValue(QL_Preferences::sharedPreferences().objectForKey(recentPageKey()));
    // A page that no longer exists (the window lost tabs since) shows the first.
    if (page < 0 || page >= m_tabView->count())
        page = 0;
    if (m_tabView->count() > 0)
        m_tabView->setCurrentIndex(page);

    mapTabsToToolbar();
}

void ZVPrefsPanel::mapTabsToToolbar() {
    QWidget* win = window();
    if (!win)
        return;
    auto* toolbar = win->findChild<ZVToolbar*>(QString(), Qt::FindDirectChildrenOnly);
    if (!toolbar)
        toolbar = new ZVToolbar(toolbarIdentifier(), win);
    toolbar->setAllowsUserCustomization(true);
    toolbar->setAutosavesConfiguration(true);
    toolbar->setDisplayMode(ZVToolbar::DisplayMode::IconAndLabel);

    m_itemsList.clear();
    for (int i = 0; i < m_tabView->count(); ++i)
        m_itemsList.insert(m_tabView->widget(i)->objectName(), m_tabView->tabText(i));

    m_toolbar = toolbar;
    toolbar->setDelegate(this);
    if (auto* mainWindow = qobject_cast<QMainWindow*>(win)) {
        if (mainWindow->toolBarArea(toolbar) == Qt::NoToolBarArea)
            mainWindow->addToolBar(Qt::TopToolBarArea, toolbar);
    } else if (win->layout()) {
        win->layout()->setMenuBar(toolbar);
    } else {
        platform::NSLog(
            QStringLiteral("ZVPrefsPanel :: mapTabsToToolbar :: the window has no place for a "
                           "toolbar"));
    }

    const QStringList identifiers = tabIdentifiers();
    if (!identifiers.isEmpty()) {
        const int selected = m_tabView->currentIndex();
        toolbar->setSelectedItemIdentifier(identifiers.value(selected < 0 ? 0 : selected));
    }
}

void ZVPrefsPanel::orderFrontPrefsPanel(QObject* /*sender*/) {
    QWidget* win = window();
    if (!win)
        return;
    win->show();
    win->raise();
    win->activateWindow();
}

void ZVPrefsPanel::changePanes(const ZVToolbarItem* sender) {
    if (!sender || !m_tabView)
        return;
    const int tag = sender->tag();
    // An item left over from tabs since removed selects nothing and stores nothing.
    if (tag < 0 || tag >= m_tabView->count())
        return;
    m_tabView->setCurrentIndex(tag);
    // Only this key: the rest of the domain may have been changed by another process
    // since this one read it.
    QL_Preferences::sharedPreferences().setObject(QString::number(tag), recentPageKey());
}

std::unique_ptr<ZVToolbarItem> ZVPrefsPanel::toolbarItemForItemIdentifierWillBeInsertedIntoToolbar(
    ZVToolbar* /*toolbar*/, const QString& itemIdentifier, bool /*willBeInserted*/) {
    const auto label = m_itemsList.constFind(itemIdentifier);
    if (label == m_itemsList.cend())
        return nullptr;
    auto item = std::make_unique<ZVToolbarItem>(itemIdentifier);
    item->setLabel(*label);
    item->setPaletteLabel(*label);
    item->setToolTip(platform::plainTextToolTip(*label));
    item->setTag(int(tabIdentifiers().indexOf(itemIdentifier)));
    if (m_imageBundle) {
        if (const std::optional<QString> image =
                m_imageBundle->pathForImageResource(itemIdentifier))
            item->setIcon(QIcon(*image));
    }
    ZVToolbarItem* raw = item.get();
    connect(raw, &QAction::triggered, this, [this, raw] { changePanes(raw); });
    return item;
}

QStringList ZVPrefsPanel::toolbarDefaultItemIdentifiers(ZVToolbar* /*toolbar*/) {
    QStringList identifiers;
    if (!m_tabView)
        return identifiers;
    for (int i = 0; i < m_tabView->count(); ++i) {
        if (m_tabView->tabText(i) == QLatin1String("About"))
            identifiers.append(NSToolbarFlexibleSpaceItemIdentifier);
        identifiers.append(m_tabView->widget(i)->objectName());
    }
    return identifiers;
}

QStringList ZVPrefsPanel::toolbarAllowedItemIdentifiers(ZVToolbar* toolbar) {
    return toolbarSelectableItemIdentifiers(toolbar)
           << NSToolbarSeparatorItemIdentifier << NSToolbarSpaceItemIdentifier
           << NSToolbarFlexibleSpaceItemIdentifier << NSToolbarCustomizeToolbarItemIdentifier;
}

// The identifiers of the items list, in tab order (the customisation menu lists them).
QStringList ZVPrefsPanel::toolbarSelectableItemIdentifiers(ZVToolbar* /*toolbar*/) {
    QStringList identifiers;
    for (const QString& identifier : tabIdentifiers()) {
        if (m_itemsList.contains(identifier) && !identifiers.contains(identifier))
            identifiers.append(identifier);
    }
    return identifiers;
}
