#pragma once

#include "platform/NSMenu.h"

#include <QMenu>

namespace platform {

// A model menu drawn as a Qt menu: each item's font and colour as its attributed title
// says, images at the screen's scale, tool tips, disabled items greyed, and an alternate
// item in its primary item's place exactly while its modifier keys (Alt for Option) are
// held. Choosing an item calls its action with the item as sender once the menu has
// closed. The model must outlive the widget.
class MenuWidget : public QMenu {
    Q_OBJECT
public:
    explicit MenuWidget(NSMenu& menu, QWidget* parent = nullptr);
    ~MenuWidget() override;

    NSMenu& model() const { return m_menu; }

private:
    NSMenu& m_menu;
};

} // namespace platform
