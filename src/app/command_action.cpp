#include "app/command_action.h"

#include "app/score_session.h"

#include <QWidget>

namespace nagisora {

QString CommandTip(const Command& command) {
    QString tip = command.tip.isEmpty() ? command.text : command.tip;
    QStringList ways;
    if (!command.keys.isEmpty()) ways << command.keys.front().toString(QKeySequence::NativeText);
    if (!command.otherWays.isEmpty()) ways << command.otherWays;
    if (!ways.isEmpty()) tip += QStringLiteral(" (") + ways.join(QStringLiteral("、")) + u')';
    return tip;
}

QAction* MakeCommand(QWidget& window, const Command& command) {
    auto* action = new QAction(command.text, &window);
    action->setObjectName(QString::fromLatin1(command.name));
    action->setShortcuts(command.keys);
    action->setToolTip(CommandTip(command));
    window.addAction(action);
    return action;
}

QAction* AddCommand(ScoreSession& session, CommandGroup group, const Command& command) {
    QAction* action = MakeCommand(session.Window(), command);
    session.Area().AddCommand(group, action);
    return action;
}

} // namespace nagisora
