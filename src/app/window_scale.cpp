#include "window_scale.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace nagisora {

double LayoutScale(const QScreen* screen) {
    constexpr double layoutDpi = 96.0;
    if (screen == nullptr) return 1.0;
    const double dpi = screen->logicalDotsPerInch();
    return dpi > 0 ? dpi / layoutDpi : 1.0;
}

int Scaled(int pixels, double scale) {
    return static_cast<int>(std::lround(pixels * scale));
}

void ScaleChildren(QWidget& window, double scale) {
    if (scale == 1.0) return;
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect g = child->geometry();
        child->setGeometry(Scaled(g.x(), scale), Scaled(g.y(), scale), Scaled(g.width(), scale),
                           Scaled(g.height(), scale));
    }
}

void CentreOnScreen(QWidget& window) {
    // Made now if it is not yet: the frame's size is known from the platform window, where the platform knows
    // it before the window is shown.
    window.winId();
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->geometry();
    const QSize size = window.frameGeometry().size();
    window.move(area.x() + std::max(0, (area.width() - size.width()) / 2),
                area.y() + std::max(0, (area.height() - size.height()) / 2));
}

} // namespace nagisora
