#include "app/command_list.h"

#include "app/fonts.h"
#include "app/help_window.h"
#include "app/modeless_window.h"
#include "app/score_area.h"
#include "app/score_session.h"
#include "app/user_settings.h"
#include "app/window_scale.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

namespace nagisora {
namespace {

constexpr int PageWidth = 560;
constexpr int PageHeight = 520;
constexpr int HintMs = 30000;
const QString HintKey = QStringLiteral("hints/contextMenuShown");
const QString MenuPlace = QStringLiteral("楽譜欄の右クリックメニュー");

// "楽譜読込(&O)…" → "楽譜読込…"; "A && B" → "A & B".
QString WithoutAccessKey(QString text) {
    static const QRegularExpression accessKey(QStringLiteral("\\(&\\w\\)|&(?!&)"));
    text.remove(accessKey);
    return text.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

QString KeysOf(const QAction& action) {
    QStringList keys;
    for (const QKeySequence& k : action.shortcuts())
        keys << k.toString(QKeySequence::NativeText);
    // The standard editing commands and the symbols' typing keys name their keys after a tab.
    const qsizetype tab = action.text().indexOf(u'\t');
    if (keys.isEmpty() && tab >= 0) keys << action.text().mid(tab + 1);
    return keys.join(QStringLiteral("、"));
}

void AddMenuRows(const QMenu& menu, const QString& place, std::vector<CommandRow>& rows) {
    for (QAction* action : menu.actions()) {
        if (action->isSeparator()) continue;
        const QString name = WithoutAccessKey(action->text().section(u'\t', 0, 0));
        if (QMenu* submenu = action->menu(); submenu != nullptr) {
            if (submenu->actions().isEmpty())
                rows.push_back(CommandRow{name, {}, place});
            else
                AddMenuRows(*submenu, place + QStringLiteral(" > ") + name, rows);
            continue;
        }
        if (!name.isEmpty()) rows.push_back(CommandRow{name, KeysOf(*action), place});
    }
}

// The first start's hint in the score area's lower right corner: gone at the first right click, after a
// while, or when it is clicked.
class FirstStartHint : public QLabel {
  public:
    explicit FirstStartHint(ScoreArea& area) : QLabel(area.viewport()), area_(area) {
        setObjectName(QStringLiteral("firstStartHint"));
        setText(QStringLiteral("右クリックで機能メニュー (記譜入力・再生・楽譜チェックなど)\n"
                               "キー・機能一覧は F1 のヘルプから"));
        setStyleSheet(QStringLiteral("QLabel { background: rgba(40, 70, 140, 215); color: white; "
                                     "padding: 4px 6px; border-radius: 4px; }"));
        area.viewport()->installEventFilter(this);
        QTimer::singleShot(HintMs, this, &QWidget::hide);
        Place();
        show();
    }

    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::ContextMenu || event->type() == QEvent::MouseButtonPress) hide();
        if (event->type() == QEvent::Resize) Place();
        return false;
    }

  private:
    void Place() {
        const QWidget& viewport = *area_.viewport();
        adjustSize();
        move(viewport.width() - width() - Margin, viewport.height() - height() - Margin);
    }

    static constexpr int Margin = 6;
    ScoreArea& area_;
};

} // namespace

std::vector<CommandRow> CommandRows(ScoreSession& session) {
    const QWidget& window = session.Window();
    std::vector<CommandRow> rows;
    // The buttons whose tooltips name their keys: "楽譜ファイルを開く (Ctrl+O)".
    static const QRegularExpression keysAtEnd(QStringLiteral("^(.*) \\(([^()]+)\\)$"));
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        const QRegularExpressionMatch match = keysAtEnd.match(button->toolTip());
        if (match.hasMatch())
            rows.push_back(
                CommandRow{WithoutAccessKey(button->text()) + QStringLiteral(" (") + match.captured(1) + u')',
                           match.captured(2), QStringLiteral("ボタン")});
    }
    rows.push_back(CommandRow{QStringLiteral("▶ 再生"),
                              QKeySequence(Qt::Key_F6).toString(QKeySequence::NativeText),
                              QStringLiteral("プレーヤー")});
    rows.push_back(CommandRow{QStringLiteral("■ 停止"),
                              QKeySequence(Qt::Key_F7).toString(QKeySequence::NativeText) +
                                  QStringLiteral("、再生中は Esc"),
                              QStringLiteral("プレーヤー")});
    const std::unique_ptr<QMenu> menu(session.Area().MakeContextMenu());
    AddMenuRows(*menu, MenuPlace, rows);
    return rows;
}

CommandsWindow::CommandsWindow(ScoreSession& session)
    : QWidget(&session.Window()), session_(session), table_(new QTableWidget(this)) {
    const double scale = SetUpModelessWindow(*this, "CommandsF", QStringLiteral("キー・機能一覧"),
                                             WindowSize::Resizable, FontPixels);
    resize(Scaled(PageWidth, scale), Scaled(PageHeight, scale));
    table_->setObjectName(QStringLiteral("tblCommands"));
    table_->setColumnCount(3);
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("機能"), QStringLiteral("キー"), QStringLiteral("場所")});
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + Scaled(4, scale));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);
}

void CommandsWindow::ShowInFront() {
    const std::vector<CommandRow> rows = CommandRows(session_);
    table_->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const QString cells[] = {rows[r].command, rows[r].keys, rows[r].place};
        for (int c = 0; c < 3; ++c)
            table_->setItem(static_cast<int>(r), c, new QTableWidgetItem(cells[c]));
    }
    table_->resizeColumnsToContents();
    ShowBeside(*this, session_.Window(), placed_);
}

void InstallCommandList(ScoreSession& session, HelpWindow& help) {
    auto* page = new CommandsWindow(session);
    // In the help window's lower right corner, over the text's empty end of line, which stays as it is.
    QPlainTextEdit& memo = *help.Memo1();
    auto* button = new QToolButton(memo.viewport());
    button->setObjectName(QStringLiteral("btnCommands"));
    button->setText(QStringLiteral("キー・機能一覧…"));
    button->setToolTip(QStringLiteral("すべての機能とそのキー、メニューの場所を一覧にします"));
    button->setCursor(Qt::ArrowCursor);
    QObject::connect(button, &QToolButton::clicked, page, &CommandsWindow::ShowInFront);
    const auto place = [button, &memo] {
        button->adjustSize();
        button->move(memo.viewport()->width() - button->width() - 4,
                     memo.viewport()->height() - button->height() - 4);
    };
    place();
    button->show();
    struct Follow : QObject {
        std::function<void()> place;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Resize) place();
            return false;
        }
    };
    auto* follow = new Follow;
    follow->setParent(button);
    follow->place = place;
    memo.viewport()->installEventFilter(follow);

    const std::unique_ptr<QSettings> settings = UserSettings();
    if (!settings->value(HintKey, false).toBool()) {
        settings->setValue(HintKey, true);
        new FirstStartHint(session.Area());
    }
}

} // namespace nagisora
