#include "score_zoom.h"

#include "fMain.h"
#include "score_area.h"
#include "user_settings.h"

#include <QAction>
#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

const QString ZoomKey = QStringLiteral("view/scoreZoom");
constexpr double StepShare = 0.125;

} // namespace

ScoreZoom::ScoreZoom(TMainF& window)
    : QObject(&window), area_(window.ScoreArea()), basePixels_(std::max(1, area_.font().pixelSize())),
      in_(new QAction(QStringLiteral("文字を大きく"), &window)),
      out_(new QAction(QStringLiteral("文字を小さく"), &window)),
      reset_(new QAction(QStringLiteral("文字を元の大きさに"), &window)) {
    setObjectName(QStringLiteral("scoreZoom"));
    const struct {
        QAction* action;
        const char* name;
        QList<QKeySequence> keys;
        QString tip;
        int change; // 0: back to the window's size
    } commands[] = {
        {in_,
         "actZoomIn",
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
         QStringLiteral("楽譜の文字を大きくします (Ctrl++、Ctrl+ホイール)"),
         1},
        {out_,
         "actZoomOut",
         {QKeySequence(Qt::CTRL | Qt::Key_Minus)},
         QStringLiteral("楽譜の文字を小さくします (Ctrl+−、Ctrl+ホイール)"),
         -1},
        {reset_,
         "actZoomReset",
         {QKeySequence(Qt::CTRL | Qt::Key_0)},
         QStringLiteral("楽譜の文字を元の大きさにします (Ctrl+0)"),
         0},
    };
    for (const auto& c : commands) {
        c.action->setObjectName(QString::fromLatin1(c.name));
        c.action->setShortcuts(c.keys);
        c.action->setToolTip(c.tip);
        const int change = c.change;
        connect(c.action, &QAction::triggered, this,
                [this, change] { SetStep(change == 0 ? 0 : step_ + change); });
        area_.AddCommand(CommandGroup::Views, c.action);
        window.addAction(c.action);
    }
    connect(&area_, &TScoreArea::ZoomRequested, this, [this](int steps) { SetStep(step_ + steps); });
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
