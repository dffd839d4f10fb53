#include "mPlay.h"

#include "media_errors.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QtDebug>
#include <algorithm>
#include <exception>
#include <mutex>

namespace nagisora {
namespace {

// The layout at 96 dpi; the drawing scales with the player's height.
constexpr int LayoutWidth = 57;
constexpr int LayoutHeight = 21;
constexpr int TriangleWidth = 5;
constexpr int TriangleHeight = 9;
constexpr int SquareSide = 7;

MPButtonSet Only(MPButton button) {
    return MPButtonSet().set(static_cast<std::size_t>(button));
}

} // namespace

// Carries the layer's end notification from its audio thread to the player on the user-interface thread. The
// player unhooks itself when destroyed; the layer may keep the relay longer, which then posts nothing.
struct TMediaPlayer::Relay {
    explicit Relay(TMediaPlayer* p) : player(p) {}

    void Post() {
        std::lock_guard lock(mutex);
        if (player)
            QMetaObject::invokeMethod(
                player, [p = player] { p->OnEndOfMusic(); }, Qt::QueuedConnection);
    }

    void Detach() {
        std::lock_guard lock(mutex);
        player = nullptr;
    }

    std::mutex mutex;
    TMediaPlayer* player;
};

TMediaPlayer::TMediaPlayer(QWidget* parent) : QWidget(parent), relay_(std::make_shared<Relay>(this)) {
    setFocusPolicy(Qt::NoFocus);
    resize(LayoutWidth, LayoutHeight);
}

void TMediaPlayer::SetLayer(MediaLayer& layer) {
    layer_ = &layer;
    layer_->SetEndNotification([relay = relay_] { relay->Post(); });
}

MediaLayer& TMediaPlayer::Layer() const {
    if (layer_ == nullptr) ThrowMediaError(MediaCode::NoDeviceOpen);
    return *layer_;
}

TMediaPlayer::~TMediaPlayer() {
    relay_->Detach();
}

void TMediaPlayer::SetClickHandler(ClickHandler handler) {
    clickHandler_ = std::move(handler);
}

void TMediaPlayer::SetErrorReporter(ErrorReporter reporter) {
    errorReporter_ = std::move(reporter);
}

void TMediaPlayer::SetFileName(std::string fileName) {
    fileName_ = std::move(fileName);
}

template <class OpenMusic>
void TMediaPlayer::OpenWith(OpenMusic&& open) {
    Close();
    try {
        open(Layer());
    } catch (const Failure& failure) {
        ForgetFile(MediaCodeOf(failure));
        throw;
    }
    lastError_ = layer_->LastError();
    SetAvailable(CanPlay() ? Only(MPButton::Play) : MPButtonSet());
}

void TMediaPlayer::Open() {
    OpenWith([&](MediaLayer& layer) { layer.Open(fileName_); });
}

void TMediaPlayer::OpenImage(std::string_view image) {
    OpenWith([&](MediaLayer& layer) { layer.OpenImage(image); });
}

void TMediaPlayer::OpenOutputOrForget() {
    try {
        layer_->OpenOutput();
    } catch (const Failure& failure) {
        layer_->Close();
        ForgetFile(MediaCodeOf(failure));
        throw;
    }
}

void TMediaPlayer::OpenForPlay() {
    Open();
    OpenOutputOrForget();
}

void TMediaPlayer::OpenImageForPlay(std::string_view image) {
    OpenImage(image);
    OpenOutputOrForget();
}

void TMediaPlayer::PlayImage(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks) {
    MediaLayer& layer = Layer();
    Close();
    try {
        layer.OpenImage(image);
        layer.SetClicks(std::move(clicks));
        layer.OpenOutput();
    } catch (const Failure& failure) {
        layer.Close();
        ForgetFile(MediaCodeOf(failure));
        throw;
    }
    layer.Play(repeat);
    lastError_ = layer_->LastError();
    AfterAction(MPButton::Play);
}

// After a failed open, which left the layer without a file: no button.
void TMediaPlayer::ForgetFile(MediaCode error) {
    lastError_ = error;
    SetAvailable({});
}

void TMediaPlayer::Play() {
    if (!IsOpen()) ThrowMediaError(MediaCode::NoDeviceOpen);
    layer_->Play();
    lastError_ = layer_->LastError();
}

void TMediaPlayer::Stop() {
    if (!IsOpen()) ThrowMediaError(MediaCode::NoDeviceOpen);
    layer_->Stop();
    lastError_ = layer_->LastError();
}

void TMediaPlayer::Close() {
    if (!IsOpen()) return;
    layer_->Close();
    lastError_ = layer_->LastError();
    SetAvailable({});
}

MediaMode TMediaPlayer::Mode() const {
    return layer_ != nullptr ? layer_->Mode() : MediaMode::Stopped;
}

bool TMediaPlayer::IsOpen() const {
    return layer_ != nullptr && layer_->IsOpen();
}

bool TMediaPlayer::CanPlay() const {
    return layer_ != nullptr && layer_->CanPlay();
}

bool TMediaPlayer::IsAvailable(MPButton button) const {
    return available_.test(static_cast<std::size_t>(button));
}

void TMediaPlayer::Click(MPButton button) {
    if (!IsAvailable(button)) return;
    try {
        if (clickHandler_) clickHandler_(*this, button);
        if (button == MPButton::Play)
            Play();
        else
            Stop();
        if (lastError_ == MediaCode::None && IsOpen()) AfterAction(button);
    } catch (const Failure& failure) {
        Report(failure);
    } catch (const std::exception&) {
        Report(Failure::Media(MediaCode::Unknown));
    }
}

void TMediaPlayer::AfterAction(MPButton button) {
    if (button == MPButton::Play)
        SetAvailable(Only(MPButton::Stop));
    else
        SetAvailable(CanPlay() ? Only(MPButton::Play) : MPButtonSet());
}

// A notification of a playback that a later Play has replaced finds the player playing and changes nothing.
void TMediaPlayer::OnEndOfMusic() {
    if (Mode() != MediaMode::Stopped) return;
    MPButtonSet available = available_;
    available &= ~Only(MPButton::Stop);
    if (CanPlay()) available |= Only(MPButton::Play);
    SetAvailable(available);
    emit musicEnded();
}

void TMediaPlayer::SetAvailable(MPButtonSet available) {
    if (available == available_) return;
    available_ = available;
    if (pressed_ && !IsAvailable(*pressed_)) pressed_.reset();
    update();
}

void TMediaPlayer::Report(const Failure& failure) const {
    if (errorReporter_)
        errorReporter_(failure);
    else
        qWarning("%s", failure.what());
}

QSize TMediaPlayer::sizeHint() const {
    return {LayoutWidth, LayoutHeight};
}

QSize TMediaPlayer::minimumSizeHint() const {
    return sizeHint();
}

// The two buttons share their middle column: each is (width + 1) / 2 wide, Stop starting on Play's last
// column.
QRect TMediaPlayer::ButtonRect(MPButton button) const {
    const int buttonWidth = (width() + 1) / 2;
    return button == MPButton::Play ? QRect(0, 0, buttonWidth, height())
                                    : QRect(width() - buttonWidth, 0, buttonWidth, height());
}

std::optional<MPButton> TMediaPlayer::ButtonAt(QPoint point) const {
    if (!rect().contains(point)) return std::nullopt;
    return point.x() < ButtonRect(MPButton::Stop).left() ? MPButton::Play : MPButton::Stop;
}

void TMediaPlayer::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    DrawButton(painter, MPButton::Play);
    DrawButton(painter, MPButton::Stop); // drawn last, so its left edge is the shared one
}

void TMediaPlayer::DrawButton(QPainter& painter, MPButton button) const {
    const bool available = IsAvailable(button);
    const bool sunken = available && pressed_ == button && pressedIn_;
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = ButtonRect(button);
    option.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    option.state.setFlag(QStyle::State_Enabled, available);
    option.state |= sunken ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);

    const double scale = static_cast<double>(height()) / LayoutHeight;
    const auto scaled = [scale](int pixels) { return std::max(1, static_cast<int>(pixels * scale + 0.5)); };
    const QPoint centre = option.rect.center() + (sunken ? QPoint(1, 1) : QPoint());
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(available ? QColor(Qt::black)
                               : palette().color(QPalette::Disabled, QPalette::ButtonText));
    if (button == MPButton::Play) {
        // Row by row, so that the triangle has clean steps at every size: 1, 2, ... 5, ... 2, 1 pixels at 96
        // dpi.
        const int w = scaled(TriangleWidth);
        const int h = scaled(TriangleHeight);
        const int half = (h + 1) / 2;
        const int left = centre.x() - w / 2;
        const int top = centre.y() - h / 2;
        for (int row = 0; row < h; ++row) {
            const int length = (std::min(row, h - 1 - row) + 1) * w / half;
            painter.drawRect(QRect(left, top + row, length, 1));
        }
    } else {
        const int side = scaled(SquareSide);
        painter.drawRect(QRect(centre.x() - side / 2, centre.y() - side / 2, side, side));
    }
    painter.restore();
}

void TMediaPlayer::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const std::optional<MPButton> button = ButtonAt(event->position().toPoint());
    if (!button || !IsAvailable(*button)) return;
    pressed_ = button;
    pressedIn_ = true;
    update();
}

void TMediaPlayer::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) return;
    const bool in = ButtonAt(event->position().toPoint()) == pressed_;
    if (in == pressedIn_) return;
    pressedIn_ = in;
    update();
}

void TMediaPlayer::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) return;
    const MPButton button = *pressed_;
    const bool over = ButtonAt(event->position().toPoint()) == button;
    pressed_.reset();
    update();
    if (over) Click(button);
}

} // namespace nagisora
