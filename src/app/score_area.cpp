#include "app/score_area.h"

#include "core/failure.h"
#include "platform/file_io.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMimeData>
#include <QStyleHints>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

namespace nagisora {

ScoreArea::ScoreArea(QWidget* parent) : QPlainTextEdit(parent) {
    // The score runs left to right. Left to the text, the direction of a line without a letter of a script
    // (a duration line of ３ and ５) is looked for in every character at each measure of it.
    QTextOption option = document()->defaultTextOption();
    option.setTextDirection(Qt::LeftToRight);
    document()->setDefaultTextOption(option);
    connect(document(), &QTextDocument::contentsChange, this, &ScoreArea::NoteSeparators);
    connect(this, &QPlainTextEdit::textChanged, this, &ScoreArea::BreakAtSeparators);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &ScoreArea::SteadyCaretOnLongLines);
}

// Each blink of the caret paints its line again, all of it: on a line of many thousand characters that
// keeps a core busy while the window stands idle. There the caret stays lit.
void ScoreArea::SteadyCaretOnLongLines() {
    QStyleHints& hints = *QGuiApplication::styleHints();
    if (blinkMs_ < 0) blinkMs_ = hints.cursorFlashTime();
    const int wanted = textCursor().block().length() > LongLineCharacters ? 0 : blinkMs_;
    if (hints.cursorFlashTime() != wanted) hints.setCursorFlashTime(wanted);
}

// The document may not be changed while it reports a change: the separators are only noted here, and
// replaced once the change is complete.
void ScoreArea::NoteSeparators(int position, int /*removed*/, int added) {
    const QTextDocument* doc = document();
    for (int p = position; p < position + added && !separatorsAdded_; ++p)
        separatorsAdded_ = doc->characterAt(p) == QChar::LineSeparator;
}

void ScoreArea::BreakAtSeparators() {
    if (!separatorsAdded_) return;
    separatorsAdded_ = false;
    QTextCursor cursor(document());
    cursor.joinPreviousEditBlock();
    for (QTextCursor found = document()->find(QString(QChar::LineSeparator)); !found.isNull();
         found = document()->find(QString(QChar::LineSeparator), found))
        found.insertBlock();
    cursor.endEditBlock();
}

void ScoreArea::AddCommand(CommandGroup group, QAction* action) {
    commands_[group].push_back(Entry{action, nullptr});
}

void ScoreArea::AddMenu(CommandGroup group, QMenu* menu) {
    commands_[group].push_back(Entry{nullptr, menu});
}

QMenu* ScoreArea::MakeContextMenu() {
    QMenu* menu = createStandardContextMenu();
    for (const auto& [group, entries] : commands_) {
        if (entries.empty()) continue;
        menu->addSeparator();
        for (const Entry& entry : entries) {
            if (entry.action != nullptr) menu->addAction(entry.action);
            if (entry.menu != nullptr) menu->addMenu(entry.menu);
        }
    }
    return menu;
}

void ScoreArea::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = MakeContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// The area draws each mark over the whole line that holds it: marks that follow on from one another in the
// same look are drawn as one, which looks the same (a wavy line's waves are placed from the area's left edge,
// not from the mark's) and costs a line's drawing instead of one per mark.
void ScoreArea::SetMarks(MarkLayer layer, QList<QTextEdit::ExtraSelection> marks) {
    marks_[layer] = std::move(marks);
    QList<QTextEdit::ExtraSelection> all;
    for (const auto& [_, layerMarks] : marks_)
        for (const QTextEdit::ExtraSelection& mark : layerMarks) {
            if (!all.isEmpty()) {
                QTextCursor& last = all.last().cursor;
                const bool follows = mark.cursor.selectionStart() == last.selectionEnd() &&
                                     mark.cursor.hasSelection() && last.hasSelection() &&
                                     mark.cursor.block() == last.block();
                if (follows && mark.format == all.last().format) {
                    last.setPosition(last.selectionStart());
                    last.setPosition(mark.cursor.selectionEnd(), QTextCursor::KeepAnchor);
                    continue;
                }
            }
            all.push_back(mark);
        }
    setExtraSelections(all);
}

const QList<QTextEdit::ExtraSelection>& ScoreArea::Marks(MarkLayer layer) const {
    static const QList<QTextEdit::ExtraSelection> none;
    const auto found = marks_.find(layer);
    return found == marks_.end() ? none : found->second;
}

void ScoreArea::AddToolTipSource(ToolTipSource source) {
    toolTipSources_.push_back(std::move(source));
}

bool ScoreArea::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip && !toolTipSources_.empty()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QTextCursor cursor = cursorForPosition(help->pos());
        for (const ToolTipSource& source : toolTipSources_) {
            const QString text = source(cursor);
            if (!text.isEmpty()) {
                QToolTip::showText(help->globalPos(), text, this);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QPlainTextEdit::viewportEvent(event);
}

namespace {

// The bytes text takes in a score file: a character of code page 932's single-byte half one, any other two,
// a line break two (CR LF; a selection's paragraph separator is one character of another kind).
std::size_t FileBytes(QStringView text) {
    std::size_t bytes = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (c.isLowSurrogate()) continue;
        bytes += u == u'\n' || u >= 0x80 ? 2 : 1;
        if (u >= 0xFF61 && u <= 0xFF9F) --bytes; // half-width katakana
    }
    return bytes;
}

} // namespace

void ScoreArea::SetSizeLimit(std::size_t bytes, std::function<void(const Failure&)> refused) {
    sizeLimit_ = bytes;
    refused_ = std::move(refused);
}

void ScoreArea::insertFromMimeData(const QMimeData* source) {
    if (sizeLimit_ > 0 && source != nullptr && source->hasText()) {
        const QString added = source->text();
        const std::size_t now = FileBytes(toPlainText());
        const std::size_t replaced = FileBytes(textCursor().selectedText());
        if (now - std::min(now, replaced) + FileBytes(added) > sizeLimit_) {
            const std::size_t mib = sizeLimit_ / (1024 * 1024);
            if (refused_)
                refused_(Failure::File(IoCode::FileTooLarge, 0,
                                       IoErrorMessage(IoCode::FileTooLarge) + " (上限 " +
                                           std::to_string(mib) + " MiB)"));
            return;
        }
    }
    QPlainTextEdit::insertFromMimeData(source);
}

void ScoreArea::scrollContentsBy(int dx, int dy) {
    QPlainTextEdit::scrollContentsBy(dx, dy);
    emit ViewMoved();
}

void ScoreArea::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    emit ViewMoved();
}

// Whole steps of the wheel (120 eighths of a degree each) zoom; a touchpad's small ones add up.
void ScoreArea::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) return QPlainTextEdit::wheelEvent(event);
    event->accept();
    wheelAngle_ += event->angleDelta().y();
    const int steps = wheelAngle_ / QWheelEvent::DefaultDeltasPerStep;
    wheelAngle_ -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0) emit ZoomRequested(steps);
}

int ScoreArea::LastLineInView() const {
    const QPointF offset = contentOffset();
    const int height = viewport()->height();
    QTextBlock block = firstVisibleBlock();
    int last = block.blockNumber();
    for (; block.isValid() && blockBoundingGeometry(block).translated(offset).top() < height;
         block = block.next())
        last = block.blockNumber();
    return last;
}

// Unless a line's layout keeps its glyphs, Qt shapes the line's text again for every drawing and every
// look-up of a position in it, all of the line whatever part is in view: on lines of thousands of characters
// that is most of what a keystroke costs. The lines in view keep their glyphs; lines that leave the view drop
// them the next time they are laid out or drawn. The lines are held by number: a block that was removed is
// gone.
void ScoreArea::KeepGlyphsInView() {
    const QPointF offset = contentOffset();
    const int height = viewport()->height();
    std::vector<int> inView;
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        block.layout()->setCacheEnabled(true); // before the block is laid out below
        inView.push_back(block.blockNumber());
        if (blockBoundingGeometry(block).translated(offset).bottom() >= height) break;
    }
    for (const int line : glyphsKept_)
        if (!std::binary_search(inView.begin(), inView.end(), line))
            if (const QTextBlock block = document()->findBlockByNumber(line); block.isValid())
                block.layout()->setCacheEnabled(false);
    glyphsKept_ = std::move(inView);
}

void ScoreArea::paintEvent(QPaintEvent* event) {
    KeepGlyphsInView();
    QPlainTextEdit::paintEvent(event);
}

std::vector<ScoreArea::LineInView> ScoreArea::LinesInView() {
    KeepGlyphsInView();
    std::vector<LineInView> lines;
    const QPointF offset = contentOffset();
    const int height = viewport()->height();
    const int width = viewport()->width();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF box = blockBoundingGeometry(block).translated(offset);
        if (box.top() >= height) break;
        if (!block.isVisible()) continue;
        // The characters at the viewport's left and right edges, in the layout's own coordinates.
        const QTextLayout& layout = *block.layout();
        const qreal left = -box.left() - layout.position().x();
        int first = block.length();
        int last = 0;
        for (int l = 0; l < layout.lineCount(); ++l) {
            const QTextLine line = layout.lineAt(l);
            const qreal top = box.top() + layout.position().y() + line.y();
            if (top >= height || top + line.height() <= 0) continue;
            first = std::min(first, line.xToCursor(left));
            last = std::max(last, line.xToCursor(left + width));
        }
        if (first > last) continue;
        lines.push_back(
            LineInView{block.blockNumber(), std::max(0, first - 1), std::min(block.length() - 1, last + 1)});
    }
    return lines;
}

} // namespace nagisora
