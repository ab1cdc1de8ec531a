#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace platform {

// Where a self-drawn tray menu opens: next to what it must not cover (the icon, and the
// panel holding it), below it in the upper half of the screen and above it in the lower
// half, starting at anchorX and kept on the screen sideways.
QPoint trayMenuPosition(const QRect& avoid, int anchorX, const QSize& menu, const QRect& screen);

// The top-level window under the pointer when it looks like a panel (a strip along an
// edge of its screen, not a window covering much of it); nothing without X11 or when
// the pointer is elsewhere. Root coordinates.
std::optional<QRect> panelUnderPointer();

} // namespace platform
