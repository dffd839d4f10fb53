#include "app/score_views.h"

#include "app/column_guide.h"
#include "app/command_action.h"
#include "app/fingering_window.h"
#include "app/piano_roll_window.h"
#include "app/playing_cursor.h"
#include "app/practice_window.h"
#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"
#include "app/score_playback.h"
#include "app/score_session.h"
#include "app/vertical_score_window.h"

#include <QAction>
#include <QTextBlock>

namespace nagisora {

ScoreViews::ScoreViews(ScoreSession& session, ScoreChecker& checker)
    : QObject(&session.Window()), colours_(new ScoreColours(session.Model(), session.Area())),
      guide_(new ColumnGuide(session.Model(), session.Area())), cursor_(new PlayingCursor(session)),
      playback_(new ScorePlayback(session, *cursor_)), pianoRollF_(new PianoRollWindow(session, *cursor_)),
      pianoRoll_(AddCommand(session, CommandGroup::Views,
                            {"actPianoRoll",
                             QStringLiteral("ピアノロール…"),
                             {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)},
                             QStringLiteral("変換した音をピアノロールで表示します")},
                            pianoRollF_, &PianoRollWindow::ShowInFront)) {
    setObjectName(QStringLiteral("ScoreViews"));
    InstallVerticalScore(session, *cursor_, checker);
    InstallFingering(session, *cursor_);
    InstallPractice(session, *cursor_);
    // The play commands work from the piano roll too.
    for (QAction* action :
         {playback_->FromHereAction(), playback_->SelectionAction(), playback_->LoopAction()})
        pianoRollF_->addAction(action);
}

ScoreViews& InstallScoreViews(ScoreSession& session, ScoreChecker& checker) {
    return *new ScoreViews(session, checker);
}

TextPoint TextPointAt(const ScoreModel& model, int position) {
    const QTextBlock block = model.Document().findBlock(position);
    const int line = block.blockNumber();
    return TextPoint{line + 1, model.ByteAt(line, position - block.position())};
}

} // namespace nagisora
