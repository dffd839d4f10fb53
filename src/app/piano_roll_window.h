#pragma once

// The piano roll: a modeless window that draws the converted notes of the score area, time across and key
// up, one bar per note coloured by its timbre (the program in force), the score's bar lines (｜) and, while
// the preview plays, the playhead. A click on a note puts the caret of the score area on its pitch symbol;
// the notes of the text selected in the score area are outlined. The window follows the text as it is
// typed.
//
// Drawing stays within a frame for the longest score: only what the view shows is drawn, into a picture that
// is kept until the notes, the view or the selection change; the moving playhead is drawn over it.

#include "core/score_part.h"

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QTimer;

namespace nagisora {

class PlayingCursor;
class ScoreModel;
class ScoreSession;
class ScoreArea;

class PianoRoll : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit PianoRoll(QWidget* parent = nullptr);

    // The notes in time order, the ticks of the bar lines and the length of the music (all from its first
    // event); the settings give the colours (the program of each note).
    void SetNotes(std::vector<SoundingNote> notes, std::vector<std::int64_t> bars, std::int64_t length);
    const std::vector<SoundingNote>& Notes() const { return notes_; }
    // The events whose notes are outlined.
    void SetSelected(EventRange events);
    EventRange Selected() const { return selected_; }
    // The tick heard now, or -1: the playhead, kept in view.
    void SetPlayhead(std::int64_t tick);
    std::int64_t Playhead() const { return playhead_; }

    // Pixels a tick; the whole music in the view.
    void SetScale(double pixelsPerTick, int anchorX = 0);
    double Scale() const { return pixelsPerTick_; }
    void ShowWhole();

    // The note (an index of Notes()) drawn at a point of the viewport.
    std::optional<std::size_t> NoteAt(QPoint point) const;
    QRect NoteRect(const SoundingNote& note) const;

    // Paints what the view shows now, as the kept picture is made.
    void PaintView(QPainter& painter) const;

    // The tooltip of a note.
    using ToolTipSource = std::function<QString(const SoundingNote&)>;
    void SetToolTipSource(ToolTipSource source) { toolTipSource_ = std::move(source); }

  signals:
    // A note was clicked: the event of its note symbol.
    void NoteClicked(std::size_t event);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

  private:
    double X(std::int64_t tick) const;
    double Y(std::int32_t key) const;
    double RowHeight() const;
    QRect RowRect(std::int32_t key, int left, int width) const;
    std::int64_t TickAtX(double x) const;
    int Gutter() const;
    void UpdateRange();
    void Invalidate();
    void MakeColours();
    QRect PlayheadRect(std::int64_t tick) const;

    std::vector<SoundingNote> notes_;
    std::vector<std::int64_t> bars_;
    std::int64_t length_ = 0;
    std::int32_t lowKey_ = 48;
    std::int32_t highKey_ = 84;
    EventRange selected_;
    std::int64_t playhead_ = -1;
    double pixelsPerTick_ = 0.25;
    bool wholeShown_ = true; // the view keeps the whole music in it as it is resized
    std::array<QColor, 256> programColours_;
    QColor gridColour_, blackKeyColour_, barColour_, playheadColour_, highlightColour_;
    int gutter_ = 0; // the width of the keys' names
    QPixmap picture_;
    bool pictureValid_ = false;
    ToolTipSource toolTipSource_;
};

// The window, following the main window's score area and playback.
class PianoRollWindow : public QWidget {
    Q_OBJECT

  public:
    PianoRollWindow(ScoreSession& session, PlayingCursor& cursor);

    // Shows the window, placed the first time, in front, with the notes of the text as it is now.
    void ShowInFront();
    PianoRoll& Roll() const { return *roll_; }
    // Takes the notes of the text now.
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void QueueRefresh();
    void FollowSelection();
    void GoToNote(std::size_t event);
    QString ToolTipOf(const SoundingNote& note) const;

    ScoreSession& session_;
    ScoreModel& model_;
    ScoreArea& area_;
    PianoRoll* roll_;
    QLabel* status_;
    QTimer* queued_;
    bool placed_ = false;
};

} // namespace nagisora
