#include "score_views.h"

#include "column_guide.h"
#include "fFingering.h"
#include "fMain.h"
#include "fPianoRoll.h"
#include "fPractice.h"
#include "fVerticalScore.h"
#include "playing_cursor.h"
#include "score_area.h"
#include "score_colours.h"
#include "score_model.h"
#include "score_playback.h"

#include <QAction>
#include <QTextBlock>

namespace nagisora {

ScoreViews::ScoreViews(TMainF& window)
    : QObject(&window), colours_(new ScoreColours(window)), guide_(new ColumnGuide(window)),
      cursor_(new PlayingCursor(window)), playback_(new ScorePlayback(window, *cursor_)),
      pianoRollF_(new TPianoRollF(window, *cursor_)),
      pianoRoll_(new QAction(QStringLiteral("ピアノロール…"), &window)) {
    setObjectName(QStringLiteral("ScoreViews"));
    pianoRoll_->setObjectName(QStringLiteral("actPianoRoll"));
    pianoRoll_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    pianoRoll_->setToolTip(QStringLiteral("変換した音をピアノロールで表示します (Ctrl+Shift+R)"));
    connect(pianoRoll_, &QAction::triggered, pianoRollF_, &TPianoRollF::ShowInFront);
    window.ScoreArea().AddCommand(CommandGroup::Views, pianoRoll_);
    window.addAction(pianoRoll_);
    InstallVerticalScore(window, *cursor_);
    InstallFingering(window, *cursor_);
    InstallPractice(window, *cursor_);
    // The play commands work from the piano roll too.
    for (QAction* action :
         {playback_->FromHereAction(), playback_->SelectionAction(), playback_->LoopAction()})
        pianoRollF_->addAction(action);
}

ScoreViews& InstallScoreViews(TMainF& window) {
    return *new ScoreViews(window);
}

TextPoint TextPointAt(const ScoreModel& model, int position) {
    const QTextBlock block = model.Document().findBlock(position);
    const int line = block.blockNumber();
    return TextPoint{line + 1, model.ByteAt(line, position - block.position())};
}

} // namespace nagisora
