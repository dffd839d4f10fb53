#include "score_views.h"

#include "column_guide.h"
#include "command_action.h"
#include "fFingering.h"
#include "fPianoRoll.h"
#include "fPractice.h"
#include "fVerticalScore.h"
#include "playing_cursor.h"
#include "score_area.h"
#include "score_colours.h"
#include "score_model.h"
#include "score_playback.h"
#include "score_session.h"

#include <QAction>
#include <QTextBlock>

namespace nagisora {

ScoreViews::ScoreViews(ScoreSession& session, TScoreChecker& checker)
    : QObject(&session.Window()), colours_(new ScoreColours(session.Model(), session.ScoreArea())),
      guide_(new ColumnGuide(session.Model(), session.ScoreArea())), cursor_(new PlayingCursor(session)),
      playback_(new ScorePlayback(session, *cursor_)), pianoRollF_(new TPianoRollF(session, *cursor_)),
      pianoRoll_(AddCommand(session, CommandGroup::Views,
                            {"actPianoRoll",
                             QStringLiteral("ピアノロール…"),
                             {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)},
                             QStringLiteral("変換した音をピアノロールで表示します")},
                            pianoRollF_, &TPianoRollF::ShowInFront)) {
    setObjectName(QStringLiteral("ScoreViews"));
    InstallVerticalScore(session, *cursor_, checker);
    InstallFingering(session, *cursor_);
    InstallPractice(session, *cursor_);
    // The play commands work from the piano roll too.
    for (QAction* action :
         {playback_->FromHereAction(), playback_->SelectionAction(), playback_->LoopAction()})
        pianoRollF_->addAction(action);
}

ScoreViews& InstallScoreViews(ScoreSession& session, TScoreChecker& checker) {
    return *new ScoreViews(session, checker);
}

TextPoint TextPointAt(const ScoreModel& model, int position) {
    const QTextBlock block = model.Document().findBlock(position);
    const int line = block.blockNumber();
    return TextPoint{line + 1, model.ByteAt(line, position - block.position())};
}

} // namespace nagisora
