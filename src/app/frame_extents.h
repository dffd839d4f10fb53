#pragma once

// The frame that the window manager draws around a top-level window, learnt before the window is shown, so
// that the window can be placed frame included from the start instead of moving once the frame is known.
// Nothing here waits for the window manager: the question is sent, and its answer is read when it has come.

#include <QMargins>
#include <functional>
#include <optional>

class QObject;
class QWidget;

namespace nagisora {

// Asks the window manager, through the extended window manager hints (_NET_REQUEST_FRAME_EXTENTS), which
// frame it will give the window; it answers, also for a window it has not framed yet, by setting the window's
// _NET_FRAME_EXTENTS property, in about a millisecond. Returns at once, false without X11 or without a window
// manager that supports the request. Makes the window's native window if it is not made yet.
bool RequestFrameExtents(QWidget& window);

// The frame's widths (left, top, right, bottom) that the window manager has said it gives the window, read
// once without waiting; none without X11 or before the window manager has said.
std::optional<QMargins> FrameExtentsSaid(QWidget& window);

// Calls answered once, from the window's event loop, when the window manager next sets the window's frame
// extents; never once owner has gone. Nothing without X11.
void WhenFrameExtentsSaid(QWidget& window, QObject& owner, std::function<void()> answered);

} // namespace nagisora
