#pragma once

// The playing cursor of the score area: while the preview plays, the pitch symbol and the duration unit of
// the note being heard are marked and kept in view, frame by frame (about 60 a second) from the position the
// media layer hears. It follows ▶ (the events of the last "MIDI 作成") and the parts of the score that the
// score area's play commands start. When ■ stops the music the mark stays where it stopped; at the end of the
// music it goes.
//
// The text may change after the music was made: each note is marked only while the lines it came from are
// still there unchanged (followed through the lines added and removed above them).

#include "core/note_event.h"
#include "core/score_map.h"
#include "platform/media_layer.h"

#include <QObject>
#include <QPalette>
#include <QTextCursor>
#include <QTextEdit>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QTimer;

namespace nagisora {

class ScoreModel;
class ScoreSession;
class ScoreArea;

// Where the lines of a text stand after later edits: each kept line's number now, or none once it changed.
class LineFollower {
  public:
    void Take(std::span<const std::string_view> lines);
    // The lines first to last (from 0, as they are now) changed and the lines after them moved by delta.
    void Follow(int first, int last, int delta, std::span<const std::string_view> now);
    // The line (from 1) as it is numbered now; none when it changed or is gone.
    std::optional<std::int32_t> LineNow(std::int32_t line) const;

  private:
    std::vector<std::string> kept_;
    std::vector<int> now_; // from 0; -1 when changed
};

// Music being played: the events of its image and where each came from in the score.
struct Performance {
    std::vector<NoteEvent> events;
    std::vector<EventPlace> places; // one per event, or none when they could not be placed
    std::int64_t startTick = 0; // where the image begins in the whole piece, in ticks from its first event
    LineFollower lines;         // the score's lines when the music was made
};

class PlayingCursor : public QObject {
    Q_OBJECT

  public:
    // Follows the session's playback; owned by its window.
    explicit PlayingCursor(ScoreSession& session);

    // The part that is about to play: its events and their places in the score as it is now.
    void FollowPart(std::vector<NoteEvent> events, std::vector<EventPlace> places, std::int64_t startTick);

    // One frame: the note heard now is marked (and the area scrolled to it) when it is another than the one
    // marked. Runs on the timer while the music plays.
    void Frame();

    // The event marked now (from 0, in the music playing), if any.
    std::optional<std::size_t> Shown() const { return shown_; }
    const Performance& Playing() const;

  signals:
    // Each frame while the music plays: where it is heard in the whole piece, in ticks from its first event;
    // -1 when nothing is heard.
    void HeardAt(qint64 tick);

  private:
    void Start(const Performance* performance);
    void Show(std::size_t event);
    void CatchNextNote(std::size_t event, const HeardPosition& heard);
    const QList<QTextEdit::ExtraSelection>& Mark(std::size_t event);
    void SeeThroughSelection(bool on);
    void Clear();
    void KeepInView(const QTextCursor& from, const QTextCursor& to);
    QTextCursor CursorFor(const SourcePlace& place) const;
    void FollowLines(int first, int last, int delta);

    ScoreSession& session_;
    ScoreModel& model_;
    ScoreArea& area_;
    QTimer* frames_;
    std::int64_t caughtOnset_ = -1; // the onset tick a frame is waiting for
    Performance work_;
    Performance part_;
    const Performance* playing_ = &work_;
    std::optional<std::size_t> shown_;
    std::optional<QPalette> keptPalette_; // the area's own, while the selection lets the mark show through
};

} // namespace nagisora
