#pragma once

// The 運指 window: a modeless window that draws the pipe's holes for the note under the caret of the score
// area and, while the preview plays, for the note being heard, with the note's name and the pitch it sounds
// on the pipe length the player picks (the five-hole pipe, or the seven-hole pipe as an option; both kept in
// the settings). Opened from the score area's context menu.

#include "core/fingering.h"

#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;

namespace nagisora {

class PlayingCursor;
class ScoreModel;
class ScoreSession;
class ScoreArea;

// The pipe drawn upright, the mouthpiece at the top: closed holes filled, open ones empty, half-closed ones
// half filled, the back hole beside the pipe.
class FingeringView : public QWidget {
    Q_OBJECT

  public:
    explicit FingeringView(QWidget* parent = nullptr);

    void SetFingering(std::optional<Fingering> fingering);
    const std::optional<Fingering>& Shown() const { return fingering_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<Fingering> fingering_;
};

class FingeringWindow : public QWidget {
    Q_OBJECT

  public:
    FingeringWindow(ScoreSession& session, PlayingCursor& cursor);

    void ShowInFront();
    FingeringView& View() const { return *view_; }
    // The note shown: the one being heard while the music plays, else the one under the caret.
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Heard(qint64 tick);
    void Show(std::optional<Fingering> fingering, const QString& what);
    std::optional<Fingering> AtCaret() const;
    std::optional<Fingering> BeingHeard() const;
    void KeepSettings() const;

    ScoreSession& session_;
    ScoreModel& model_;
    ScoreArea& area_;
    PlayingCursor& cursor_;
    QComboBox* pipe_;
    QCheckBox* sevenHoles_;
    FingeringView* view_;
    QLabel* name_;
    QLabel* pitch_;
    QLabel* source_;
    bool hearing_ = false;
    bool placed_ = false;
};

// Makes the window and its command in the score area's context menu (Ctrl+Shift+F).
void InstallFingering(ScoreSession& session, PlayingCursor& cursor);

} // namespace nagisora
