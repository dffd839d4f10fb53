#include "app/modeless_window.h"

#include "app/fonts.h"
#include "app/window_scale.h"

#include <QGuiApplication>
#include <QWidget>

namespace nagisora {

double SetUpModelessWindow(QWidget& window, const char* name, const QString& title, WindowSize size,
                           int fontPixels) {
    window.setWindowFlags(size == WindowSize::Resizable ? WindowFrameFlags | Qt::WindowMaximizeButtonHint
                                                        : WindowFrameFlags);
    window.setObjectName(QString::fromLatin1(name));
    window.setWindowTitle(title);
    // Closing the main window ends the program, whether or not this window is open.
    window.setAttribute(Qt::WA_QuitOnClose, false);
    const double scale = LayoutScale(window.screen() ? window.screen() : QGuiApplication::primaryScreen());
    window.setFont(PGothicFont(Scaled(fontPixels, scale)));
    return scale;
}

} // namespace nagisora
