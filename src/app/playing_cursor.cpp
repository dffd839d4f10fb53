#include "app/playing_cursor.h"

#include "app/bench_trace.h"
#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "core/event_timeline.h"
#include "core/midi_image.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <cmath>
#include <numeric>

namespace nagisora {
namespace {

constexpr int FrameMs = 16;
const QColor PlayingTint(0xFF, 0xB0, 0x00);
constexpr int SeeThroughAlpha = 96; // of the selection's colour while a note is marked

} // namespace

// --- lines followed through edits ---

void LineFollower::Take(std::span<const std::string_view> lines) {
    kept_.assign(lines.begin(), lines.end());
    now_.resize(kept_.size());
    std::iota(now_.begin(), now_.end(), 0);
}

// The kept lines before the change stay; those after it move by delta. A line among the replaced ones is
// still there when its text is, at its place or moved by delta (a line break typed before it).
void LineFollower::Follow(int first, int last, int delta, std::span<const std::string_view> now) {
    const auto sameAt = [&](std::size_t kept, int line) {
        return line >= first && line <= last && static_cast<std::size_t>(line) < now.size() &&
               now[static_cast<std::size_t>(line)] == kept_[kept];
    };
    for (std::size_t k = 0; k < now_.size(); ++k) {
        int& line = now_[k];
        if (line < first) continue;
        if (line > last - delta)
            line += delta;
        else
            line = sameAt(k, line) ? line : sameAt(k, line + delta) ? line + delta : -1;
    }
}

std::optional<std::int32_t> LineFollower::LineNow(std::int32_t line) const {
    if (line < 1 || static_cast<std::size_t>(line) > now_.size()) return std::nullopt;
    const int at = now_[static_cast<std::size_t>(line - 1)];
    if (at < 0) return std::nullopt;
    return at + 1;
}

// --- the cursor ---

PlayingCursor::PlayingCursor(ScoreSession& session)
    : QObject(&session.Window()), session_(session), model_(session.Model()), area_(session.Area()),
      frames_(new QTimer(this)) {
    setObjectName(QStringLiteral("PlayingCursor"));
    frames_->setTimerType(Qt::PreciseTimer);
    frames_->setInterval(FrameMs);
    connect(frames_, &QTimer::timeout, this, &PlayingCursor::Frame);
    connect(&model_, &ScoreModel::Remapped, this, &PlayingCursor::FollowLines);

    // The events of "MIDI 作成" are those the map places, made from the same lines with the same
    // transposition.
    connect(&session_, &ScoreSession::Converted, this, [this] {
        const std::span<const NoteEvent> events = session_.WorkEvents();
        work_.events.assign(events.begin(), events.end());
        const std::vector<EventPlace>& places = model_.Map().events;
        if (places.size() == work_.events.size())
            work_.places = places;
        else
            work_.places.clear();
        work_.lines.Take(model_.Lines());
    });
    connect(&session_, &ScoreSession::WorkFilePlaying, this, [this] { Start(&work_); });
}

const Performance& PlayingCursor::Playing() const {
    return *playing_;
}

void PlayingCursor::FollowPart(std::vector<NoteEvent> events, std::vector<EventPlace> places,
                               std::int64_t startTick) {
    part_.events = std::move(events);
    part_.places = std::move(places);
    if (part_.places.size() != part_.events.size()) part_.places.clear();
    part_.startTick = startTick;
    part_.lines.Take(model_.Lines());
    Start(&part_);
}

void PlayingCursor::Start(const Performance* performance) {
    playing_ = performance;
    caughtOnset_ = -1;
    Clear();
    frames_->start();
}

// The mark is made anew on the text as it is now: a mark kept through the edit would grow over text typed at
// its end.
void PlayingCursor::FollowLines(int first, int last, int delta) {
    for (Performance* performance : {&work_, &part_})
        performance->lines.Follow(first, last, delta, model_.Lines());
    if (shown_) Mark(*shown_);
}

void PlayingCursor::Frame() {
    const HeardPosition heard = session_.Heard();
    const std::optional<std::size_t> event =
        heard.sounding ? EventSoundingAt(playing_->events, heard.tick) : std::nullopt;
    if (event && event != shown_) Show(*event);
    if (event) CatchNextNote(*event, heard);
    emit HeardAt(heard.sounding ? playing_->startTick + heard.tick - midi::LeadInDelta : -1);
    if (heard.sounding || session_.Mode() != MediaMode::Stopped) return;
    frames_->stop();
    // The end of the music takes the mark away; ■ leaves it where the music stopped.
    if (shown_ && *shown_ + 1 >= playing_->events.size()) Clear();
}

// The next note is heard before the next frame: one frame more at its onset, so that the mark moves with the
// note instead of up to a frame after it.
void PlayingCursor::CatchNextNote(std::size_t event, const HeardPosition& heard) {
    if (heard.tick <= 0 || event + 1 >= playing_->events.size()) return;
    const auto sounding = playing_->events.begin() + static_cast<std::ptrdiff_t>(event);
    const std::int64_t next =
        std::accumulate(playing_->events.begin(), sounding + 1, std::int64_t{midi::LeadInDelta},
                        [](std::int64_t sum, const NoteEvent& e) { return sum + e.ticks; });
    if (next == caughtOnset_) return;
    // Ticks pass as the practice speed has them.
    const double msPerTick = heard.seconds * 1000.0 / static_cast<double>(heard.tick) / heard.speed;
    const int ms = static_cast<int>(std::ceil(static_cast<double>(next - heard.tick) * msPerTick));
    if (ms >= FrameMs) return;
    caughtOnset_ = next;
    QTimer::singleShot(std::max(ms, 0), Qt::PreciseTimer, this, &PlayingCursor::Frame);
}

QTextCursor PlayingCursor::CursorFor(const SourcePlace& place) const {
    if (place.IsNone()) return {};
    const std::optional<std::int32_t> line = playing_->lines.LineNow(place.line);
    if (!line) return {};
    return model_.CursorFor(SourcePlace{*line, place.byte, place.bytes});
}

void PlayingCursor::Show(std::size_t event) {
    shown_ = event;
    Trace("mark " + std::to_string(event));
    const QList<QTextEdit::ExtraSelection>& marks = Mark(event);
    if (!marks.empty()) KeepInView(marks.front().cursor, marks.back().cursor);
}

const QList<QTextEdit::ExtraSelection>& PlayingCursor::Mark(std::size_t event) {
    QList<QTextEdit::ExtraSelection> marks;
    if (event < playing_->places.size()) {
        const QPalette& palette = area_.palette();
        QTextCharFormat format;
        format.setBackground(Mixed(PlayingTint, palette.color(QPalette::Base), 0.55));
        format.setForeground(palette.color(QPalette::Text));
        const EventPlace& place = playing_->places[event];
        for (const SourcePlace& at : {place.pitch, place.duration})
            if (QTextCursor cursor = CursorFor(at); !cursor.isNull())
                marks.push_back(QTextEdit::ExtraSelection{cursor, format});
    }
    SeeThroughSelection(!marks.empty());
    area_.SetMarks(MarkLayer::Playing, std::move(marks));
    return area_.Marks(MarkLayer::Playing);
}

// The selection is drawn over the marks: while a note is marked it lets the mark show through, so that
// playing the selected notes shows which of them sounds.
void PlayingCursor::SeeThroughSelection(bool on) {
    if (on == keptPalette_.has_value()) return;
    if (!on) {
        area_.setPalette(*keptPalette_);
        keptPalette_.reset();
        return;
    }
    keptPalette_ = area_.palette();
    QPalette palette = *keptPalette_;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        QColor highlight = palette.color(group, QPalette::Highlight);
        highlight.setAlpha(SeeThroughAlpha);
        palette.setColor(group, QPalette::Highlight, highlight);
        palette.setColor(group, QPalette::HighlightedText, palette.color(group, QPalette::Text));
    }
    area_.setPalette(palette);
}

void PlayingCursor::Clear() {
    shown_.reset();
    SeeThroughSelection(false);
    if (!area_.Marks(MarkLayer::Playing).isEmpty()) area_.SetMarks(MarkLayer::Playing, {});
}

// Scrolls the area only when the marked characters leave the view: a third of the view then stands before
// them, so that the music is followed a page at a time.
void PlayingCursor::KeepInView(const QTextCursor& from, const QTextCursor& to) {
    const QRect view = area_.viewport()->rect();
    QTextCursor start = from;
    start.setPosition(from.selectionStart());
    const QRect first = area_.cursorRect(start);
    const QRect shown = first.united(area_.cursorRect(to));
    if (shown.top() < 0 || shown.bottom() > view.bottom()) {
        // The vertical scroll bar of the area counts lines.
        const int lineHeight = std::max(1, first.height());
        const int linesInView = view.height() / lineHeight;
        area_.verticalScrollBar()->setValue(from.block().blockNumber() - linesInView / 3);
    }
    const int margin = 2 * first.height();
    if (shown.left() < margin || shown.right() > view.right() - margin) {
        QScrollBar* bar = area_.horizontalScrollBar();
        bar->setValue(bar->value() + shown.left() - view.width() / 3);
    }
}

} // namespace nagisora
