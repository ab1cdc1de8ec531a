#pragma once

#include <QAction>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QToolBar>

#include <memory>
#include <vector>

class QActionGroup;
class QMenu;
class ZVToolbar;

// The identifiers of the items every toolbar can show besides its delegate's own.
extern const QString NSToolbarSeparatorItemIdentifier;
extern const QString NSToolbarSpaceItemIdentifier;
extern const QString NSToolbarFlexibleSpaceItemIdentifier;
extern const QString NSToolbarCustomizeToolbarItemIdentifier;

// One button of a toolbar: an identifier, a label (shown under the image), a label for
// the customisation menu, a tool tip, an image (the action's icon) and a tag.
class ZVToolbarItem : public QAction {
    Q_OBJECT
public:
    explicit ZVToolbarItem(const QString& itemIdentifier, QObject* parent = nullptr);

    QString itemIdentifier() const { return m_itemIdentifier; }
    QString label() const { return text(); }
    void setLabel(const QString& label);
    QString paletteLabel() const { return m_paletteLabel; }
    void setPaletteLabel(const QString& label) { m_paletteLabel = label; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

private:
    QString m_itemIdentifier;
    QString m_paletteLabel;
    int m_tag = 0;
};

// What a toolbar asks of the object that supplies its items.
class ZVToolbarDelegate {
public:
    virtual ~ZVToolbarDelegate() = default;
    // A new item for the identifier, or null when the delegate has none. The toolbar
    // owns what it is given; willBeInserted is false when the item is only wanted for
    // its labels (the customisation menu).
    virtual std::unique_ptr<ZVToolbarItem> toolbarItemForItemIdentifierWillBeInsertedIntoToolbar(
        ZVToolbar* toolbar, const QString& itemIdentifier, bool willBeInserted) = 0;
    virtual QStringList toolbarDefaultItemIdentifiers(ZVToolbar* toolbar) = 0;
    virtual QStringList toolbarAllowedItemIdentifiers(ZVToolbar* toolbar) = 0;
    // Items that show as pressed when they are the selected item; checkable, one at a time.
    virtual QStringList toolbarSelectableItemIdentifiers(ZVToolbar* /*toolbar*/) { return {}; }
};

// A window's toolbar whose items come from a delegate, named by an identifier under
// which the user's arrangement of it is saved (in the settings domain, as a list of item
// identifiers). The user rearranges it from its context menu: items shown or hidden,
// separators and spaces added or removed, the default set restored.
// Main thread only.
class ZVToolbar : public QToolBar {
    Q_OBJECT
public:
    enum class DisplayMode { Default, IconAndLabel, IconOnly, LabelOnly };

    explicit ZVToolbar(const QString& identifier, QWidget* parent = nullptr);
    ~ZVToolbar() override;

    QString identifier() const { return m_identifier; }

    // Not owned: the delegate outlives the toolbar or sets a null delegate before it
    // goes. Setting a delegate (again) builds the items anew: the saved arrangement when
    // configurations are saved and one was saved, else the delegate's default set.
    ZVToolbarDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZVToolbarDelegate* delegate);

    bool allowsUserCustomization() const { return m_allowsUserCustomization; }
    void setAllowsUserCustomization(bool allows) { m_allowsUserCustomization = allows; }
    bool autosavesConfiguration() const { return m_autosavesConfiguration; }
    void setAutosavesConfiguration(bool autosaves) { m_autosavesConfiguration = autosaves; }
    DisplayMode displayMode() const { return m_displayMode; }
    void setDisplayMode(DisplayMode mode);

    // The checked item among the selectable ones; empty when none.
    QString selectedItemIdentifier() const;
    void setSelectedItemIdentifier(const QString& itemIdentifier);

    // The arrangement shown, in order, standard identifiers included.
    QStringList itemIdentifiers() const;
    // Shows exactly these items (those the delegate allows) and, when configurations
    // are saved, saves the arrangement.
    void setItemIdentifiers(const QStringList& itemIdentifiers);
    // The item with this identifier in the toolbar (the first one); null when absent.
    ZVToolbarItem* itemWithIdentifier(const QString& itemIdentifier) const;

    // The user's customisation menu, for the entry under `under` (or none); null when
    // customisation is not allowed or there is no delegate.
    std::unique_ptr<QMenu> customizationMenu(QAction* under = nullptr);

private:
    struct Entry {
        QString identifier;
        QAction* action = nullptr; // owned by the toolbar (a child object)
    };

    void rebuild(const QStringList& itemIdentifiers);
    void clearEntries();
    QStringList savedConfiguration() const;
    void saveConfiguration() const;
    void showCustomizationMenu(const QPoint& pos);

    QString m_identifier;
    ZVToolbarDelegate* m_delegate = nullptr;
    bool m_allowsUserCustomization = false;
    bool m_autosavesConfiguration = false;
    DisplayMode m_displayMode = DisplayMode::Default;
    std::vector<Entry> m_entries;
    QActionGroup* m_selectable = nullptr; // child object
};
