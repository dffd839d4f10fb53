#pragma once

// The 練習 window: listens to a source of the sound server that the player picks while the score plays,
// tracks the pitch of the player's tone (aubio, through the practice module) and draws it over the notes in
// cents against the note written at that moment; when the music ends it lists each note as played (its
// deviation in cents, its timing against the beat, the notes far out), and a click on a note puts the caret
// on it. Without sound input, without permission or without sound output it says so and the rest goes on.

#include "core/practice_report.h"
#include "core/score_part.h"

#include <QWidget>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace nagisora {

class LivePitchTracker;
class PlayingCursor;
class ScoreModel;
class SoundInput;
class ScoreSession;
class ScoreArea;

// The notes of the music playing, key up and time across, and the player's pitch drawn over them: each point
// at the written note's row, moved by its deviation in cents (within ±50), green within ±30 cents, red
// beyond.
class PracticeTrace : public QWidget {
    Q_OBJECT

  public:
    struct Point {
        std::int64_t tick = 0; // where the music was heard when the sound came
        double midi = 0;       // the pitch heard, moved onto the keys; 0 for no tone
    };

    explicit PracticeTrace(QWidget* parent = nullptr);

    void SetNotes(std::vector<SoundingNote> notes, std::int64_t length);
    // Adds a point, drawn at the next DrawNow (or the next paint).
    void AddPoint(Point point);
    void DrawNow();
    void SetPlayhead(std::int64_t tick);
    const std::vector<Point>& Points() const { return points_; }
    // The deviation in cents of a pitch from the note written at a tick; none where no note is written.
    std::optional<double> CentsAt(std::int64_t tick, double midi) const;
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double X(std::int64_t tick) const;
    double Y(double key) const;
    std::int64_t TickAt(double x) const;
    const SoundingNote* NoteAt(std::int64_t tick) const;

    std::vector<SoundingNote> notes_;
    std::vector<Point> points_;
    std::int64_t length_ = 1;
    std::int64_t playhead_ = -1;
    QRect dirty_;
    std::int32_t lowKey_ = 48;
    std::int32_t highKey_ = 84;
};

class PracticeWindow : public QWidget {
    Q_OBJECT

  public:
    PracticeWindow(ScoreSession& session, PlayingCursor& cursor);
    ~PracticeWindow() override;

    void ShowInFront();
    // Lists the sources of the sound server; says so when there is none to be had.
    void FindSources();
    // Starts or stops listening to the source chosen.
    void Listen(bool on);
    bool Listening() const { return input_ != nullptr; }
    // "MIDI 作成" when the score has not been made yet, listening, and ▶.
    void PlayAndListen();

    // A take of the music playing now begins; the report of a take of it (its frames timed from the take's
    // beginning), listed in the window.
    void BeginTake();
    void ReportTake(TakeAnalysis take);

    PracticeTrace& Trace() const { return *trace_; }
    const std::vector<PlayedNote>& Report() const { return report_; }
    QString Status() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Heard(qint64 tick);
    void TakeFrames(std::vector<PitchFrame> frames, std::chrono::steady_clock::time_point arrived);
    void StartTake();
    void EndTake();
    void ShowReport();
    void GoToNote(int row);
    void Say(const QString& text);

    ScoreSession& session_;
    ScoreModel& model_;
    ScoreArea& area_;
    PlayingCursor& cursor_;
    QComboBox* sources_;
    QPushButton* refresh_;
    QPushButton* listen_;
    QPushButton* play_;
    QLabel* status_;
    QLabel* now_;
    PracticeTrace* trace_;
    QTableWidget* table_;
    std::unique_ptr<LivePitchTracker> tracker_; // used on the input's thread only
    std::unique_ptr<SoundInput> input_;
    bool inTake_ = false;
    std::int32_t pipeSemitones_ = 0; // of the 運指 window's pipe, as the take began
    qint64 heardTick_ = -1;
    double takeStart_ = -1;  // the input's seconds where the take began
    double takeSpeed_ = 1.0; // the practice speed the take was heard at
    double lastSeconds_ = 0;
    std::deque<PitchFrame> recent_; // the frames of the last second, for the beginning of a take
    TakeAnalysis take_;
    std::vector<NoteEvent> events_;
    std::vector<EventPlace> places_;
    std::vector<PlayedNote> report_;
    bool placed_ = false;
};

// Makes the window and its command in the score area's context menu (Ctrl+Shift+L).
void InstallPractice(ScoreSession& session, PlayingCursor& cursor);

} // namespace nagisora
