#include "app/media_player.h"

#include "platform/media_errors.h"

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

MPButtonSet Only(PlayerButton button) {
    return MPButtonSet().set(static_cast<std::size_t>(button));
}

} // namespace

// Carries the layer's end notification from its audio thread to the player on the user-interface thread. The
// player unhooks itself when destroyed; the layer may keep the relay longer, which then posts nothing.
struct MediaPlayer::Relay {
    explicit Relay(MediaPlayer* p) : player(p) {}

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
    MediaPlayer* player;
};

MediaPlayer::MediaPlayer(QWidget* parent) : QWidget(parent), relay_(std::make_shared<Relay>(this)) {
    setFocusPolicy(Qt::NoFocus);
    resize(LayoutWidth, LayoutHeight);
}

void MediaPlayer::SetLayer(MediaLayer& layer) {
    layer_ = &layer;
    layer_->SetEndNotification([relay = relay_] { relay->Post(); });
}

MediaLayer& MediaPlayer::Layer() const {
    if (layer_ == nullptr) ThrowMediaError(MediaCode::NoDeviceOpen);
    return *layer_;
}

MediaPlayer::~MediaPlayer() {
    relay_->Detach();
}

void MediaPlayer::SetClickHandler(ClickHandler handler) {
    clickHandler_ = std::move(handler);
}

void MediaPlayer::SetErrorReporter(ErrorReporter reporter) {
    errorReporter_ = std::move(reporter);
}

void MediaPlayer::SetFileName(std::string fileName) {
    fileName_ = std::move(fileName);
}

template <class OpenMusic>
void MediaPlayer::OpenWith(OpenMusic&& open) {
    Close();
    try {
        open(Layer());
    } catch (const Failure& failure) {
        ForgetFile(MediaCodeOf(failure));
        throw;
    }
    lastError_ = layer_->LastError();
    SetAvailable(CanPlay() ? Only(PlayerButton::Play) : MPButtonSet());
}

void MediaPlayer::Open() {
    OpenWith([&](MediaLayer& layer) { layer.Open(fileName_); });
}

void MediaPlayer::OpenImage(std::string_view image) {
    OpenWith([&](MediaLayer& layer) { layer.OpenImage(image); });
}

void MediaPlayer::OpenOutputOrForget() {
    try {
        layer_->OpenOutput();
    } catch (const Failure& failure) {
        layer_->Close();
        ForgetFile(MediaCodeOf(failure));
        throw;
    }
}

void MediaPlayer::OpenForPlay() {
    Open();
    OpenOutputOrForget();
}

void MediaPlayer::OpenImageForPlay(std::string_view image) {
    OpenImage(image);
    OpenOutputOrForget();
}

void MediaPlayer::PlayImage(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks) {
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
    AfterAction(PlayerButton::Play);
}

// After a failed open, which left the layer without a file: no button.
void MediaPlayer::ForgetFile(MediaCode error) {
    lastError_ = error;
    SetAvailable({});
}

void MediaPlayer::Play() {
    if (!IsOpen()) ThrowMediaError(MediaCode::NoDeviceOpen);
    layer_->Play();
    lastError_ = layer_->LastError();
}

void MediaPlayer::Stop() {
    if (!IsOpen()) ThrowMediaError(MediaCode::NoDeviceOpen);
    layer_->Stop();
    lastError_ = layer_->LastError();
}

void MediaPlayer::Close() {
    if (!IsOpen()) return;
    layer_->Close();
    lastError_ = layer_->LastError();
    SetAvailable({});
}

MediaMode MediaPlayer::Mode() const {
    return layer_ != nullptr ? layer_->Mode() : MediaMode::Stopped;
}

bool MediaPlayer::IsOpen() const {
    return layer_ != nullptr && layer_->IsOpen();
}

bool MediaPlayer::CanPlay() const {
    return layer_ != nullptr && layer_->CanPlay();
}

bool MediaPlayer::IsAvailable(PlayerButton button) const {
    return available_.test(static_cast<std::size_t>(button));
}

void MediaPlayer::Click(PlayerButton button) {
    if (!IsAvailable(button)) return;
    try {
        if (clickHandler_) clickHandler_(*this, button);
        if (button == PlayerButton::Play)
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

void MediaPlayer::AfterAction(PlayerButton button) {
    if (button == PlayerButton::Play)
        SetAvailable(Only(PlayerButton::Stop));
    else
        SetAvailable(CanPlay() ? Only(PlayerButton::Play) : MPButtonSet());
}

// A notification of a playback that a later Play has replaced finds the player playing and changes nothing.
void MediaPlayer::OnEndOfMusic() {
    if (Mode() != MediaMode::Stopped) return;
    MPButtonSet available = available_;
    available &= ~Only(PlayerButton::Stop);
    if (CanPlay()) available |= Only(PlayerButton::Play);
    SetAvailable(available);
    emit musicEnded();
}

void MediaPlayer::SetAvailable(MPButtonSet available) {
    if (available == available_) return;
    available_ = available;
    if (pressed_ && !IsAvailable(*pressed_)) pressed_.reset();
    update();
}

void MediaPlayer::Report(const Failure& failure) const {
    if (errorReporter_)
        errorReporter_(failure);
    else
        qWarning("%s", failure.what());
}

QSize MediaPlayer::sizeHint() const {
    return {LayoutWidth, LayoutHeight};
}

QSize MediaPlayer::minimumSizeHint() const {
    return sizeHint();
}

// The two buttons share their middle column: each is (width + 1) / 2 wide, Stop starting on Play's last
// column.
QRect MediaPlayer::ButtonRect(PlayerButton button) const {
    const int buttonWidth = (width() + 1) / 2;
    return button == PlayerButton::Play ? QRect(0, 0, buttonWidth, height())
                                        : QRect(width() - buttonWidth, 0, buttonWidth, height());
}

std::optional<PlayerButton> MediaPlayer::ButtonAt(QPoint point) const {
    if (!rect().contains(point)) return std::nullopt;
    return point.x() < ButtonRect(PlayerButton::Stop).left() ? PlayerButton::Play : PlayerButton::Stop;
}

void MediaPlayer::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    DrawButton(painter, PlayerButton::Play);
    DrawButton(painter, PlayerButton::Stop); // drawn last, so its left edge is the shared one
}

void MediaPlayer::DrawButton(QPainter& painter, PlayerButton button) const {
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
    if (button == PlayerButton::Play) {
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

void MediaPlayer::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const std::optional<PlayerButton> button = ButtonAt(event->position().toPoint());
    if (!button || !IsAvailable(*button)) return;
    pressed_ = button;
    pressedIn_ = true;
    update();
}

void MediaPlayer::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) return;
    const bool in = ButtonAt(event->position().toPoint()) == pressed_;
    if (in == pressedIn_) return;
    pressedIn_ = in;
    update();
}

void MediaPlayer::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) return;
    const PlayerButton button = *pressed_;
    const bool over = ButtonAt(event->position().toPoint()) == button;
    pressed_.reset();
    update();
    if (over) Click(button);
}

} // namespace nagisora
