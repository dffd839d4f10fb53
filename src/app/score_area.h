#pragma once

// The score area `mem`: the multi-line text area of the main window, with what the score's own tools add to
// it. Commands of those tools go into its context menu, grouped, after the area's own editing commands; each
// command is an action of the main window, so that its shortcut works wherever the focus is in the window,
// and the menu shows the shortcut. Marks on the text (the column guide, the playing cursor, the underlines of
// the checker) are kept in layers that are drawn together, each tool changing only its own. Tools can also
// answer for the tooltip of the text under the mouse.
//
// One line of the score is one block of the text: a line separator (Shift+Enter, or one in text put in the
// area by any means) becomes a line break.

#include <QPlainTextEdit>
#include <functional>
#include <map>
#include <vector>

class QMenu;
class QMimeData;
class QWheelEvent;

namespace nagisora {

class Failure;

// The groups of the context menu, in the order the menu shows them.
enum class CommandGroup { Play, Check, Entry, Views, Files };

// The layers of marks, drawn in this order, the later over the earlier.
enum class MarkLayer { Findings, Selection, Guide, Playing };

class ScoreArea : public QPlainTextEdit {
    Q_OBJECT

  public:
    explicit ScoreArea(QWidget* parent = nullptr);

    // Adds a command to the context menu; the caller owns the action and adds it to its window.
    void AddCommand(CommandGroup group, QAction* action);
    // Adds a submenu (owned by the caller).
    void AddMenu(CommandGroup group, QMenu* menu);

    // The menu the context menu event shows: the editing commands, then the groups.
    QMenu* MakeContextMenu();

    void SetMarks(MarkLayer layer, QList<QTextEdit::ExtraSelection> marks);
    const QList<QTextEdit::ExtraSelection>& Marks(MarkLayer layer) const;

    // Answers the tooltip for a cursor on the text under the mouse; empty when it has nothing to say.
    using ToolTipSource = std::function<QString(const QTextCursor&)>;
    void AddToolTipSource(ToolTipSource source);

    // Text pasted or dropped that would make the score larger than bytes (as a score file in code page 932
    // with CR LF) is refused before anything changes, and the refusal reported, as for a file too large.
    void SetSizeLimit(std::size_t bytes, std::function<void(const Failure&)> refused);

    // A line in view and the positions of its block (from 0) that the viewport shows, first to last.
    struct LineInView {
        int line = 0;
        int first = 0;
        int last = 0;
    };
    // The lines in view, top to bottom: marks on other text need not be made.
    std::vector<LineInView> LinesInView();
    // The last line (block, from 0) in view.
    int LastLineInView() const;

  signals:
    // The area was scrolled or resized: other text is in view.
    void ViewMoved();
    // Ctrl and the wheel: the text is to grow (steps > 0) or shrink.
    void ZoomRequested(int steps);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

  private:
    void NoteSeparators(int position, int removed, int added);
    void BreakAtSeparators();
    void SteadyCaretOnLongLines();
    void KeepGlyphsInView();

    static constexpr int LongLineCharacters = 2048;
    int blinkMs_ = -1; // the caret's blink, as the platform sets it

    bool separatorsAdded_ = false;
    struct Entry {
        QAction* action = nullptr;
        QMenu* menu = nullptr;
    };
    std::map<CommandGroup, std::vector<Entry>> commands_;
    std::map<MarkLayer, QList<QTextEdit::ExtraSelection>> marks_;
    std::vector<ToolTipSource> toolTipSources_;
    std::size_t sizeLimit_ = 0; // 0: none
    std::function<void(const Failure&)> refused_;
    std::vector<int> glyphsKept_; // the lines whose layouts keep their glyphs, in order
    int wheelAngle_ = 0;          // of a Ctrl+wheel turn, short of a whole step
};

} // namespace nagisora
