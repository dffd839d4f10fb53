#include "app/palette_window.h"

#include "app/fonts.h"
#include "app/notation_entry.h"
#include "app/window_scale.h"
#include "core/notation_keys.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace nagisora {
namespace {

constexpr int SymbolPixels = 16;
constexpr int ButtonPixels = 26;
constexpr int Gap = 8;
constexpr int CaptionPixels = 10;

QString ShownSymbol(const NotationSymbol& symbol) {
    return symbol.text == "　" ? QStringLiteral("全角空白") : SymbolText(symbol.text);
}

// The names of the symbols that look alike in most fonts, shown under their buttons and in their tooltips.
QString LookAlikeName(const NotationSymbol& symbol) {
    if (symbol.text == "－") return QStringLiteral("マイナス");
    if (symbol.text == "―") return QStringLiteral("ダッシュ");
    return {};
}

QString ToolTipOf(const NotationSymbol& symbol) {
    QStringList keys;
    if (symbol.pitchKey != '\0') keys << KeyName(symbol.pitchKey) + QStringLiteral(" (音高行)");
    if (symbol.durationKey != '\0') keys << KeyName(symbol.durationKey) + QStringLiteral(" (音長行)");
    const QString lookAlike = LookAlikeName(symbol);
    return (lookAlike.isEmpty() ? QString() : lookAlike + u'\n') + SymbolText(symbol.name) + u'\n' +
           (keys.isEmpty() ? QStringLiteral("記譜入力のキー: なし")
                           : QStringLiteral("記譜入力のキー: ") + keys.join(QStringLiteral(", ")));
}

// "  r ロ   t ツ ..." for the symbols of one group that have a key in one map.
QString KeyLine(SymbolGroup group, char NotationSymbol::*key) {
    QString line;
    for (const NotationSymbol& symbol : NotationSymbols())
        if (symbol.group == group && symbol.*key != '\0')
            line += QStringLiteral("  ") + KeyName(symbol.*key) + u' ' + ShownSymbol(symbol) + u' ';
    return line.isEmpty() ? line : line.trimmed().prepend(QStringLiteral("  ")) + u'\n';
}

} // namespace

PaletteWindow::PaletteWindow(NotationEntry& entry, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::WindowDoesNotAcceptFocus | Qt::CustomizeWindowHint |
                              Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("PaletteF"));
    setWindowTitle(QStringLiteral("記号パレット"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_AlwaysShowToolTips); // the palette is never the active window
    setFocusPolicy(Qt::NoFocus);
    const double scale = LayoutScale(screen() ? screen() : QGuiApplication::primaryScreen());
    setFont(PGothicFont(Scaled(FontPixels, scale)));

    auto* tabs = new QTabWidget(this);
    tabs->setFocusPolicy(Qt::NoFocus);
    tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
    tabs->addTab(MakeSymbolPage(entry), QStringLiteral("記号"));
    auto* keys = new QPlainTextEdit(KeyPageText(), tabs);
    keys->setObjectName(QStringLiteral("paletteKeys"));
    keys->setReadOnly(true);
    keys->setFocusPolicy(Qt::NoFocus);
    keys->setFont(GothicFont(Scaled(FontPixels, scale)));
    keys->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    tabs->addTab(keys, QStringLiteral("キー一覧"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Gap / 2, Gap / 2, Gap / 2, Gap / 2);
    layout->addWidget(tabs);
    resize(sizeHint().width(), sizeHint().height());
}

QWidget* PaletteWindow::MakeSymbolPage(NotationEntry& entry) {
    const double scale = LayoutScale(screen() ? screen() : QGuiApplication::primaryScreen());
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setSpacing(Gap / 2);
    for (const PaletteGroup& title : PaletteGroups()) {
        auto* box = new QGroupBox(title.title, page);
        auto* buttons = new QGridLayout(box);
        buttons->setSpacing(2);
        buttons->setContentsMargins(Gap / 2, Gap / 2, Gap / 2, Gap / 2);
        int k = 0;
        for (const NotationSymbol& symbol : NotationSymbols()) {
            if (symbol.group != title.group) continue;
            auto* button = new QToolButton(box);
            button->setText(symbol.text == "　" ? QStringLiteral("空白") : SymbolText(symbol.text));
            button->setProperty("symbol", SymbolText(symbol.text));
            button->setToolTip(ToolTipOf(symbol));
            button->setFocusPolicy(Qt::NoFocus);
            button->setFont(GothicFont(Scaled(symbol.text == "　" ? FontPixels : SymbolPixels, scale)));
            button->setMinimumSize(Scaled(ButtonPixels, scale), Scaled(ButtonPixels, scale));
            connect(button, &QToolButton::clicked, &entry, [&entry, &symbol] { entry.InsertSymbol(symbol); });
            if (const QString name = LookAlikeName(symbol); !name.isEmpty()) {
                auto* caption = new QLabel(name, box);
                caption->setFont(PGothicFont(Scaled(CaptionPixels, scale)));
                caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
                buttons->addWidget(caption, 1, k);
            }
            buttons->addWidget(button, 0, k++);
        }
        grid->addWidget(box, title.row, title.column, 1, title.columns);
    }
    return page;
}

QString SymbolText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString KeyName(char key) {
    return key == ' ' ? QStringLiteral("Space") : QString(QChar(key));
}

// Where the groups' boxes stand: the notes across the page, the small groups side by side below, so that the
// palette fits under the main window on a small screen.
std::span<const PaletteGroup> PaletteGroups() {
    static const PaletteGroup groups[] = {
        {SymbolGroup::Note, QStringLiteral("音"), 0, 0, 4},
        {SymbolGroup::RegisterMark, QStringLiteral("音域"), 1, 0, 1},
        {SymbolGroup::Accidental, QStringLiteral("変化記号"), 1, 1, 1},
        {SymbolGroup::RestOrHold, QStringLiteral("休符・延ばし"), 1, 2, 1},
        {SymbolGroup::Separator, QStringLiteral("区切り"), 1, 3, 1},
        {SymbolGroup::Duration, QStringLiteral("音長"), 2, 0, 2},
        {SymbolGroup::Tuplet, QStringLiteral("連符"), 2, 2, 2},
    };
    return groups;
}

QToolButton* PaletteWindow::Button(std::string_view symbol) const {
    for (QToolButton* button : findChildren<QToolButton*>())
        if (button->property("symbol").toString() == SymbolText(symbol)) return button;
    return nullptr;
}

QString PaletteWindow::KeyPageText() {
    QString text = QStringLiteral("記譜入力モード (F9、楽譜欄の右クリックメニュー)\n"
                                  "オンのとき、キャレットのある行に応じてキーが全角の記号になります。"
                                  "楽譜欄の右上の緑の表示が、今の行のキーを示します。\n\n"
                                  "■ 音高行\n");
    for (const PaletteGroup& title : PaletteGroups())
        text += KeyLine(title.group, &NotationSymbol::pitchKey);
    text += QStringLiteral("  (♯ にはキーがありません。半音上げは ＃ です)\n\n"
                           "■ 音長行 (音高行のすぐ下の行)\n");
    for (const PaletteGroup& title : PaletteGroups())
        text += KeyLine(title.group, &NotationSymbol::durationKey);
    text += QStringLiteral(
        "\n■ 音色行 (音高行のすぐ上の行) と注釈 (// で始まる行)\n"
        "  キーはそのまま入力されます (半角の数字と空白)。\n\n"
        "■ 新しい行\n"
        "  数字か空白で始めると音色行、記号のキーで始めると音高行になります。"
        "音高行になるとき、先に打った半角の空白は全角の空白になります。\n\n"
        "■ 列を保つ\n"
        "  音高行の途中に記号を入れると、下の音長行の同じ列に全角空白 (｜ の下には ｜) が、"
        "上の音色行に半角空白 2 つが入ります。音高行の記号を Backspace や Delete で消すと、"
        "その下の音長と上の空白も消えます。消した音の上の音色番号は次の音に移ります "
        "(次の音に音色番号があれば消えます)"
        "。行末の記号を消しても、ほかの行は変わりません。音長行が書いてある音高行の行末で Enter を押すと、"
        "音長行の行末に移ります。どれも 1 回の「元に戻す」(Ctrl+Z) で戻ります。\n\n"
        "Ctrl・Alt 付きのキーと、入力メソッドで確定した文字は、そのまま入力されます。\n");
    return text;
}

// Beside the main window, where the user last left it, without the focus: the keys go on typing into the
// score area.
void PaletteWindow::ShowBeside() {
    nagisora::ShowBeside(*this, *parentWidget(), placed_, false);
}

} // namespace nagisora
