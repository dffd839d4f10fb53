#include "window_scale.h"

#include <QRect>
#include <QScreen>
#include <QWidget>
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

} // namespace nagisora
