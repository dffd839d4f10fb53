#include "app/window_scale.h"

#include "app/frame_extents.h"
#include "app/user_settings.h"

#include <QGuiApplication>
#include <QLayout>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <optional>

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

// The frame around the window as far as it is known: the platform knows it once the window is framed; before
// that, the window manager may have said what frame it will draw.
QMargins KnownFrame(QWidget& window) {
    const QRect client = window.geometry();
    const QRect known = window.frameGeometry();
    const QMargins frame(client.left() - known.left(), client.top() - known.top(),
                         known.right() - client.right(), known.bottom() - client.bottom());
    return frame.isNull() ? FrameExtentsSaid(window).value_or(QMargins()) : frame;
}

void PlaceCentred(QWidget& window, const QScreen& screen, QMargins frame) {
    const QRect area = screen.geometry();
    const QRect client = window.geometry();
    const QSize size = client.size().grownBy(frame);
    const QPoint frameAt(area.x() + std::max(0, (area.width() - size.width()) / 2),
                         area.y() + std::max(0, (area.height() - size.height()) / 2));
    // The content area's place: the frame's place is the window manager's to make of it.
    window.setGeometry(QRect(frameAt + QPoint(frame.left(), frame.top()), client.size()));
}

const QScreen* ScreenOf(const QWidget& window) {
    return window.screen() ? window.screen() : QGuiApplication::primaryScreen();
}

// Centres a window again once its frame is known, when it was not as the window was placed: as soon as the
// window manager says what frame it draws, or, for one that does not say, at the window's first exposure,
// when it has framed the window. The user has not moved the window yet.
class CentreWhenFramed : public QObject {
  public:
    explicit CentreWhenFramed(QWidget& window) : QObject(&window), window_(window) {
        window.windowHandle()->installEventFilter(this);
        WhenFrameExtentsSaid(window, *this, [this] { Centre(); });
    }

    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Expose && window_.windowHandle()->isExposed()) Centre();
        return false;
    }

  private:
    void Centre() {
        if (done_) return;
        done_ = true;
        window_.windowHandle()->removeEventFilter(this);
        const QMargins frame = KnownFrame(window_);
        const QScreen* screen = ScreenOf(window_);
        if (!frame.isNull() && screen != nullptr) PlaceCentred(window_, *screen, frame);
        deleteLater();
    }

    QWidget& window_;
    bool done_ = false;
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

namespace {

QString PlaceKey(const QWidget& window) {
    return QStringLiteral("windows/") + window.objectName();
}

// Keeps where the user puts a window: its frame's place and its size, written once it has stood still for a
// moment and when it is hidden.
class PlaceKeeper : public QObject {
  public:
    explicit PlaceKeeper(QWidget& window) : QObject(&window), window_(window), still_(new QTimer(this)) {
        still_->setSingleShot(true);
        still_->setInterval(StillMs);
        connect(still_, &QTimer::timeout, this, &PlaceKeeper::Keep);
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Move || type == QEvent::Resize) && window_.isVisible()) still_->start();
        if (type == QEvent::Hide) Keep();
        return false;
    }

  private:
    static constexpr int StillMs = 500;

    void Keep() {
        still_->stop();
        UserSettings()->setValue(PlaceKey(window_), QRect(window_.frameGeometry().topLeft(), window_.size()));
    }

    QWidget& window_;
    QTimer* still_;
};

int Overlap(const QRect& a, const QRect& b) {
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : both.width() * both.height();
}

} // namespace

void ShowBeside(QWidget& window, const QWidget& main, bool& placed, bool focus) {
    if (!placed) {
        placed = true;
        new PlaceKeeper(window);
        const QRect screenArea =
            (main.screen() ? main.screen() : QGuiApplication::primaryScreen())->availableGeometry();
        const QRect kept = UserSettings()->value(PlaceKey(window)).toRect();
        if (kept.isValid() && screenArea.intersects(kept)) {
            window.resize(kept.size().expandedTo(window.minimumSize()).boundedTo(window.maximumSize()));
            window.move(kept.topLeft());
        } else {
            window.winId(); // the frame is known once the window is made
            if (window.layout() != nullptr) window.layout()->activate(); // the size its content needs
            const QRect m = main.frameGeometry();
            const QSize frame = window.frameGeometry().size() - window.size();
            const QSize wanted = window.size() + frame;
            const QSize least = window.minimumSize().expandedTo(QSize(1, 1)) + frame;
            constexpr int Gap = 8;
            // Each side: the room there and where the window's frame then stands.
            const int below = screenArea.bottom() - m.bottom() - Gap;
            const int right = screenArea.right() - m.right() - Gap;
            const int left = m.left() - screenArea.left() - Gap;
            const int above = m.top() - screenArea.top() - Gap;
            const auto fit = [&](int room, bool tall) {
                QSize size = wanted;
                if (tall)
                    size.setHeight(std::min(size.height(), room));
                else
                    size.setWidth(std::min(size.width(), room));
                return size;
            };
            const QSize sizes[] = {fit(below, true), fit(right, false), fit(left, false), fit(above, true)};
            const QPoint places[] = {
                {m.left(), m.bottom() + Gap},
                {m.right() + Gap, m.top()},
                {m.left() - Gap - sizes[2].width(), m.top()},
                {m.left(), m.top() - Gap - sizes[3].height()},
            };
            const QWidget* area = main.findChild<QWidget*>(QStringLiteral("mem"));
            const QRect keepClear =
                area != nullptr ? QRect(area->mapToGlobal(QPoint(0, 0)), area->size()) : main.frameGeometry();
            std::optional<QRect> chosen;
            for (int k = 0; k < 4 && !chosen; ++k) {
                QRect at(places[k], sizes[k]);
                // Along the main window's edge it may slide to stay on the screen.
                at.moveLeft(std::clamp(at.left(), screenArea.left(), screenArea.right() - at.width() + 1));
                at.moveTop(std::clamp(at.top(), screenArea.top(), screenArea.bottom() - at.height() + 1));
                if (sizes[k].width() >= least.width() && sizes[k].height() >= least.height() &&
                    !at.intersects(m) && screenArea.contains(at))
                    chosen = at;
            }
            if (!chosen) {
                for (int k = 0; k < 4; ++k) {
                    QRect at(places[k], wanted);
                    at.moveLeft(
                        std::clamp(at.left(), screenArea.left(), screenArea.right() - at.width() + 1));
                    at.moveTop(std::clamp(at.top(), screenArea.top(), screenArea.bottom() - at.height() + 1));
                    if (!chosen || Overlap(at, keepClear) < Overlap(*chosen, keepClear)) chosen = at;
                }
            }
            window.resize(chosen->size() - frame);
            window.move(chosen->topLeft());
        }
    }
    window.show();
    window.raise();
    if (focus) window.activateWindow();
}

// Without waiting for the window manager: a frame not known yet is asked for, and the window centred again
// once it is.
void CentreOnScreen(QWidget& window) {
    window.winId(); // made now if it is not yet, so that the frame can be asked for
    const QScreen* screen = ScreenOf(window);
    if (screen == nullptr) return;
    const QMargins frame = KnownFrame(window);
    if (frame.isNull() && QGuiApplication::platformName() == QLatin1String("xcb")) {
        new CentreWhenFramed(window);
        RequestFrameExtents(window);
    }
    PlaceCentred(window, *screen, frame);
}

} // namespace nagisora
