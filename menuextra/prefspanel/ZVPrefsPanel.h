#pragma once

#include "menuextra/prefspanel/ZVToolbar.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTabWidget>

#include <memory>

namespace platform {
class Bundle;
}

// Turns a window whose central widget is a tab view (a QTabWidget with its tab bar
// hidden) into a preferences window: one toolbar button per tab, choosing a button
// selects its tab, and the last chosen tab is remembered across runs in the settings
// domain.
//
// A tab's identifier is its page's object name and its label the tab's text. The
// window's frame autosave name is its "frameAutosaveName" property (empty when unset).
// A button's image is the picture named like the identifier among the image resources
// of the image bundle, by default the menu extra's (Quillo.menu inside the installed
// pane).
//
// Saved under names derived from autosaveName():
//   <autosaveName>.prefspanel.toolbar    the toolbar's identifier and its arrangement
//   <autosaveName>.prefspanel.recentpage the index of the tab last chosen, as a decimal text
// Main thread only.
class ZVPrefsPanel : public QObject, public ZVToolbarDelegate {
    Q_OBJECT
public:
    // Images from the menu extra's bundle.
    explicit ZVPrefsPanel(QObject* parent = nullptr);
    // Images from the given bundle; none when it is null.
    explicit ZVPrefsPanel(std::shared_ptr<const platform::Bundle> imageBundle,
                          QObject* parent = nullptr);
    ~ZVPrefsPanel() override;
    ZVPrefsPanel(const ZVPrefsPanel&) = delete;
    ZVPrefsPanel& operator=(const ZVPrefsPanel&) = delete;

    // Quillo.menu inside the installed pane; null when no pane is installed.
    static std::shared_ptr<const platform::Bundle> menuExtraBundle();

    // Call once the tab view is set and in its window: takes the window's title and
    // frame autosave name, selects the recent page and builds the toolbar.
    void awakeFromNib();
    // Builds the toolbar from the tab view, or refreshes the window's existing one.
    void mapTabsToToolbar();
    // Shows the tab view's window in front and makes it the active one.
    void orderFrontPrefsPanel(QObject* sender = nullptr);

    // Not owned; forgotten when the tab view is destroyed.
    QTabWidget* tabView() const { return m_tabView; }
    void setTabView(QTabWidget* tabView) { m_tabView = tabView; }
    QString autosaveName() const { return m_autosaveName; }
    void setAutosaveName(const QString& name) { m_autosaveName = name; }

    // The window's title followed by " : ", when it had one at awakeFromNib.
    QString baseWindowName() const { return m_baseWindowName; }
    // Tab identifier to label, as of the last mapTabsToToolbar.
    const QMap<QString, QString>& itemsList() const { return m_itemsList; }
    QString toolbarIdentifier() const;
    QString recentPageKey() const;

    // The toolbar items' action: selects the tab at the item's tag and remembers it.
    void changePanes(const ZVToolbarItem* sender);

    std::unique_ptr<ZVToolbarItem> toolbarItemForItemIdentifierWillBeInsertedIntoToolbar(
        ZVToolbar* toolbar, const QString& itemIdentifier, bool willBeInserted) override;
    QStringList toolbarDefaultItemIdentifiers(ZVToolbar* toolbar) override;
    QStringList toolbarAllowedItemIdentifiers(ZVToolbar* toolbar) override;
    QStringList toolbarSelectableItemIdentifiers(ZVToolbar* toolbar) override;

private:
    // The tab identifiers in tab order.
    QStringList tabIdentifiers() const;
    QWidget* window() const;

    QPointer<QTabWidget> m_tabView;
    QMap<QString, QString> m_itemsList;
    QString m_baseWindowName;
    QString m_autosaveName = QStringLiteral("com.zelvarin");
    std::shared_ptr<const platform::Bundle> m_imageBundle;
    QPointer<ZVToolbar> m_toolbar; // the toolbar this panel is the delegate of
};
