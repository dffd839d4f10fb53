#pragma once

// A modeless window of the program, such as the help window and the tools' windows: framed with a title,
// minimise and close buttons (and maximise when it can grow), named for the tests and for the place kept in
// the settings, not ending the program when it is the last one closed, and in the program's font at the
// screen's scale.

#include <QString>

class QWidget;

namespace nagisora {

enum class WindowSize { Fixed, Resizable };

// Sets the window up; returns the scale of the 96-dpi layout on its screen, for its sizes.
double SetUpModelessWindow(QWidget& window, const char* name, const QString& title, WindowSize size,
                           int fontPixels);

} // namespace nagisora
