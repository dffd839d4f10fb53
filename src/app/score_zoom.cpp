#include "app/score_zoom.h"

#include "app/command_action.h"
#include "app/score_area.h"
#include "app/score_session.h"
#include "app/user_settings.h"

#include <QAction>
#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

const QString ZoomKey = QStringLiteral("view/scoreZoom");
constexpr double StepShare = 0.125;

} // namespace

ScoreZoom::ScoreZoom(ScoreSession& session)
    : QObject(&session.Window()), area_(session.Area()), basePixels_(std::max(1, area_.font().pixelSize())),
      in_(AddCommand(session, CommandGroup::Views,
                     {"actZoomIn",
                      QStringLiteral("文字を大きく"),
                      {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                      QStringLiteral("楽譜の文字を大きくします"),
                      QStringLiteral("Ctrl+ホイール")},
                     this, [this] { SetStep(step_ + 1); })),
      out_(AddCommand(session, CommandGroup::Views,
                      {"actZoomOut",
                       QStringLiteral("文字を小さく"),
                       {QKeySequence(Qt::CTRL | Qt::Key_Minus)},
                       QStringLiteral("楽譜の文字を小さくします"),
                       QStringLiteral("Ctrl+ホイール")},
                      this, [this] { SetStep(step_ - 1); })),
      reset_(AddCommand(session, CommandGroup::Views,
                        {"actZoomReset",
                         QStringLiteral("文字を元の大きさに"),
                         {QKeySequence(Qt::CTRL | Qt::Key_0)},
                         QStringLiteral("楽譜の文字を元の大きさにします")},
                        this, [this] { SetStep(0); })) {
    setObjectName(QStringLiteral("scoreZoom"));
    // A minus sign, which the platform's name of the key ("Ctrl+-") shows as a hyphen.
    out_->setToolTip(QStringLiteral("楽譜の文字を小さくします (Ctrl+−、Ctrl+ホイール)"));
    connect(&area_, &ScoreArea::ZoomRequested, this, [this](int steps) { SetStep(step_ + steps); });
    step_ = std::clamp(UserSettings()->value(ZoomKey, 0).toInt(), Smallest, Largest);
    if (step_ != 0) Apply();
}

void ScoreZoom::SetStep(int step) {
    step = std::clamp(step, Smallest, Largest);
    if (step == step_) return;
    step_ = step;
    Apply();
    UserSettings()->setValue(ZoomKey, step_);
}

void ScoreZoom::Apply() {
    QFont font = area_.font();
    font.setPixelSize(static_cast<int>(std::lround(basePixels_ * (1 + StepShare * step_))));
    area_.setFont(font);
    in_->setEnabled(step_ < Largest);
    out_->setEnabled(step_ > Smallest);
    emit area_.ViewMoved();
}

} // namespace nagisora
