#pragma once

// What the score area shows of the score's structure and of the music playing: the colours of lines and
// symbols, the column guide at the caret, the playing cursor, the commands that play part of the score and
// the piano roll window. Installed in the main window with one call.

#include "core/score_part.h"

#include <QObject>

class QAction;

namespace nagisora {

class ColumnGuide;
class PlayingCursor;
class ScoreColours;
class ScoreModel;
class ScorePlayback;
class ScoreSession;
class PianoRollWindow;
class ScoreChecker;

class ScoreViews : public QObject {
    Q_OBJECT

  public:
    // The windows of the views mark the checker's findings.
    ScoreViews(ScoreSession& session, ScoreChecker& checker);

    ScoreColours& Colours() const { return *colours_; }
    ColumnGuide& Guide() const { return *guide_; }
    PlayingCursor& Cursor() const { return *cursor_; }
    ScorePlayback& Playback() const { return *playback_; }
    PianoRollWindow& PianoRollF() const { return *pianoRollF_; }
    QAction* PianoRollAction() const { return pianoRoll_; }

  private:
    ScoreColours* colours_;
    ColumnGuide* guide_;
    PlayingCursor* cursor_;
    ScorePlayback* playback_;
    PianoRollWindow* pianoRollF_;
    QAction* pianoRoll_;
};

// Installs them in the session's window, which owns them.
ScoreViews& InstallScoreViews(ScoreSession& session, ScoreChecker& checker);

// The point before the character at a position of the model's document.
TextPoint TextPointAt(const ScoreModel& model, int position);

} // namespace nagisora
