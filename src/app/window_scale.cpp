#include "window_scale.h"

#include "frame_extents.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <QWindow>
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

namespace {

// Centres a window again at its first exposure when the window manager did not say beforehand what frame it
// would draw, but has drawn one: the frame is known by then, and the user has not moved the window yet.
class CentreWhenFramed : public QObject {
  public:
    explicit CentreWhenFramed(QWidget& window) : QObject(&window), window_(window) {
        window.windowHandle()->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Expose || !window_.windowHandle()->isExposed()) return false;
        watched->removeEventFilter(this);
        if (window_.frameGeometry() != window_.geometry()) CentreOnScreen(window_);
        deleteLater();
        return false;
    }

  private:
    QWidget& window_;
};

} // namespace

void ShowInFront(QWidget& window, bool& placed) {
    if (!placed) {
        placed = true;
        CentreOnScreen(window);
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void CentreOnScreen(QWidget& window) {
    // Made now if it is not yet: the platform knows the frame once the window is shown; before that, the
    // window manager is asked what frame it will draw.
    window.winId();
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->geometry();
    const QRect client = window.geometry();
    const QRect known = window.frameGeometry();
    QMargins frame(client.left() - known.left(), client.top() - known.top(), known.right() - client.right(),
                   known.bottom() - client.bottom());
    if (frame.isNull()) frame = FrameExtentsBeforeShow(window);
    if (frame.isNull() && QGuiApplication::platformName() == QLatin1String("xcb"))
        new CentreWhenFramed(window);
    const QSize size = client.size().grownBy(frame);
    const QPoint frameAt(area.x() + std::max(0, (area.width() - size.width()) / 2),
                         area.y() + std::max(0, (area.height() - size.height()) / 2));
    // The content area's place: the frame's place is the window manager's to make of it.
    window.setGeometry(QRect(frameAt + QPoint(frame.left(), frame.top()), client.size()));
}

} // namespace nagisora
