#pragma once

// The column guide of the score area: with the caret on a unit of a timbre, pitch or duration line, the
// units that the reader reads together with it (the pitch symbol, its duration unit and its timbre number)
// are marked, so that the player sees at once which duration and which timbre number belong to a note.

#include <QObject>
#include <QTextCursor>
#include <vector>

namespace nagisora {

class ScoreModel;
class ScoreArea;

class ColumnGuide : public QObject {
    Q_OBJECT

  public:
    // Follows the caret of the score area whose text the model reads; owned by the area.
    ColumnGuide(ScoreModel& model, ScoreArea& area);

    // The characters marked now: pitch, timbre and duration units, those that stand in the text.
    const std::vector<QTextCursor>& Marked() const { return marked_; }

  private:
    void Follow();

    ScoreModel& model_;
    ScoreArea& area_;
    std::vector<QTextCursor> marked_;
};

} // namespace nagisora
