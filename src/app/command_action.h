#pragma once

// A command of the main window: an action named for the tests and the command list, with its shortcuts
// (window-wide: they work wherever the focus is in the window), a tooltip that names the first shortcut, and
// its place in a group of the score area's context menu.

#include "app/score_area.h"

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QString>

class QWidget;

namespace nagisora {

class ScoreSession;

struct Command {
    const char* name;         // the action's object name
    QString text;             // as the menu shows it
    QList<QKeySequence> keys; // the first is named in the tooltip
    QString tip;              // empty: the text
    QString otherWays = {};   // named after the keys: "Ctrl+ホイール"
};

// The tooltip: the tip, then the first shortcut and the other ways in brackets.
QString CommandTip(const Command& command);

// Makes the action, owned by the window, and adds it to the window.
QAction* MakeCommand(QWidget& window, const Command& command);

// Makes the action, owned by the session's window, and adds it to the window and to the group of the menu.
QAction* AddCommand(ScoreSession& session, CommandGroup group, const Command& command);

// The same, running slot of receiver when triggered.
template <class Receiver, class Slot>
QAction* AddCommand(ScoreSession& session, CommandGroup group, const Command& command,
                    const Receiver* receiver, Slot slot) {
    QAction* action = AddCommand(session, group, command);
    QObject::connect(action, &QAction::triggered, receiver, slot);
    return action;
}

} // namespace nagisora
