#pragma once

// The windows are laid out in pixels at 96 dpi; on a denser screen every position and size grows by the
// ratio.

#include <Qt>

class QScreen;
class QWidget;

namespace nagisora {

// The screen's logical density over 96; 1 when there is no screen.
double LayoutScale(const QScreen* screen);

// A length of the 96-dpi layout at the given scale, rounded to whole pixels.
int Scaled(int pixels, double scale);

// Moves and resizes every direct child of the window by the scale.
void ScaleChildren(QWidget& window, double scale);

// Places the window, frame included, in the middle of its screen: left = (screen width - window width) / 2
// and top likewise, each at least 0. Before the window is first shown, its frame is what the window manager
// has said it will draw (RequestFrameExtents asks it ahead); while that is not known, the window is placed as
// if it had no frame and centred again as soon as the window manager says, or once it has framed the window.
// Never waits for the window manager.
void CentreOnScreen(QWidget& window);

// The frame of the program's windows: a title with minimise and close buttons. Without CustomizeWindowHint Qt
// adds a maximise button, which a fixed-size window cannot use; a window that can grow adds it itself.
inline constexpr Qt::WindowFlags WindowFrameFlags = Qt::Window | Qt::CustomizeWindowHint |
                                                    Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

// Shows a modeless window in front of the others and gives it the focus; the first time (placed still false)
// centred on its screen. Later it opens where the user left it.
void ShowInFront(QWidget& window, bool& placed);

// Shows a modeless window of the main window's tools in front and gives it the focus (unless focus is false).
// The first time (placed
// still false) it opens where the user last left it, in this run or an earlier one (kept in the settings by
// its object name), or else beside the main window: below, to its right, to its left or above it, the first
// place where it fits whole, made smaller down to its minimum size if need be; where none does, where it
// covers least of the main window's score area.
void ShowBeside(QWidget& window, const QWidget& main, bool& placed, bool focus = true);

} // namespace nagisora
