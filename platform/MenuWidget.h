#pragma once

#include "platform/NSMenu.h"

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QMenu>

#include <vector>

namespace platform {

// A model menu drawn as a Qt menu: each item's font and colour as its attributed title
// says, images at the screen's scale, tool tips, disabled items greyed, and an alternate
// item in its primary item's place exactly while its modifier keys (Alt for Option) are
// held. Choosing an item calls its action with the item as sender once the menu has
// closed. The model must outlive the widget.
class MenuWidget : public QMenu {
    Q_OBJECT
public:
    // A menu longer than maximumItemsPerLevel shows that many items, then the rest in
    // parts of that size opened on demand, then its last section.
    static constexpr int defaultMaximumItemsPerLevel = 1500;

    explicit MenuWidget(NSMenu& menu, QWidget* parent = nullptr);
    MenuWidget(NSMenu& menu, int maximumItemsPerLevel, QWidget* parent = nullptr);
    ~MenuWidget() override;

    NSMenu& model() const { return m_menu; }

    // Builds the Qt actions again from the model, after the model has changed.
    void reload();

    void setMaximumItemsPerLevel(int count);
    // The parts of a long menu, in order.
    QList<QMenu*> parts() const;

    // The Qt action that shows a model item; null for an item not in the model or in a
    // part not opened yet.
    QAction* actionForItem(const NSMenuItem* item) const;
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
};

} // namespace platform
