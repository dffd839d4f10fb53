#pragma once

// The keyboard of the main window, as a desktop user expects it: Enter presses the focused button as Space
// does; the commands have shortcuts (Ctrl+O 楽譜読込, Ctrl+S 楽譜保存, F5 MIDI 作成, Ctrl+Shift+S MIDI 保存,
// F6 ▶, F7 ■, F1 ヘルプ), shown in the tooltips of their buttons; Esc stops the preview while it plays; and
// the control that has the focus at start shows its focus frame. Backspace deletes a character of another
// code page 932 form together with its invisible mark.

namespace Ui {
class MainWindow;
}

namespace nagisora {

class ScoreSession;

// Installs them on the session's window, whose controls ui holds.
void InstallMainKeys(ScoreSession& session, Ui::MainWindow& ui);

} // namespace nagisora
