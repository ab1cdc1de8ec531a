#include "menuextra/prefspanel/ZVToolbar.h"

#include "platform/Preferences.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QActionGroup>
#include <QMenu>
#include <QSizePolicy>
#include <QVariantList>
#include <QWidget>

#include <algorithm>

const QString NSToolbarSeparatorItemIdentifier = QStringLiteral("NSToolbarSeparatorItem");
const QString NSToolbarSpaceItemIdentifier = QStringLiteral("NSToolbarSpaceItem");
const QString NSToolbarFlexibleSpaceItemIdentifier = QStringLiteral("NSToolbarFlexibleSpaceItem");
const QString NSToolbarCustomizeToolbarItemIdentifier =
    QStringLiteral("NSToolbarCustomizeToolbarItem");

namespace {

bool isStandardIdentifier(const QString& identifier) {
    return identifier == NSToolbarSeparatorItemIdentifier ||
           identifier == NSToolbarSpaceItemIdentifier ||
           identifier == NSToolbarFlexibleSpaceItemIdentifier ||
           identifier == NSToolbarCustomizeToolbarItemIdentifier;
}

// The width of a fixed space, about one button's gap.
constexpr int spaceWidth = 16;

} // namespace

ZVToolbarItem::ZVToolbarItem(const QString& itemIdentifier, QObject* parent)
    : QAction(parent), m_itemIdentifier(itemIdentifier) {
    setObjectName(itemIdentifier);
}

void ZVToolbarItem::setLabel(const QString& label) {
    setText(label);
    setIconText(label);
}

ZVToolbar::ZVToolbar(const QString& identifier, QWidget* parent)
    : QToolBar(parent), m_identifier(identifier), m_selectable(new QActionGroup(this)) {
    setObjectName(identifier);
    setMovable(false);
    setFloatable(false);
    m_selectable->setExclusive(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &ZVToolbar::showCustomizationMenu);
}

ZVToolbar::~ZVToolbar() = default;

void ZVToolbar::setDelegate(ZVToolbarDelegate* delegate) {
    m_delegate = delegate;
    // Without a delegate the items stay as they are; nothing can be rearranged.
    if (!m_delegate)
        return;
    QStringList identifiers;
    if (m_autosavesConfiguration)
        identifiers = savedConfiguration();
    if (identifiers.isEmpty())
        identifiers = m_delegate->toolbarDefaultItemIdentifiers(this);
    rebuild(identifiers);
}

void ZVToolbar::setDisplayMode(DisplayMode mode) {
    m_displayMode = mode;
    switch (mode) {
    case DisplayMode::Default:
    case DisplayMode::IconAndLabel:
        setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        break;
    case DisplayMode::IconOnly:
        setToolButtonStyle(Qt::ToolButtonIconOnly);
        break;
    case DisplayMode::LabelOnly:
        setToolButtonStyle(Qt::ToolButtonTextOnly);
        break;
    }
}

QString ZVToolbar::selectedItemIdentifier() const {
    const QAction* checked = m_selectable->checkedAction();
    if (const auto* item = qobject_cast<const ZVToolbarItem*>(checked))
        return item->itemIdentifier();
    return QString();
}

void ZVToolbar::setSelectedItemIdentifier(const QString& itemIdentifier) {
    const QList<QAction*> actions = m_selectable->actions();
    for (QAction* action : actions) {
        const auto* item = qobject_cast<ZVToolbarItem*>(action);
        if (item && item->itemIdentifier() == itemIdentifier) {
            action->setChecked(true);
            return;
        }
    }
    if (QAction* checked = m_selectable->checkedAction())
        checked->setChecked(false);
}

QStringList ZVToolbar::itemIdentifiers() const {
    QStringList identifiers;
    for (const Entry& entry : m_entries)
        identifiers.append(entry.identifier);
    return identifiers;
}

void ZVToolbar::setItemIdentifiers(const QStringList& itemIdentifiers) {
    if (!m_delegate)
        return;
    rebuild(itemIdentifiers);
    if (m_autosavesConfiguration)
        saveConfiguration();
}

ZVToolbarItem* ZVToolbar::itemWithIdentifier(const QString& itemIdentifier) const {
    for (const Entry& entry : m_entries) {
        auto* item = qobject_cast<ZVToolbarItem*>(entry.action);
        if (item && item->itemIdentifier() == itemIdentifier)
            return item;
    }
    return nullptr;
}

void ZVToolbar::clearEntries() {
    for (const Entry& entry : m_entries) {
        removeAction(entry.action);
        delete entry.action;
    }
    m_entries.clear();
}

void ZVToolbar::rebuild(const QStringList& itemIdentifiers) {
    const QString selected = selectedItemIdentifier();
    clearEntries();
    if (!m_delegate)
        return;
    const QStringList allowed = m_delegate->toolbarAllowedItemIdentifiers(this);
    const QStringList selectable = m_delegate->toolbarSelectableItemIdentifiers(this);
    for (const QString& identifier : itemIdentifiers) {
        if (!allowed.contains(identifier))
            continue;
        QAction* action = nullptr;
        if (identifier == NSToolbarSeparatorItemIdentifier) {
            action = addSeparator();
        } else if (identifier == NSToolbarSpaceItemIdentifier ||
                   identifier == NSToolbarFlexibleSpaceItemIdentifier) {
            auto* space = new QWidget(this);
            if (identifier == NSToolbarSpaceItemIdentifier)
                space->setFixedWidth(spaceWidth);
            else
                space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            action = addWidget(space);
        } else if (identifier == NSToolbarCustomizeToolbarItemIdentifier) {
            auto* item = new ZVToolbarItem(identifier, this);
            item->setLabel(QL_LocalizedString(QStringLiteral("CUSTOMIZE_TOOLBAR")));
            connect(item, &QAction::triggered, this,
                    [this] { showCustomizationMenu(mapFromGlobal(QCursor::pos())); });
            addAction(item);
            action = item;
        } else {
            std::unique_ptr<ZVToolbarItem> item =
                m_delegate->toolbarItemForItemIdentifierWillBeInsertedIntoToolbar(this, identifier,
                                                                                  true);
            if (!item)
                continue;
            item->setParent(this);
            if (selectable.contains(identifier)) {
                item->setCheckable(true);
                m_selectable->addAction(item.get());
            }
            addAction(item.get());
            action = item.release();
        }
        m_entries.push_back({identifier, action});
    }
    if (!selected.isEmpty())
        setSelectedItemIdentifier(selected);
}

QStringList ZVToolbar::savedConfiguration() const {
    platform::preferencesAppSynchronize(kQLApplicationID);
    const std::optional<QVariant> saved =
        QL_Preferences::sharedPreferences().objectForKey(m_identifier);
    QStringList identifiers;
    if (!saved || saved->typeId() != QMetaType::QVariantList)
        return identifiers;
    const QVariantList list = saved->toList();
    for (const QVariant& value : list) {
        if (value.typeId() == QMetaType::QString)
            identifiers.append(value.toString());
    }
    return identifiers;
}

void ZVToolbar::saveConfiguration() const {
    QVariantList list;
    for (const Entry& entry : m_entries)
        list.append(entry.identifier);
    // One key: the rest of the domain may have been changed by another process.
    QL_Preferences::sharedPreferences().setObject(list, m_identifier);
}

std::unique_ptr<QMenu> ZVToolbar::customizationMenu(QAction* under) {
    if (!m_allowsUserCustomization || !m_delegate)
        return nullptr;
    auto menu = std::make_unique<QMenu>();
    const QStringList allowed = m_delegate->toolbarAllowedItemIdentifiers(this);
    const QStringList shown = itemIdentifiers();
    const QStringList defaults = m_delegate->toolbarDefaultItemIdentifiers(this);

    // The delegate's own items: checked when shown; a shown one is hidden, a hidden one
    // comes back at the end.
    for (const QString& identifier : allowed) {
        if (isStandardIdentifier(identifier))
            continue;
        const std::unique_ptr<ZVToolbarItem> probe =
            m_delegate->toolbarItemForItemIdentifierWillBeInsertedIntoToolbar(this, identifier,
                                                                              false);
        if (!probe)
            continue;
        QAction* toggle = menu->addAction(probe->paletteLabel());
        toggle->setObjectName(identifier);
        toggle->setCheckable(true);
        toggle->setChecked(shown.contains(identifier));
        connect(toggle, &QAction::triggered, this, [this, identifier](bool show) {
            QStringList next = itemIdentifiers();
            if (show)
                next.append(identifier);
            else
                next.removeAll(identifier);
            setItemIdentifiers(next);
        });
    }
    menu->addSeparator();
    const std::pair<QString, QString> additions[] = {
        {NSToolbarSeparatorItemIdentifier, QStringLiteral("TOOLBAR_ADD_SEPARATOR")},
        {NSToolbarSpaceItemIdentifier, QStringLiteral("TOOLBAR_ADD_SPACE")},
        {NSToolbarFlexibleSpaceItemIdentifier, QStringLiteral("TOOLBAR_ADD_FLEXIBLE_SPACE")},
    };
    for (const auto& [identifier, key] : additions) {
        if (!allowed.contains(identifier))
            continue;
        QAction* add = menu->addAction(QL_LocalizedString(key));
        add->setObjectName(key);
        connect(add, &QAction::triggered, this, [this, identifier = identifier] {
            setItemIdentifiers(itemIdentifiers() << identifier);
        });
    }
    const auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                                    [under](const Entry& e) { return under && e.action == under; });
    if (entry != m_entries.end()) {
        const auto index = int(entry - m_entries.begin());
        QAction* remove =
            menu->addAction(QL_LocalizedString(QStringLiteral("TOOLBAR_REMOVE_ITEM")));
        remove->setObjectName(QStringLiteral("TOOLBAR_REMOVE_ITEM"));
        connect(remove, &QAction::triggered, this, [this, index] {
            QStringList next = itemIdentifiers();
            if (index < next.size())
                next.removeAt(index);
            setItemIdentifiers(next);
        });
    }
    menu->addSeparator();
    QAction* reset = menu->addAction(QL_LocalizedString(QStringLiteral("TOOLBAR_RESTORE_DEFAULT")));
    reset->setObjectName(QStringLiteral("TOOLBAR_RESTORE_DEFAULT"));
    connect(reset, &QAction::triggered, this, [this, defaults] { setItemIdentifiers(defaults); });
    return menu;
}

void ZVToolbar::showCustomizationMenu(const QPoint& pos) {
    // A separator or a space has no action at a point; find its entry by its widget.
    QAction* under = actionAt(pos);
    if (!under) {
        for (const Entry& entry : m_entries) {
            QWidget* widget = widgetForAction(entry.action);
            if (widget && widget->geometry().contains(pos))
                under = entry.action;
        }
    }
    std::unique_ptr<QMenu> menu = customizationMenu(under);
    if (menu)
        menu->exec(mapToGlobal(pos));
}
