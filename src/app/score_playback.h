#pragma once

// Playing part of the score from the score area: "ここから再生" (Shift+F6) from the note under the caret to
// the end, "選択範囲を再生" (Ctrl+F6) the selected notes, "ループ再生" (Ctrl+Shift+F6) the selected notes, or
// from the caret on without a selection, over and over until ■. Each converts the text as it is now with the
// window's settings, as "MIDI 作成" would, and plays the part in the preview player without writing the work
// file or changing MidiData or the caption; the program in force at the start of the part sounds.
//
// Practice, for ▶ and these commands alike (in the context menu's "練習テンポ" and beside it, kept in the
// settings as playback/...): a practice tempo of 25 to 200 % that plays the music slower or faster without
// changing the score's tempo, the MIDI data or any file made from it (shown in the caption when it is not
// 100 %); a loop that gains speed with each pass, from a start by a step up to the practice tempo; a count-in
// of one measure (4 beats without bar lines) and a metronome click on every beat, heard in the preview only.

#include "core/score_part.h"
#include "platform/media_layer.h"

#include <QObject>
#include <cstdint>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;
class QSettings;

namespace nagisora {

class PlayingCursor;
class ScoreModel;
class ScoreSession;
class ScoreArea;

class ScorePlayback : public QObject {
    Q_OBJECT

  public:
    // Adds the commands to the score area's context menu and the window; owned by the window.
    ScorePlayback(ScoreSession& session, PlayingCursor& cursor);

    QAction* FromHereAction() const { return fromHere_; }
    QAction* SelectionAction() const { return selection_; }
    QAction* LoopAction() const { return loop_; }
    QAction* MetronomeAction() const { return metronome_; }
    QAction* CountInAction() const { return countIn_; }
    QMenu* TempoMenu() const { return tempoMenu_; }

    // The practice tempo and the loop ladder as the preview plays them.
    PlaybackSpeed Speed() const;
    // Sets the practice tempo (taken into 25 to 200 %), keeps it in the settings and plays at it at once.
    void SetTempoPercent(int percent);

    // The clicks of a stretch of the whole piece (ticks from its first event), for an image that begins at
    // `from` after its lead-in: what the count-in and metronome settings ask for.
    std::vector<MetronomeClick> ClicksOf(std::span<const std::int64_t> barTicks, std::int64_t from,
                                         std::int64_t to) const;

  public slots:
    void PlayFromHere();
    void PlaySelection();
    void PlayLoop();

  private:
    enum class Notes { FromCaret, Selected, SelectedOrFromCaret };
    void Play(Notes notes, Repeat repeat);
    void SayAtCaret(const QString& text) const;
    void MakePracticeCommands();
    void MakeClickCommands(const QSettings& settings);
    void MakeTempoMenu();
    void MakeLadderCommands(const QSettings& settings);
    void ApplySpeed();
    void ShowSpeed(int percent);
    std::vector<std::int64_t> BarTicks(std::span<const NoteEvent> events) const;
    void WorkPlaying();

    ScoreSession& session_;
    ScoreModel& model_;
    ScoreArea& area_;
    PlayingCursor& cursor_;
    QAction* fromHere_;
    QAction* selection_;
    QAction* loop_;
    QAction* metronome_ = nullptr;
    QAction* countIn_ = nullptr;
    QAction* ladder_ = nullptr;
    QMenu* tempoMenu_ = nullptr;
    QActionGroup* tempoPresets_ = nullptr;
    int tempoPercent_ = 100;
    int ladderFrom_ = 70;
    int ladderStep_ = 5;
    int shownPercent_ = 100;             // the speed the caption names
    std::vector<std::int64_t> workBars_; // the bar lines of the last "MIDI 作成", in ticks
};

} // namespace nagisora
