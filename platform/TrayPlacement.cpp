#include "platform/TrayPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace platform {

QPoint trayMenuPosition(const QRect& avoid, int anchorX, const QSize& menu, const QRect& screen) {
    if (!screen.isValid())
        return QPoint(anchorX, avoid.bottom() + 1);
    int x = anchorX;
    if (x + menu.width() > screen.right() + 1)
        x = screen.right() + 1 - menu.width();
    x = std::max(x, screen.left());
    if (avoid.center().y() > screen.center().y())
        return QPoint(x, std::max(screen.top(), avoid.top() - menu.height()));
    return QPoint(x, avoid.bottom() + 1);
}

std::optional<QRect> panelUnderPointer() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return std::nullopt;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_pointer_reply_t* pointer =
        xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const xcb_window_t child = pointer ? pointer->child : XCB_NONE;
    std::free(pointer);
    if (child == XCB_NONE)
        return std::nullopt;
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, child), nullptr);
    if (!geometry)
        return std::nullopt;
    const QRect rect(geometry->x, geometry->y, geometry->width, geometry->height);
    std::free(geometry);
    const QScreen* screen = QGuiApplication::screenAt(rect.center());
    const QRect area = screen ? screen->geometry() : QRect();
    if (!area.isValid())
        return std::nullopt;
    // A panel is thin across its edge; a normal window under the pointer is no panel.
    const bool strip = (rect.height() * 4 <= area.height() &&
                        (rect.top() <= area.top() + 8 || rect.bottom() >= area.bottom() - 8)) ||
                       (rect.width() * 4 <= area.width() &&
                        (rect.left() <= area.left() + 8 || rect.right() >= area.right() - 8));
    if (!strip)
        return std::nullopt;
    return rect;
}

} // namespace platform
