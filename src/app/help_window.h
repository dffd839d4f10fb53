#pragma once

// The help window: a fixed text on the notation and on the use of the main window. Created hidden at start,
// shown by "ヘルプ", hidden again by closing; modeless, so the main window stays usable beside it.

#include <QWidget>

class QPlainTextEdit;

namespace nagisora {

class HelpWindow : public QWidget {
    Q_OBJECT

  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the window, centred the first time and where the user left it afterwards, in front of the
    // program's other windows.
    void ShowInFront();

    QPlainTextEdit* Memo1() const { return memo1_; }

    // The help text, one line per line of the window.
    static QString HelpText();

  private:
    QPlainTextEdit* memo1_;
    bool placed_ = false;
};

} // namespace nagisora
