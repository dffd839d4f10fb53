#pragma once

// The notation typing mode of the score area and the palette beside it. In the mode (F9) plain keys type the
// full-width symbols of the line the caret is on: the pitch map on a pitch line, the duration map on the line
// under it, the keys themselves on a timbre line or a comment. The duration and timbre lines keep their
// columns while the pitch line is edited: a symbol inserted inside a pitch line gets a placeholder under it
// (and two spaces over it), a symbol removed takes its duration and timbre units with it; Enter at the end of
// a pitch line goes on in its duration line instead of cutting the set. Each such edit is one undo step with
// the keystroke. Input methods commit their text unchanged, in the mode and out of it.

#include "core/notation_keys.h"

#include <QObject>
#include <QString>
#include <optional>

class QAction;
class QKeyEvent;
class QLabel;
class QTextCursor;
class QWidget;

namespace nagisora {

class ScoreModel;
class ScoreSession;
class PaletteWindow;
class ScoreArea;

class NotationEntry : public QObject {
    Q_OBJECT

  public:
    // Adds the commands to the score area's context menu and to the window; owned by the window.
    explicit NotationEntry(ScoreSession& session);

    bool IsOn() const;
    void SetOn(bool on);
    QAction* ModeAction() const { return modeAction_; }
    QAction* PaletteAction() const { return paletteAction_; }
    PaletteWindow& Palette() const { return *palette_; }

    // The key map of the caret's line.
    KeyMap KeyMapAtCaret() const;

    // Inserts a symbol at the caret as its key would in the typing mode (and as plain text out of it).
    void InsertSymbol(const NotationSymbol& symbol);

    // The key list, for the menu's tooltip and the palette's help page.
    static QString KeyListText();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool TypeKey(const QKeyEvent& key);
    bool EnterAtPitchLineEnd();
    bool EraseKeepingColumns(bool backward);
    void Insert(const NotationSymbol& symbol, KeyMap keyMap);
    void WidenSpaces(QTextCursor& caret);
    std::optional<std::size_t> NextNote(int line, std::size_t byte) const;
    QTextCursor NeighbourUnit(int line, int neighbour, std::size_t byte, bool select) const;
    void ShowMark();
    void PlaceBadge();

    ScoreArea& area_;
    ScoreModel& model_;
    QAction* modeAction_;
    QAction* paletteAction_;
    QWidget* viewport_;
    QLabel* badge_;
    PaletteWindow* palette_;
};

// Installs the typing mode and the palette on the session's window.
NotationEntry& InstallNotationEntry(ScoreSession& session);

} // namespace nagisora
