#pragma once

#include "platform/NSMenu.h"

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QMenu>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

// A model menu as a plain Qt menu for renderings that pass no modifier keys: the menu a
// desktop draws itself from the tray icon's exported menu, or the context menu Qt draws.
// An item with choices becomes a sub-menu of them; an alternate is shown as an item of
// its own after its primary item; section labels stay disabled items; the calendar colour
// and the item's picture become one icon (the picture with a coloured dot, or the dot
// alone). A menu longer than the limit keeps its head, its middle in sub-menus, and its
// last section, as the self-drawn menu does. The Qt menu is built again in place, so that
// its exporter (DBusMenuExporter) sends the new layout under the same path. Choosing an item
// calls its action with the item once the event that chose it has returned.
class ExportedMenu {
public:
    // How titles are marked up: a Qt-drawn menu takes "&" as the mark of a shortcut
    // letter; the exported menu (com.canonical.dbusmenu) takes "_", and the exporter turns
    // the first "&" of a title into it on the way out.
    enum class Markup { Qt, DBusMenu };

    static constexpr int defaultMaximumItemsPerLevel = 1500;

    explicit ExportedMenu(Markup markup = Markup::Qt,
                          int maximumItemsPerLevel = defaultMaximumItemsPerLevel);
    ~ExportedMenu();
    ExportedMenu(const ExportedMenu&) = delete;
    ExportedMenu& operator=(const ExportedMenu&) = delete;

    QMenu& menu() { return m_menu; }
    // The next rebuild builds the menu anew in this markup.
    void setMarkup(Markup markup) {
        m_stale = m_stale || markup != m_markup;
        m_markup = markup;
    }
    // Called after each rebuild that replaced the menu's entries (an exporter numbers
    // them again and tells the hosts).
    void setRebuiltHandler(std::function<void()> handler) { m_rebuilt = std::move(handler); }

    // Empties the Qt menu and fills it from the model; null leaves it empty. A model that
    // shows the same as at the last build keeps the menu as it is (a host is not told of
    // a new layout). The model must outlive the menu's contents (rebuild with null first).
    void rebuild(const NSMenu* model);
    int rebuildCount() const { return m_rebuildCount; }

    // The icon of an item as this rendering shows it; null without picture and colour.
    QIcon iconForItem(const NSMenuItem& item);
    // The title as given to Qt for this markup.
    QString markedUpTitle(const NSMenuItem& item) const;

    // A text dump of a Qt menu and its sub-menus: one line per action, indented by level
    // ("title" enabled|disabled [icon]; "----" for a separator). For tests and diagnostics.
    static QString dump(const QMenu& menu, int indent = 0);

private:
    // An item's place: its index in the model, then in each level of choices.
    using Path = std::vector<int>;
    void fill(QMenu* into, const NSMenu& model, const Path& prefix);
    void addItem(QMenu* into, const NSMenuItemPtr& item, const Path& path);
    NSMenuItemPtr itemAt(const Path& path) const;
    QString guideTitle(const NSMenu& model, std::size_t from, std::size_t to) const;

    QMenu m_menu;
    Markup m_markup;
    int m_maximumItemsPerLevel;
    int m_rebuildCount = 0;
    std::function<void()> m_rebuilt;
    bool m_stale = false;
    const NSMenu* m_model = nullptr;
    std::size_t m_fingerprint = 0;
    // Sub-menus of the current build (children of m_menu or of each other).
    std::vector<QMenu*> m_subMenus;
    // Icons by picture path and colour, kept across builds (a menu is built at every
    // click; the pictures and calendar colours hardly change).
    QHash<QString, QIcon> m_icons;
};

} // namespace platform
