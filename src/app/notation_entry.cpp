#include "app/notation_entry.h"

#include "app/command_action.h"
#include "app/palette_window.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "core/line_sets.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

namespace nagisora {
namespace {

constexpr int MarkedCaretWidth = 2;
constexpr int BadgeMargin = 4;

QString MapName(KeyMap keyMap) {
    switch (keyMap) {
    case KeyMap::Pitch:
        return QStringLiteral("記譜: 音高行");
    case KeyMap::Duration:
        return QStringLiteral("記譜: 音長行");
    case KeyMap::Open:
        return QStringLiteral("記譜: 新しい行");
    case KeyMap::Plain:
        break;
    }
    return QStringLiteral("記譜: そのまま");
}

// The placeholder that keeps the columns under a symbol inserted into a pitch line: a bar line under a bar
// line, else a full-width space (two beats, what the reader gives a note that has no duration unit).
QString DurationPlaceholder(const NotationSymbol& symbol) {
    return symbol.text == "｜" ? QStringLiteral("｜") : QStringLiteral("　");
}

bool IsPlainKey(const QKeyEvent& key) {
    return (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
}

// Opens a submenu beside the menu it opens from and off the menus open before it: to the right where that
// fits on the screen, else to the left. Near the screen's edge the toolkit may move a submenu back over its
// parent, or open it to the right over the menu that opened its parent to the left. The menu it opens from is
// the popup open when it shows (it becomes one itself only after).
class BesideParent : public QObject {
  public:
    explicit BesideParent(QMenu& submenu) : QObject(&submenu) { submenu.installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto& submenu = static_cast<QMenu&>(*watched);
        const QWidget* parent = QApplication::activePopupWidget();
        if (parent == nullptr || parent == &submenu || submenu.screen() == nullptr) return false;
        std::vector<QRect> open; // the menus open now, its parent among them
        for (const QWidget* widget : QApplication::topLevelWidgets())
            if (widget != &submenu && widget->isVisible() && qobject_cast<const QMenu*>(widget) != nullptr)
                open.push_back(widget->geometry());
        const auto clear = [&](const QRect& at) {
            return std::none_of(open.begin(), open.end(), [&](const QRect& m) { return m.intersects(at); });
        };
        QRect at = submenu.geometry();
        if (clear(at)) return false;
        const QRect menu = parent->geometry();
        const QRect screen = submenu.screen()->availableGeometry();
        QRect right = at;
        right.moveLeft(menu.right() + 1);
        QRect left = at;
        left.moveRight(menu.left() - 1);
        const bool rightFits = screen.contains(right);
        const bool leftFits = screen.contains(left);
        if (rightFits && clear(right))
            at = right;
        else if (leftFits && clear(left))
            at = left;
        else if (at.intersects(menu) && (rightFits || leftFits))
            at = rightFits ? right : left;
        else
            return false;
        submenu.move(at.topLeft());
        return false;
    }
};

// The menu of the symbols, a submenu per group, each entry showing the key that types it in the typing mode.
QMenu* MakeSymbolMenu(NotationEntry& entry, QWidget& window) {
    auto* menu = new QMenu(QStringLiteral("記号を挿入 (記譜入力のキー)"), &window);
    menu->setObjectName(QStringLiteral("notationSymbolMenu"));
    new BesideParent(*menu);
    for (const PaletteGroup& group : PaletteGroups()) {
        QMenu* submenu = menu->addMenu(group.title);
        new BesideParent(*submenu);
        for (const NotationSymbol& symbol : NotationSymbols()) {
            if (symbol.group != group.group) continue;
            const char key = symbol.pitchKey != '\0' ? symbol.pitchKey : symbol.durationKey;
            QString label = SymbolText(symbol.name);
            if (key != '\0') label += u'\t' + KeyName(key);
            QAction* action = submenu->addAction(label);
            QObject::connect(action, &QAction::triggered, &entry,
                             [&entry, &symbol] { entry.InsertSymbol(symbol); });
        }
    }
    return menu;
}

} // namespace

NotationEntry::NotationEntry(ScoreSession& session)
    : QObject(&session.Window()), area_(session.Area()), model_(session.Model()),
      modeAction_(
          AddCommand(session, CommandGroup::Entry,
                     {"notationTypingMode", QStringLiteral("記譜入力モード"), {QKeySequence(Qt::Key_F9)}})),
      paletteAction_(AddCommand(session, CommandGroup::Entry,
                                {"notationPalette",
                                 QStringLiteral("記号パレット…"),
                                 {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)},
                                 QStringLiteral("記号パレット")})),
      viewport_(area_.viewport()), badge_(new QLabel(viewport_)),
      palette_(new PaletteWindow(*this, &session.Window())) {
    setObjectName(QStringLiteral("notationEntry"));
    modeAction_->setCheckable(true);
    // The keys of the mode follow its name.
    modeAction_->setToolTip(QStringLiteral("記譜入力モード (F9): キーで全角の記号を入力します\n") +
                            KeyListText());
    area_.AddMenu(CommandGroup::Entry, MakeSymbolMenu(*this, session.Window()));
    connect(modeAction_, &QAction::toggled, this, [this] { ShowMark(); });
    connect(paletteAction_, &QAction::triggered, palette_, &PaletteWindow::ShowBeside);

    // The mark of the mode: a wider caret and a badge in the corner of the text, naming the caret line's
    // keys.
    badge_->setObjectName(QStringLiteral("notationBadge"));
    badge_->setAttribute(Qt::WA_TransparentForMouseEvents);
    badge_->setStyleSheet(QStringLiteral("QLabel { background: rgba(30, 110, 60, 200); color: white; "
                                         "padding: 1px 4px; border-radius: 3px; }"));
    badge_->hide();
    connect(&area_, &QPlainTextEdit::cursorPositionChanged, this, [this] { ShowMark(); });
    connect(&model_, &ScoreModel::Remapped, this, [this] { ShowMark(); });
    // Scrolling moves the viewport's children with the text: the badge goes back to the corner.
    connect(&area_, &ScoreArea::ViewMoved, this, &NotationEntry::PlaceBadge);

    area_.installEventFilter(this);
    viewport_->installEventFilter(this);
}

bool NotationEntry::IsOn() const {
    return modeAction_->isChecked();
}

void NotationEntry::SetOn(bool on) {
    modeAction_->setChecked(on);
}

KeyMap NotationEntry::KeyMapAtCaret() const {
    const auto line = static_cast<std::size_t>(area_.textCursor().blockNumber());
    return KeyMapOfLine(model_.Map(), model_.Lines(), line);
}

QString NotationEntry::KeyListText() {
    QString pitch = QStringLiteral("音高行:");
    QString duration = QStringLiteral("音長行:");
    for (const NotationSymbol& symbol : NotationSymbols()) {
        const QString shown = symbol.text == "　" ? QStringLiteral("全角空白") : SymbolText(symbol.text);
        if (symbol.pitchKey != '\0') pitch += u' ' + KeyName(symbol.pitchKey) + u' ' + shown;
        if (symbol.durationKey != '\0') duration += u' ' + KeyName(symbol.durationKey) + u' ' + shown;
    }
    return pitch + u'\n' + duration + QStringLiteral("\n音色行と注釈 (//): キーはそのまま");
}

bool NotationEntry::eventFilter(QObject* watched, QEvent* event) {
    // The viewport is known by its address: while the window is destroyed, the area may be half gone when its
    // viewport reports its last events.
    if (watched == viewport_ && event->type() == QEvent::Resize) PlaceBadge();
    if (watched == &area_ && event->type() == QEvent::KeyPress && IsOn()) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (!IsPlainKey(key)) return false;
        switch (key.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return (key.modifiers() & Qt::ShiftModifier) == 0 && EnterAtPitchLineEnd();
        case Qt::Key_Backspace:
            return EraseKeepingColumns(true);
        case Qt::Key_Delete:
            return EraseKeepingColumns(false);
        default:
            return TypeKey(key);
        }
    }
    return QObject::eventFilter(watched, event);
}

bool NotationEntry::TypeKey(const QKeyEvent& key) {
    const QString text = key.text();
    if (text.size() != 1) return false;
    const KeyMap keyMap = KeyMapAtCaret();
    const NotationSymbol* symbol = SymbolForKey(keyMap, text[0].unicode());
    if (symbol == nullptr) return false;
    Insert(*symbol, keyMap);
    return true;
}

void NotationEntry::InsertSymbol(const NotationSymbol& symbol) {
    Insert(symbol, IsOn() ? KeyMapAtCaret() : KeyMap::Plain);
}

// The columns are kept only for one symbol typed into a set's pitch line without a selection; the
// placeholders are found on the map before anything changes.
void NotationEntry::Insert(const NotationSymbol& symbol, KeyMap keyMap) {
    QTextCursor caret = area_.textCursor();
    const int line = caret.blockNumber();
    QTextCursor below, above;
    if (keyMap == KeyMap::Pitch && !caret.hasSelection()) {
        const std::size_t byte = model_.ByteAt(line, caret.positionInBlock());
        below = NeighbourUnit(line, line + 1, byte, false);
        above = NeighbourUnit(line, line - 1, byte, false);
    }
    caret.beginEditBlock();
    if (keyMap == KeyMap::Open) WidenSpaces(caret);
    caret.insertText(SymbolText(symbol.text));
    if (!below.isNull()) below.insertText(DurationPlaceholder(symbol));
    if (!above.isNull()) above.insertText(QStringLiteral("  "));
    caret.endEditBlock();
    area_.setTextCursor(caret);
    area_.ensureCursorVisible();
}

// A blank line becomes a pitch line with its first symbol: the spaces typed before it, half-width while the
// line might have become a timbre line, become full-width ones, one for one.
void NotationEntry::WidenSpaces(QTextCursor& caret) {
    const QTextBlock block = caret.block();
    const QString text = block.text();
    const int at = caret.positionInBlock(); // one character for one, so the caret stays where it is
    for (int k = 0; k < text.size(); ++k) {
        if (text[k] != u' ') continue;
        QTextCursor space(block);
        space.setPosition(block.position() + k);
        space.setPosition(block.position() + k + 1, QTextCursor::KeepAnchor);
        space.insertText(QStringLiteral("　"));
    }
    caret.setPosition(block.position() + at);
}

// The unit of a set's duration line (neighbour = line + 1) or timbre line (line - 1) that the reader pairs
// with a byte inside the pitch line: a cursor at its place, or selecting it. A null cursor when there is none
// to keep in step: the byte is past the pitch line's end, the neighbour is itself a pitch line or a comment,
// the unit lies in the padding past the neighbour's end, or it does not start and end between characters.
QTextCursor NotationEntry::NeighbourUnit(int line, int neighbour, std::size_t byte, bool select) const {
    const ScoreMap& map = model_.Map();
    const std::span<const std::string_view> lines = model_.Lines();
    if (neighbour < 0 || static_cast<std::size_t>(neighbour) >= lines.size()) return {};
    const LineUse& use = map.lines[static_cast<std::size_t>(neighbour)];
    if (use.pitchOf >= 0 || use.kind == LineKindOf::Comment) return {};
    const std::optional<UnitColumn> column = map.UnitsAt(line + 1, byte);
    if (!column) return {};
    const SourcePlace& place = neighbour > line ? column->duration : column->timbre;
    const std::size_t bytes = TrimLine(ScoreLine(lines[static_cast<std::size_t>(neighbour)])).size();
    const std::size_t end = place.byte + (select ? 2 : 0);
    if (place.line != neighbour + 1 || place.byte >= bytes || end > bytes) return {};
    const int first = model_.PositionOf(neighbour, place.byte);
    const int last = model_.PositionOf(neighbour, end);
    if (model_.ByteAt(neighbour, first) != place.byte || model_.ByteAt(neighbour, last) != end) return {};
    const QTextBlock block = area_.document()->findBlockByNumber(neighbour);
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + first);
    cursor.setPosition(block.position() + last, QTextCursor::KeepAnchor);
    return cursor;
}

// Enter at the end of a pitch line whose duration line is written already goes on at the end of that line,
// where the durations of the symbols just typed belong; a new line there would cut the set.
bool NotationEntry::EnterAtPitchLineEnd() {
    const QTextCursor caret = area_.textCursor();
    if (caret.hasSelection() || KeyMapAtCaret() != KeyMap::Pitch) return false;
    const QTextBlock block = caret.block();
    const QString rest = block.text().mid(caret.positionInBlock());
    // Only what the reader trims may follow: a full-width space at the end is a unit of the line.
    if (std::any_of(rest.begin(), rest.end(), [](QChar c) { return c.unicode() > 0x20; })) return false;
    const int line = block.blockNumber();
    const ScoreMap& map = model_.Map();
    const auto next = static_cast<std::size_t>(line + 1);
    if (map.lines[static_cast<std::size_t>(line)].pitchOf < 0 || next >= map.lines.size()) return false;
    const LineUse& use = map.lines[next];
    if (use.blank || use.pitchOf >= 0 || use.kind == LineKindOf::Comment) return false;
    QTextCursor moved(block.next());
    moved.movePosition(QTextCursor::EndOfBlock);
    area_.setTextCursor(moved);
    return true;
}

// Backspace or Delete of one full-width symbol inside a set's pitch line takes the duration unit under it
// and the blank timbre unit over it along, so that every later symbol keeps its own. A timbre number over it
// goes on to the next note of the line when that has none (the units between move along); when the next note
// has a number of its own, the deleted one would govern no note and goes with its symbol. The last symbol of
// the line takes nothing along: typing it there put nothing into the other lines, and a number left over
// nothing is reported by the checker.
bool NotationEntry::EraseKeepingColumns(bool backward) {
    QTextCursor caret = area_.textCursor();
    if (caret.hasSelection() || KeyMapAtCaret() != KeyMap::Pitch) return false;
    const int line = caret.blockNumber();
    const int position = caret.positionInBlock() - (backward ? 1 : 0);
    if (position < 0 || position >= caret.block().length() - 2) return false; // none, or the last
    const std::size_t byte = model_.ByteAt(line, position);
    if (model_.ByteAt(line, position + 1) != byte + 2) return false; // a half-width character
    QTextCursor below = NeighbourUnit(line, line + 1, byte, true);
    QTextCursor above = NeighbourUnit(line, line - 1, byte, true);
    if (below.isNull() && above.isNull()) return false;
    const QString number = above.isNull() ? QString() : above.selectedText();
    QTextCursor next; // where the number goes: the timbre unit of the next note, or the timbre line's end
    int padding = 0;  // spaces before it past the line's end
    if (!number.trimmed().isEmpty()) {
        if (const std::optional<std::size_t> note = NextNote(line, byte)) {
            next = NeighbourUnit(line, line - 1, *note, true);
            if (next.isNull()) {
                const std::string_view timbre = model_.Lines()[static_cast<std::size_t>(line - 1)];
                const QTextBlock block = above.block();
                if (static_cast<qsizetype>(timbre.size()) == block.length() - 1 && *note >= timbre.size()) {
                    next = QTextCursor(block);
                    next.movePosition(QTextCursor::EndOfBlock);
                    padding = static_cast<int>(*note - timbre.size());
                }
            } else if (!next.selectedText().trimmed().isEmpty()) {
                next = QTextCursor(); // a number of its own: the deleted one goes
            }
        }
        if (next.isNull() && NextNote(line, byte) == std::nullopt) above = QTextCursor(); // stays, reported
    }
    caret.beginEditBlock();
    caret.setPosition(caret.block().position() + position);
    caret.setPosition(caret.block().position() + position + 1, QTextCursor::KeepAnchor);
    caret.removeSelectedText();
    if (!below.isNull()) below.removeSelectedText();
    if (!above.isNull()) above.removeSelectedText();
    if (!next.isNull()) next.insertText(QString(padding, u' ') + number);
    caret.endEditBlock();
    area_.setTextCursor(caret);
    return true;
}

// The first byte after byte of a pitch line where a note stands (one that sounds and takes a timbre).
std::optional<std::size_t> NotationEntry::NextNote(int line, std::size_t byte) const {
    const ScoreMap& map = model_.Map();
    const std::size_t bytes = model_.Lines()[static_cast<std::size_t>(line)].size();
    for (std::size_t at = byte + 2; at + 1 < bytes; at += 2) {
        const std::optional<UnitColumn> column = map.UnitsAt(line + 1, at);
        if (!column || column->pitch.byte != at)
            return std::nullopt; // the units no longer fall on characters
        const std::size_t unit = column->offset / 2;
        if (unit < map.units.size() && map.units[unit] == UnitKind::Note) return at;
    }
    return std::nullopt;
}

// Runs on every caret move and edit: only what changed is set again, so that nothing is laid out or painted
// anew while the user types along a line.
void NotationEntry::ShowMark() {
    const bool on = IsOn();
    const int caretWidth = on ? MarkedCaretWidth : 1;
    if (area_.cursorWidth() != caretWidth) area_.setCursorWidth(caretWidth);
    badge_->setVisible(on);
    if (!on) return;
    const QString name = MapName(KeyMapAtCaret());
    if (badge_->text() == name) return;
    badge_->setText(name);
    badge_->adjustSize();
    PlaceBadge();
}

void NotationEntry::PlaceBadge() {
    badge_->move(viewport_->width() - badge_->width() - BadgeMargin, BadgeMargin);
}

NotationEntry& InstallNotationEntry(ScoreSession& session) {
    return *new NotationEntry(session);
}

} // namespace nagisora
