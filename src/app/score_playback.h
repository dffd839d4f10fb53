#pragma once

// Playing part of the score from the score area: "ここから再生" (Shift+F6) from the note under the caret to
// the end, "選択範囲を再生" (Ctrl+F6) the selected notes, "ループ再生" (Ctrl+Shift+F6) the selected notes, or
// from the caret on without a selection, over and over until ■. Each converts the text as it is now with the
// window's settings, as "MIDI 作成" would, and plays the part in the preview player without writing the work
// file or changing MidiData or the caption; the program in force at the start of the part sounds.

#include "media_layer.h"
#include "score_part.h"

#include <QObject>

class QAction;

namespace nagisora {

class PlayingCursor;
class ScoreModel;
class TMainF;
class TScoreArea;

class ScorePlayback : public QObject {
    Q_OBJECT

  public:
    // Adds the commands to the score area's context menu and the window; owned by the window.
    ScorePlayback(TMainF& window, PlayingCursor& cursor);

    QAction* FromHereAction() const { return fromHere_; }
    QAction* SelectionAction() const { return selection_; }
    QAction* LoopAction() const { return loop_; }

  public slots:
    void PlayFromHere();
    void PlaySelection();
    void PlayLoop();

  private:
    enum class Notes { FromCaret, Selected, SelectedOrFromCaret };
    void Play(Notes notes, Repeat repeat);
    void SayAtCaret(const QString& text) const;

    TMainF& window_;
    ScoreModel& model_;
    TScoreArea& area_;
    PlayingCursor& cursor_;
    QAction* fromHere_;
    QAction* selection_;
    QAction* loop_;
};

} // namespace nagisora
