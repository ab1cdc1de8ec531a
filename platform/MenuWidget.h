#pragma once

#include "platform/NSMenu.h"

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QMenu>
#include <QTimer>

#include <optional>
#include <utility>
#include <vector>

namespace platform {

// A model menu drawn as a Qt menu: each item's font and colour as its attributed title
// says, images at the screen's scale, tool tips, disabled items greyed, and an alternate
// item in its primary item's place exactly while its modifier keys (Alt for Option) are
// held. Choosing an item calls its action with the item as sender once the menu has
// closed. The model must outlive the widget.
//
// A long menu scrolls: only the rows in view have Qt actions, laid out, measured and
// painted, and the keys (arrows, page keys, Home, End, type-ahead), the wheel and the
// alternates move that window through the whole model. A menu may instead be split into
// parts opened on demand, for a caller that asks for a maximum number of items per level.
class MenuWidget : public QMenu {
    Q_OBJECT
public:
    // 0: no parts, a long menu scrolls. A menu longer than a positive maximum shows that
    // many items, then the rest in parts of that size opened on demand, then its last
    // section.
    static constexpr int defaultMaximumItemsPerLevel = 0;
    // Up to this many items every item has its action (Qt's menu scrolls them itself when
    // they do not fit); a longer menu has actions only for the rows in view.
    static constexpr std::size_t allActionsUpTo = 256;

    explicit MenuWidget(NSMenu& menu, QWidget* parent = nullptr);
    MenuWidget(NSMenu& menu, int maximumItemsPerLevel, QWidget* parent = nullptr);
    ~MenuWidget() override;

    NSMenu& model() const { return m_menu; }

    // Builds the Qt actions again from the model, after the model has changed.
    void reload();

    void setMaximumItemsPerLevel(int count);
    // The parts of a long menu, in order.
    QList<QMenu*> parts() const;

    // The Qt action that shows a model item; null for an item not in the model, in a
    // part not opened yet or scrolled out of view.
    QAction* actionForItem(const NSMenuItem* item) const;
    // True when only the rows in view have actions.
    bool isWindowed() const { return m_windowed; }
    // The model indexes of the first row in view and of the one after the last.
    std::pair<std::size_t, std::size_t> rowsInView() const { return {m_first, m_end}; }
    // Brings the model item at the index into view and makes it the active one (when it
    // can be chosen).
    void scrollToItem(std::size_t index);
    // The modifier keys (NS...KeyMask bits) the menu takes as held now.
    unsigned heldModifierMask() const { return m_heldMask; }

    // Qt's modifiers as an item's key-equivalent modifier mask: Shift, Control, Alt as
    // Option and Meta (the Super key) as Command.
    static unsigned modifierMaskFromQt(Qt::KeyboardModifiers modifiers);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class Part;
    friend class Part;

    struct Entry {
        NSMenuItemPtr item;
        QAction* action = nullptr;
        // Index in m_entries of the primary item an alternate stands in for; -1 when the
        // item is no alternate or has no primary before it.
        int primary = -1;
    };

    void build();
    QAction* addItemAction(QMenu* into, std::size_t index);
    QAction* makeItemAction(std::size_t index);
    void dropItemAction(std::size_t index);
    // Whether the item shows with the modifier keys held now (an alternate in its
    // primary's place, or the primary itself).
    bool isShown(std::size_t index) const;
    bool isSelectable(std::size_t index) const;
    QString plainTitle(std::size_t index) const;
    // The windowed menu: the height the rows may fill, one row's height (0 while hidden),
    // the window placed from a first row or up to a last one, and a move by rows.
    int rowsHeightAvailable() const;
    int rowHeight(std::size_t index);
    void placeWindow(std::size_t anchor, bool anchorIsLast);
    void setWindow(std::size_t first, std::size_t end);
    void scrollBy(int rows);
    // The keys that move through a windowed menu, and type-ahead; true when taken.
    bool navigate(QKeyEvent* event);
    bool typeAhead(QKeyEvent* event);
    std::optional<std::size_t> activeIndex() const;
    std::optional<std::size_t> nextSelectable(std::size_t from, bool forward) const;
    QString partTitle(std::size_t from, std::size_t to) const;
    void applyColor(QStyleOptionMenuItem* option, const QAction* action) const;
    void setHeldModifierMask(unsigned mask);
    void updateAlternates();
    void actionTriggered(QAction* action);
    // True when the key event was a modifier key and has been taken.
    bool trackModifierKey(QKeyEvent* event, bool pressed);

    NSMenu& m_menu;
    std::vector<Entry> m_entries;
    QHash<const QAction*, QColor> m_colors;
    QHash<const NSImage*, QIcon> m_icons;
    std::vector<Part*> m_parts;
    int m_maximumItemsPerLevel = defaultMaximumItemsPerLevel;
    unsigned m_heldMask = 0;
    bool m_windowed = false;
    std::size_t m_first = 0;
    std::size_t m_end = 0;
    // Measured row heights of the windowed menu, -1 until measured.
    std::vector<int> m_heights;
    int m_wheelAngle = 0;
    QString m_typed;
    qint64 m_typedAt = 0;
    // While the pointer rests at the top or bottom edge, the view moves a row a tick.
    QTimer m_edgeScroll;
    int m_edgeDirection = 0;
};

} // namespace platform
