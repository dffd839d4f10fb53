#include "app/piano_roll_window.h"

#include "app/fonts.h"
#include "app/modeless_window.h"
#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/score_views.h"
#include "app/window_scale.h"

#include <QHelpEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

constexpr int RollWidth = 760;
constexpr int RollHeight = 320;
constexpr int RightMargin = 16;       // pixels after the end of the music
constexpr std::int32_t KeyMargin = 2; // rows above the highest key and below the lowest
constexpr std::int32_t LeastKeys = 25;
constexpr double MostPixelsPerTick = 8.0;
constexpr double ZoomStep = 1.25;
constexpr int HitSlop = 3; // pixels around a thin note that still hit it

bool IsBlackKey(std::int32_t key) {
    switch (((key % 12) + 12) % 12) {
    case 1:
    case 3:
    case 6:
    case 8:
    case 10:
        return true;
    default:
        return false;
    }
}

QString KeyName(std::int32_t key) {
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QString::fromLatin1(names[((key % 12) + 12) % 12]) + QString::number(key / 12 - 1);
}

} // namespace

// --- the roll ---

PianoRoll::PianoRoll(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("PianoRoll"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    MakeColours();
}

void PianoRoll::MakeColours() {
    const QColor base = palette().color(QPalette::Base);
    const QColor text = palette().color(QPalette::Text);
    const bool darkBase = base.lightnessF() < 0.5;
    // Timbre numbers that follow each other get hues far apart, and of three numbers in a row one is lighter
    // and one darker.
    for (std::size_t program = 0; program < programColours_.size(); ++program)
        programColours_[program] =
            QColor::fromHsl(static_cast<int>(program * 47 % 360), 170,
                            (darkBase ? 130 : 145) + 25 * (static_cast<int>(program % 3) - 1));
    gridColour_ = Mixed(text, base, 0.18);
    blackKeyColour_ = Mixed(text, base, 0.06);
    barColour_ = Mixed(text, base, 0.45);
    playheadColour_ = ReadableOn(base, 0, 230, 3.0);
    highlightColour_ = text;
    gutter_ = fontMetrics().horizontalAdvance(QStringLiteral("C#10")) + 6;
}

int PianoRoll::Gutter() const {
    return gutter_;
}

double PianoRoll::RowHeight() const {
    return static_cast<double>(viewport()->height()) / (highKey_ - lowKey_ + 1);
}

double PianoRoll::X(std::int64_t tick) const {
    return Gutter() + static_cast<double>(tick) * pixelsPerTick_ - horizontalScrollBar()->value();
}

double PianoRoll::Y(std::int32_t key) const {
    return (highKey_ - key) * RowHeight();
}

std::int64_t PianoRoll::TickAtX(double x) const {
    return static_cast<std::int64_t>(
        std::floor((x - Gutter() + horizontalScrollBar()->value()) / pixelsPerTick_));
}

void PianoRoll::SetNotes(std::vector<SoundingNote> notes, std::vector<std::int64_t> bars,
                         std::int64_t length) {
    notes_ = std::move(notes);
    bars_ = std::move(bars);
    length_ = length;
    auto [low, high] = KeyRangeOf(notes_, {60, 60});
    low -= KeyMargin;
    high += KeyMargin;
    if (const std::int32_t missing = LeastKeys - (high - low + 1); missing > 0) {
        low -= missing / 2;
        high += missing - missing / 2;
    }
    lowKey_ = low;
    highKey_ = high;
    if (wholeShown_)
        ShowWhole();
    else
        UpdateRange();
    Invalidate();
}

void PianoRoll::SetSelected(EventRange events) {
    if (events.Empty()) events = {};
    if (events == selected_) return;
    selected_ = events;
    Invalidate();
}

QRect PianoRoll::PlayheadRect(std::int64_t tick) const {
    if (tick < 0) return {};
    const int x = static_cast<int>(std::lround(X(tick)));
    return QRect(x - 2, 0, 5, viewport()->height());
}

void PianoRoll::SetPlayhead(std::int64_t tick) {
    if (tick == playhead_) return;
    const QRect before = PlayheadRect(playhead_);
    playhead_ = tick;
    if (tick >= 0) {
        // Out of view, the view turns a page: the playhead comes in a tenth of the width from the left.
        const double x = X(tick);
        const int width = viewport()->width() - Gutter();
        if (x < Gutter() || x > viewport()->width() - HitSlop) {
            QScrollBar* bar = horizontalScrollBar();
            bar->setValue(bar->value() + static_cast<int>(x - Gutter()) - width / 10);
        }
    }
    viewport()->update(before);
    viewport()->update(PlayheadRect(playhead_));
}

void PianoRoll::UpdateRange() {
    const int visible = std::max(1, viewport()->width() - Gutter());
    const auto content =
        static_cast<int>(std::ceil(static_cast<double>(length_) * pixelsPerTick_)) + RightMargin;
    QScrollBar* bar = horizontalScrollBar();
    bar->setRange(0, std::max(0, content - visible));
    bar->setPageStep(visible);
    bar->setSingleStep(std::max(1, visible / 20));
}

void PianoRoll::ShowWhole() {
    const int visible = std::max(1, viewport()->width() - Gutter() - RightMargin);
    pixelsPerTick_ = static_cast<double>(visible) / static_cast<double>(std::max<std::int64_t>(length_, 1));
    wholeShown_ = true;
    UpdateRange();
    horizontalScrollBar()->setValue(0);
    Invalidate();
}

void PianoRoll::SetScale(double pixelsPerTick, int anchorX) {
    const double whole = static_cast<double>(std::max(1, viewport()->width() - Gutter() - RightMargin)) /
                         static_cast<double>(std::max<std::int64_t>(length_, 1));
    if (pixelsPerTick <= whole) return ShowWhole();
    const double tick = (anchorX - Gutter() + horizontalScrollBar()->value()) / pixelsPerTick_;
    pixelsPerTick_ = std::min(pixelsPerTick, MostPixelsPerTick);
    wholeShown_ = false;
    UpdateRange();
    horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(Gutter() + tick * pixelsPerTick_ - anchorX)));
    Invalidate();
}

void PianoRoll::Invalidate() {
    pictureValid_ = false;
    viewport()->update();
}

// Whole pixels, a column apart from the next note where a short note is wide enough to spare it, so that
// repeated notes of one key are told apart.
QRect PianoRoll::NoteRect(const SoundingNote& note) const {
    const auto left = static_cast<int>(std::floor(X(note.start)));
    const auto right = static_cast<int>(std::floor(X(note.end)));
    const int gap = right - left > 3 ? 1 : 0;
    const QRect row = RowRect(note.key, left, std::max(1, right - left - gap));
    return row.height() > 2 ? row.adjusted(0, 0, 0, -1) : row;
}

// The row of a key in whole pixels: rows of a fractional height share the pixels without gaps.
QRect PianoRoll::RowRect(std::int32_t key, int left, int width) const {
    const auto top = static_cast<int>(std::floor(Y(key)));
    const auto bottom = static_cast<int>(std::floor(Y(key - 1)));
    return QRect(left, top, width, std::max(1, bottom - top));
}

void PianoRoll::PaintView(QPainter& painter) const {
    const QRect view = viewport()->rect();
    const int gutter = Gutter();
    const double rowHeight = RowHeight();
    painter.fillRect(view, palette().color(QPalette::Base));

    const QRect music(gutter, 0, view.width() - gutter, view.height());
    painter.save();
    painter.setClipRect(music);
    for (std::int32_t key = lowKey_; key <= highKey_; ++key) {
        if (IsBlackKey(key)) painter.fillRect(RowRect(key, gutter, music.width()), blackKeyColour_);
        if (key % 12 == 0)
            painter.fillRect(QRect(gutter, RowRect(key, gutter, 1).bottom(), music.width(), 1), gridColour_);
    }

    // Only what lies between the view's first and last tick: notes follow each other without overlapping,
    // so both their starts and their ends are in order.
    const std::int64_t firstTick = TickAtX(gutter);
    const std::int64_t lastTick = TickAtX(view.width()) + 1;
    for (auto bar = std::lower_bound(bars_.begin(), bars_.end(), firstTick);
         bar != bars_.end() && *bar <= lastTick; ++bar)
        painter.fillRect(QRect(static_cast<int>(std::floor(X(*bar))), 0, 1, view.height()), barColour_);

    const auto first = std::partition_point(
        notes_.begin(), notes_.end(), [firstTick](const SoundingNote& n) { return n.end <= firstTick; });
    const bool anySelected = !selected_.Empty();
    const QColor base = palette().color(QPalette::Base);
    for (auto note = first; note != notes_.end() && note->start <= lastTick; ++note) {
        const QColor& colour = programColours_[static_cast<std::size_t>(note->program) & 0xFF];
        const bool selected = selected_.Holds(note->event);
        painter.fillRect(NoteRect(*note), anySelected && !selected ? Mixed(colour, base, 0.3) : colour);
    }
    if (anySelected) {
        painter.setPen(QPen(highlightColour_, 2));
        painter.setBrush(Qt::NoBrush);
        for (auto note = first; note != notes_.end() && note->start <= lastTick; ++note)
            if (selected_.Holds(note->event)) painter.drawRect(NoteRect(*note).adjusted(0, 0, -1, -1));
    }
    painter.restore();

    // The keys: C of every octave named.
    painter.fillRect(QRect(0, 0, gutter, view.height()), palette().color(QPalette::Window));
    painter.fillRect(QRect(gutter - 1, 0, 1, view.height()), gridColour_);
    painter.setPen(palette().color(QPalette::WindowText));
    const int textHeight = fontMetrics().height();
    for (std::int32_t key = lowKey_; key <= highKey_; ++key)
        if (key % 12 == 0) {
            const int middle = static_cast<int>(Y(key) + rowHeight / 2);
            painter.drawText(QRect(2, middle - textHeight / 2, gutter - 4, textHeight),
                             Qt::AlignVCenter | Qt::AlignLeft, KeyName(key));
        }
}

void PianoRoll::paintEvent(QPaintEvent* event) {
    const qreal ratio = viewport()->devicePixelRatioF();
    if (!pictureValid_ || picture_.size() != viewport()->size() * ratio) {
        picture_ = QPixmap(viewport()->size() * ratio);
        picture_.setDevicePixelRatio(ratio);
        QPainter painter(&picture_);
        painter.setFont(font());
        PaintView(painter);
        pictureValid_ = true;
    }
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.drawPixmap(
        QRectF(area), picture_,
        QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
    if (playhead_ >= 0) {
        const double x = X(playhead_);
        if (x >= Gutter())
            painter.fillRect(QRect(static_cast<int>(std::floor(x)) - 1, 0, 2, viewport()->height()),
                             playheadColour_);
    }
}

void PianoRoll::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (wholeShown_)
        ShowWhole();
    else
        UpdateRange();
    Invalidate();
}

void PianoRoll::scrollContentsBy(int /*dx*/, int /*dy*/) {
    Invalidate();
}

std::optional<std::size_t> PianoRoll::NoteAt(QPoint point) const {
    if (point.x() < Gutter()) return std::nullopt;
    const std::int64_t from = TickAtX(point.x() - HitSlop);
    const std::int64_t to = TickAtX(point.x() + HitSlop);
    const auto first = std::partition_point(notes_.begin(), notes_.end(),
                                            [from](const SoundingNote& n) { return n.end <= from; });
    for (auto note = first; note != notes_.end() && note->start <= to; ++note)
        if (NoteRect(*note).adjusted(-HitSlop, -HitSlop, HitSlop, HitSlop).contains(point))
            return static_cast<std::size_t>(note - notes_.begin());
    return std::nullopt;
}

void PianoRoll::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    if (const std::optional<std::size_t> note = NoteAt(event->position().toPoint()))
        emit NoteClicked(notes_[*note].event);
}

// The wheel moves through the music; with Ctrl it zooms about the mouse.
void PianoRoll::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const int steps = delta.y() != 0 ? delta.y() : delta.x();
    if (event->modifiers() & Qt::ControlModifier) {
        SetScale(pixelsPerTick_ * std::pow(ZoomStep, steps / 120.0), static_cast<int>(event->position().x()));
    } else {
        QScrollBar* bar = horizontalScrollBar();
        bar->setValue(bar->value() - steps);
    }
    event->accept();
}

void PianoRoll::keyPressEvent(QKeyEvent* event) {
    const int middle = (Gutter() + viewport()->width()) / 2;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return SetScale(pixelsPerTick_ * ZoomStep * ZoomStep, middle);
    case Qt::Key_Minus:
        return SetScale(pixelsPerTick_ / (ZoomStep * ZoomStep), middle);
    case Qt::Key_0:
        return ShowWhole();
    default:
        return QAbstractScrollArea::keyPressEvent(event);
    }
}

void PianoRoll::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        MakeColours();
        Invalidate();
    }
}

bool PianoRoll::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip && toolTipSource_) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (const std::optional<std::size_t> note = NoteAt(help->pos()))
            QToolTip::showText(help->globalPos(), toolTipSource_(notes_[*note]), viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

// --- the window ---

PianoRollWindow::PianoRollWindow(ScoreSession& session, PlayingCursor& cursor)
    : QWidget(&session.Window()), session_(session), model_(session.Model()), area_(session.Area()),
      roll_(new PianoRoll(this)), status_(new QLabel(this)), queued_(new QTimer(this)) {
    const double scale = SetUpModelessWindow(*this, "PianoRollF", QStringLiteral("ピアノロール"),
                                             WindowSize::Resizable, FontPixels);
    resize(Scaled(RollWidth, scale), Scaled(RollHeight, scale));
    status_->setObjectName(QStringLiteral("lblPianoRoll"));
    status_->setContentsMargins(4, 2, 4, 2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(roll_, 1);
    layout->addWidget(status_);

    // The notes are taken anew once the event that changed the text or a setting is done.
    queued_->setSingleShot(true);
    queued_->setInterval(0);
    connect(queued_, &QTimer::timeout, this, &PianoRollWindow::Refresh);
    connect(&model_, &ScoreModel::Remapped, this, &PianoRollWindow::QueueRefresh);
    connect(&session_, &ScoreSession::settingsChanged, this, &PianoRollWindow::QueueRefresh);
    connect(&area_, &QPlainTextEdit::selectionChanged, this, &PianoRollWindow::FollowSelection);
    connect(&cursor, &PlayingCursor::HeardAt, this, [this](qint64 tick) {
        if (isVisible()) roll_->SetPlayhead(tick);
    });
    connect(roll_, &PianoRoll::NoteClicked, this, &PianoRollWindow::GoToNote);
    roll_->SetToolTipSource([this](const SoundingNote& note) { return ToolTipOf(note); });
}

void PianoRollWindow::ShowInFront() {
    ShowBeside(*this, session_.Window(), placed_);
}

void PianoRollWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

void PianoRollWindow::QueueRefresh() {
    if (isVisible() && !queued_->isActive()) queued_->start();
}

void PianoRollWindow::Refresh() {
    queued_->stop();
    const ScoreMap& map = model_.Map();
    const std::vector<std::int64_t> starts = EventStarts(map.timed);
    std::vector<std::int64_t> bars;
    bars.reserve(map.bars.size());
    for (const BarPlace& bar : map.bars)
        bars.push_back(starts[std::min(static_cast<std::size_t>(bar.eventsBefore), map.timed.size())]);
    std::vector<SoundingNote> notes = NotesSounding(map.timed, session_.Settings());
    status_->setText(
        QStringLiteral("%1 音 ・ クリック: その音の音高記号へ ・ Ctrl+ホイール、+ -: 拡大縮小 ・ 0: 全体")
            .arg(notes.size()));
    roll_->SetNotes(std::move(notes), std::move(bars), starts.back());
    FollowSelection();
}

void PianoRollWindow::FollowSelection() {
    const QTextCursor caret = area_.textCursor();
    roll_->SetSelected(caret.hasSelection()
                           ? EventsBetween(model_.Map(), TextPointAt(model_, caret.selectionStart()),
                                           TextPointAt(model_, caret.selectionEnd()))
                           : EventRange{});
}

void PianoRollWindow::GoToNote(std::size_t event) {
    const ScoreMap& map = model_.Map();
    if (event >= map.events.size()) return;
    const QTextCursor symbol = model_.CursorFor(map.events[event].pitch);
    if (symbol.isNull()) return;
    QTextCursor caret = area_.textCursor();
    caret.setPosition(symbol.selectionStart());
    area_.setTextCursor(caret);
    area_.ensureCursorVisible();
}

QString PianoRollWindow::ToolTipOf(const SoundingNote& note) const {
    const ScoreMap& map = model_.Map();
    if (note.event >= map.events.size()) return {};
    const SourceSpan span = SpanOf(map.events[note.event].pitch, model_.Lines());
    const QTextCursor symbol = model_.CursorFor(map.events[note.event].pitch);
    return QStringLiteral("%1 行 %2 列 %3\nキー %4 (%5)、音色 %6、%7 tick")
        .arg(span.line)
        .arg(span.column)
        .arg(symbol.selectedText())
        .arg(note.key)
        .arg(KeyName(note.key))
        .arg(note.program)
        .arg(note.end - note.start);
}

} // namespace nagisora
