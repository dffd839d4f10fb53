#include "app/main_keys.h"

#include "app/media_player.h"
#include "app/score_area.h"
#include "app/score_session.h"
#include "platform/cp932.h"
#include "ui_main_window.h"

#include <QAction>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolTip>

namespace nagisora {
namespace {

QString ShortcutText(const QKeySequence& keys) {
    return keys.toString(QKeySequence::NativeText);
}

// Presses an enabled button from the keyboard; a disabled one ignores its shortcut as it ignores clicks.
void Press(QPushButton* button) {
    if (button->isEnabled()) button->click();
}

// Enter on a focused button, Esc while the preview plays, and the tooltips of ▶ and ■, whose two buttons
// share one widget.
class KeyFilter : public QObject {
  public:
    KeyFilter(QWidget& window, ScoreArea& area, MediaPlayer& player)
        : QObject(&window), window_(window), area_(area), player_(player) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowActivate && watched == &window_ && !activated_) {
            activated_ = true;
            // Once the activation has given the focus (which hides focus frames until a key is used), the
            // window shows the focus frame as after a Tab, until the mouse is used.
            QMetaObject::invokeMethod(
                &window_,
                [this] {
                    window_.setAttribute(Qt::WA_KeyboardFocusChange);
                    if (QWidget* focus = window_.focusWidget()) focus->update();
                },
                Qt::QueuedConnection);
        }
        if (event->type() == QEvent::KeyPress) return KeyPressed(watched, *static_cast<QKeyEvent*>(event));
        if (event->type() == QEvent::ToolTip && watched == &player_)
            return PlayerToolTip(*static_cast<QHelpEvent*>(event));
        return false;
    }

  private:
    bool KeyPressed(QObject* watched, const QKeyEvent& key) const {
        if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        if (key.key() == Qt::Key_Backspace && watched == &area_) return DeleteMarkedCharacter();
        if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
            auto* button = qobject_cast<QPushButton*>(watched);
            if (button == nullptr || !button->hasFocus()) return false;
            Press(button);
            return true;
        }
        // Reaches the window when the control with the focus has no use for Esc.
        if (key.key() == Qt::Key_Escape && watched == &window_ && player_.IsAvailable(PlayerButton::Stop)) {
            player_.Click(PlayerButton::Stop);
            return true;
        }
        return false;
    }

    // Backspace after a character marked as another code page 932 form deletes the character with its mark;
    // the text area alone would delete the invisible mark and silently turn the character into its usual
    // form.
    bool DeleteMarkedCharacter() const {
        QTextCursor cursor = area_.textCursor();
        if (cursor.hasSelection() || cursor.atBlockStart()) return false;
        const QChar before = cursor.block().text().at(cursor.positionInBlock() - 1);
        if (before != QChar(FirstFormSelector) && before != QChar(SecondFormSelector)) return false;
        cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        area_.setTextCursor(cursor);
        return true;
    }

    // ▶ is the left half of the player, ■ the right half.
    bool PlayerToolTip(const QHelpEvent& help) const {
        const bool play = help.pos().x() < player_.width() / 2;
        const QString text = play ? QStringLiteral("再生 (%1)").arg(ShortcutText(QKeySequence(Qt::Key_F6)))
                                  : QStringLiteral("停止 (%1、再生中は %2)")
                                        .arg(ShortcutText(QKeySequence(Qt::Key_F7)),
                                             ShortcutText(QKeySequence(Qt::Key_Escape)));
        QToolTip::showText(help.globalPos(), text, &player_);
        return true;
    }

    // Known by their addresses: the filter also sees the last events of controls being destroyed.
    QWidget& window_;
    ScoreArea& area_;
    MediaPlayer& player_;
    bool activated_ = false;
};

// A window-wide shortcut that runs the command; its tooltip names the shortcut.
template <class Command>
QAction* AddShortcut(QWidget& window, const QKeySequence& keys, Command command) {
    auto* action = new QAction(&window);
    action->setShortcut(keys);
    QObject::connect(action, &QAction::triggered, &window, command);
    window.addAction(action);
    return action;
}

QAction* AddButtonShortcut(QWidget& window, QPushButton* button, const QKeySequence& keys,
                           const QString& tip) {
    button->setToolTip(QStringLiteral("%1 (%2)").arg(tip, ShortcutText(keys)));
    return AddShortcut(window, keys, [button] { Press(button); });
}

// The score file commands are also in the score area's context menu, beside the recent scores.
void AddToMenu(ScoreArea& area, QAction* action, const QString& text) {
    action->setText(text);
    area.AddCommand(CommandGroup::Files, action);
}

} // namespace

void InstallMainKeys(ScoreSession& session, Ui::MainWindow& ui) {
    QWidget& window = session.Window();
    ScoreArea& area = session.Area();
    MediaPlayer* player = ui.mPlay;
    AddToMenu(area,
              AddButtonShortcut(window, ui.btnLoad, QKeySequence(Qt::CTRL | Qt::Key_O),
                                QStringLiteral("楽譜ファイルを開く")),
              QStringLiteral("楽譜読込(&O)…"));
    AddToMenu(area,
              AddButtonShortcut(window, ui.btnSave, QKeySequence(Qt::CTRL | Qt::Key_S),
                                QStringLiteral("楽譜をファイルに保存")),
              QStringLiteral("楽譜保存(&S)…"));
    AddButtonShortcut(window, ui.btnOk, QKeySequence(Qt::Key_F5), QStringLiteral("楽譜を MIDI データに変換"));
    AddButtonShortcut(window, ui.btnMidSave, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
                      QStringLiteral("MIDI ファイルを保存"));
    AddButtonShortcut(window, ui.btnHelp, QKeySequence(Qt::Key_F1), QStringLiteral("ヘルプを表示"));
    AddShortcut(window, QKeySequence(Qt::Key_F6), [player] { player->Click(PlayerButton::Play); });
    AddShortcut(window, QKeySequence(Qt::Key_F7), [&session] { session.Stop(); });

    auto* filter = new KeyFilter(window, area, *player);
    window.installEventFilter(filter);
    player->installEventFilter(filter);
    area.installEventFilter(filter);
    for (QPushButton* button : {ui.btnOk, ui.btnMidSave, ui.btnLoad, ui.btnSave, ui.btnCleatr, ui.btnHelp})
        button->installEventFilter(filter);
}

} // namespace nagisora
