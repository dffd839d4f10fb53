#pragma once

// The frame that the window manager draws around a top-level window, learnt before the window is shown, so
// that the window can be placed frame included from the start instead of moving once the frame is known.

#include <QMargins>

class QWidget;

namespace nagisora {

// The frame's widths (left, top, right, bottom) that the window manager gives the window, asked for through
// the extended window manager hints (_NET_REQUEST_FRAME_EXTENTS), which a window manager answers also for a
// window it has not framed yet. Null margins without X11, without a window manager that supports the request,
// or when it does not answer within 200 ms (it takes about a millisecond).
QMargins FrameExtentsBeforeShow(QWidget& window);

} // namespace nagisora
