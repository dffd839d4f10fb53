#pragma once

// The size of the score area's text: larger with Ctrl and the wheel turned away, Ctrl++ (or Ctrl+=), smaller
// with the wheel turned back or Ctrl+−, and back to the window's own size with Ctrl+0. The size is kept in
// the user's settings ("view/scoreZoom", in steps of an eighth of the window's size) and taken at the next
// start. Only the text grows: the window and its controls keep their places and sizes.

#include <QObject>

class QAction;

namespace nagisora {

class ScoreSession;
class ScoreArea;

class ScoreZoom : public QObject {
    Q_OBJECT

  public:
    static constexpr int Smallest = -2; // steps from the window's own size: 75 %
    static constexpr int Largest = 16;  // 300 %

    // Adds the commands to the score area's context menu and to the window; owned by the window.
    explicit ScoreZoom(ScoreSession& session);

    int Step() const { return step_; }
    // Sets the size (clamped to the steps there are) and keeps it in the settings.
    void SetStep(int step);

    QAction* InAction() const { return in_; }
    QAction* OutAction() const { return out_; }
    QAction* ResetAction() const { return reset_; }

  private:
    void Apply();

    ScoreArea& area_;
    int basePixels_;
    int step_ = 0;
    QAction* in_;
    QAction* out_;
    QAction* reset_;
};

} // namespace nagisora
