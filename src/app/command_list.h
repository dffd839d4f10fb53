#pragma once

// What the window can do, where a new user finds it: the page "キー・機能一覧" opened from the help window (a
// button in its corner; the help text stays as it is) lists every command of the main window with its keys
// and where it is (the buttons, the player, the score area's context menu and its submenus), read from the
// window itself when the page opens. At the first start the score area's corner says once how to reach the
// context menu and the list.

#include <QString>
#include <QWidget>
#include <vector>

class QTableWidget;

namespace nagisora {

class ScoreSession;
class HelpWindow;

struct CommandRow {
    QString command; // the command's name as the window shows it, without the access key's "&"
    QString keys;    // its shortcuts, "" when it has none
    QString place;   // "右クリックメニュー > 記号を挿入 > 音", "ボタン", ...
};

// Every command of the window, in the order the window shows them.
std::vector<CommandRow> CommandRows(ScoreSession& session);

// The page of the list, modeless like the help window.
class CommandsWindow : public QWidget {
    Q_OBJECT

  public:
    explicit CommandsWindow(ScoreSession& session);

    // Fills the list anew and shows the page in front, beside the main window.
    void ShowInFront();
    QTableWidget* Table() const { return table_; }

  private:
    ScoreSession& session_;
    QTableWidget* table_;
    bool placed_ = false;
};

// Adds the button of the page to the help window, and the first start's hint to the score area.
void InstallCommandList(ScoreSession& session, HelpWindow& help);

} // namespace nagisora
