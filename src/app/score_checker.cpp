#include "score_checker.h"

#include "fMain.h"
#include "fonts.h"
#include "score_area.h"
#include "score_model.h"
#include "window_scale.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

namespace nagisora {
namespace {

constexpr int ProblemsWidth = 640;
constexpr int ProblemsHeight = 240;
constexpr int FontPixels = 12;

const QColor ErrorColour(0xD0, 0x10, 0x10);
const QColor WarningColour(0xE0, 0x98, 0x00);

QString TextOf(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QTextEdit::ExtraSelection Underline(const QTextCursor& cursor, Severity severity) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = cursor;
    mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    mark.format.setUnderlineColor(severity == Severity::Error ? ErrorColour : WarningColour);
    return mark;
}

// Whether two lists of findings say the same at the same bytes: then the underlines already there, which
// move with the text, stand right.
bool SamePlaces(const std::vector<Finding>& a, const std::vector<Finding>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Finding& x, const Finding& y) {
        return x.code == y.code && x.place == y.place && x.message == y.message;
    });
}

} // namespace

// --- the problems window ---

TProblemsF::TProblemsF(QWidget* parent) : QWidget(parent, WindowFrameFlags), list_(new QListWidget(this)) {
    setObjectName(QStringLiteral("ProblemsF"));
    setWindowTitle(QStringLiteral("問題の一覧"));
    setAttribute(Qt::WA_QuitOnClose, false);
    const double scale = LayoutScale(screen() ? screen() : QGuiApplication::primaryScreen());
    setFont(PGothicFont(Scaled(FontPixels, scale)));
    resize(Scaled(ProblemsWidth, scale), Scaled(ProblemsHeight, scale));

    list_->setObjectName(QStringLiteral("lstProblems"));
    list_->setFont(GothicFont(Scaled(FontPixels, scale)));
    list_->setIconSize(QSize(Scaled(FontPixels, scale), Scaled(FontPixels, scale)));
    list_->setWordWrap(true);                 // a long message takes two rows rather than hiding its end
    list_->setLayoutMode(QListView::Batched); // thousands of rows are laid out a batch at a time
    connect(list_, &QListWidget::itemClicked, this, &TProblemsF::OnItem);
    connect(list_, &QListWidget::itemActivated, this, &TProblemsF::OnItem);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
}

QString TProblemsF::RowText(const Finding& finding) {
    return QStringLiteral("%1 行 %2 列: %3")
        .arg(finding.span.line)
        .arg(finding.span.column)
        .arg(TextOf(finding.message));
}

// The rows are changed in place, so that the list keeps its scroll position and its current row while the
// user types with the window open.
void TProblemsF::SetFindings(const std::vector<Finding>& findings) {
    const QIcon errorIcon = style()->standardIcon(QStyle::SP_MessageBoxCritical);
    const QIcon warningIcon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const int rows = std::max<int>(1, static_cast<int>(findings.size())); // one row tells there is none
    while (list_->count() > rows)
        delete list_->takeItem(list_->count() - 1);
    while (list_->count() < rows)
        list_->addItem(new QListWidgetItem());
    int errors = 0;
    for (std::size_t f = 0; f < findings.size(); ++f) {
        const Finding& finding = findings[f];
        const bool error = finding.severity == Severity::Error;
        errors += error;
        QListWidgetItem* item = list_->item(static_cast<int>(f));
        const QString text = RowText(finding);
        if (item->text() != text) item->setText(text);
        if (item->data(Qt::UserRole + 1).toBool() != error || item->icon().isNull()) {
            item->setIcon(error ? errorIcon : warningIcon);
            item->setData(Qt::UserRole + 1, error);
        }
        item->setData(Qt::UserRole, static_cast<int>(f));
        item->setToolTip(TextOf(CodeName(finding.code)));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }
    if (findings.empty()) {
        QListWidgetItem* none = list_->item(0);
        none->setText(QStringLiteral("問題は見つかりません"));
        none->setIcon(QIcon());
        none->setData(Qt::UserRole, QVariant());
        none->setData(Qt::UserRole + 1, QVariant());
        none->setToolTip({});
        none->setFlags(Qt::NoItemFlags);
    }
    const int warnings = static_cast<int>(findings.size()) - errors;
    setWindowTitle(QStringLiteral("問題の一覧 (エラー %1、警告 %2)").arg(errors).arg(warnings));
}

void TProblemsF::OnItem(QListWidgetItem* item) {
    const QVariant finding = item->data(Qt::UserRole);
    if (finding.isValid()) emit Chosen(finding.toInt());
}

void TProblemsF::ShowInFront() {
    nagisora::ShowInFront(*this, placed_);
}

// --- the checker ---

TScoreChecker::TScoreChecker(TMainF& window)
    : QObject(&window), window_(window), model_(window.Model()), area_(window.ScoreArea()),
      queued_(new QTimer(this)), problemsF_(new TProblemsF(&window)),
      next_(new QAction(QStringLiteral("次の問題へ"), &window)),
      previous_(new QAction(QStringLiteral("前の問題へ"), &window)),
      problems_(new QAction(QStringLiteral("問題の一覧..."), &window)) {
    setObjectName(QStringLiteral("ScoreChecker"));
    // A check waits until the event that changed the text is done: one check for a paste or a replaced
    // score, and a keystroke is shown before its findings.
    queued_->setSingleShot(true);
    queued_->setInterval(0);
    connect(queued_, &QTimer::timeout, this, &TScoreChecker::CheckNow);
    connect(&model_, &ScoreModel::Remapped, this, &TScoreChecker::QueueCheck);

    const struct {
        QAction* action;
        QKeySequence keys;
        void (TScoreChecker::*slot)();
        const char* name;
        QString tip;
    } commands[] = {
        {next_, QKeySequence(Qt::Key_F8), &TScoreChecker::GoToNext, "actNextProblem",
         QStringLiteral("次の問題の場所へ移ります (F8)")},
        {previous_, QKeySequence(Qt::SHIFT | Qt::Key_F8), &TScoreChecker::GoToPrevious, "actPreviousProblem",
         QStringLiteral("前の問題の場所へ移ります (Shift+F8)")},
        {problems_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), &TScoreChecker::ShowProblems,
         "actProblems", QStringLiteral("楽譜の問題をすべて一覧にします (Ctrl+Shift+M)")},
    };
    for (const auto& c : commands) {
        c.action->setObjectName(QString::fromLatin1(c.name));
        c.action->setShortcut(c.keys);
        c.action->setToolTip(c.tip);
        connect(c.action, &QAction::triggered, this, c.slot);
        area_.AddCommand(CommandGroup::Check, c.action);
        window.addAction(c.action);
        problemsF_->addAction(c.action); // the keys work in the problems window too
    }
    connect(problemsF_, &TProblemsF::Chosen, this, &TScoreChecker::GoTo);
    area_.AddToolTipSource([this](const QTextCursor& cursor) { return ToolTipAt(cursor); });
    CheckNow();
}

void TScoreChecker::QueueCheck() {
    if (!queued_->isActive()) queued_->start();
}

void TScoreChecker::CheckNow() {
    queued_->stop();
    std::vector<Finding> findings = CheckScore(model_.Lines(), model_.Map());
    std::vector<Finding> unmappable = UnmappableFindings();
    if (!unmappable.empty()) {
        findings.insert(findings.end(), std::make_move_iterator(unmappable.begin()),
                        std::make_move_iterator(unmappable.end()));
        std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
            return std::tie(a.span.line, a.span.column) < std::tie(b.span.line, b.span.column);
        });
    }
    // Typing inside a line moves the bytes of the findings after it; most keystrokes change nothing else.
    if (!SamePlaces(findings, findings_) || marked_.size() != findings.size()) {
        QList<QTextEdit::ExtraSelection> marks;
        marked_.clear();
        marked_.reserve(findings.size());
        for (const Finding& f : findings) {
            marked_.push_back(model_.CursorFor(f.place));
            if (!marked_.back().isNull()) marks.push_back(Underline(marked_.back(), f.severity));
        }
        area_.SetMarks(MarkLayer::Findings, std::move(marks));
    }
    findings_ = std::move(findings);
    if (problemsF_->isVisible()) problemsF_->SetFindings(findings_);
    emit Checked();
}

// Characters that code page 932 lacks read as "?": found where the model encodes the text, placed on the
// character the area shows.
std::vector<Finding> TScoreChecker::UnmappableFindings() const {
    std::vector<Finding> findings;
    for (const CharPosition& at : model_.Unmappable()) {
        const QTextBlock block = model_.Document().findBlockByNumber(static_cast<int>(at.line) - 1);
        const QString text = block.text();
        int position = 0; // the character's first code unit
        for (std::size_t column = 1; column < at.column && position < text.size(); ++column)
            position += text[position].isHighSurrogate() ? 2 : 1;
        const auto byte = static_cast<std::uint32_t>(model_.ByteAt(static_cast<int>(at.line) - 1, position));
        findings.push_back(UnmappableCharacterFinding(
            SourcePlace{static_cast<std::int32_t>(at.line), byte, 1},
            SourceSpan{static_cast<std::int32_t>(at.line), static_cast<std::int32_t>(at.column), 1}));
    }
    return findings;
}

QString TScoreChecker::ToolTipAt(const QTextCursor& cursor) const {
    QStringList messages;
    const int position = cursor.position();
    for (std::size_t f = 0; f < marked_.size() && f < findings_.size(); ++f)
        if (!marked_[f].isNull() && marked_[f].selectionStart() <= position &&
            position <= marked_[f].selectionEnd())
            messages.push_back(TextOf(findings_[f].message));
    return messages.join(u'\n');
}

void TScoreChecker::GoToNext() {
    CheckNow();
    const int caret = area_.textCursor().position();
    for (std::size_t f = 0; f < marked_.size(); ++f)
        if (!marked_[f].isNull() && marked_[f].selectionStart() > caret) return GoTo(static_cast<int>(f));
    for (std::size_t f = 0; f < marked_.size(); ++f) // round to the first
        if (!marked_[f].isNull()) return GoTo(static_cast<int>(f));
    SayAtCaret(QStringLiteral("問題は見つかりません"));
}

void TScoreChecker::GoToPrevious() {
    CheckNow();
    const int caret = area_.textCursor().position();
    for (std::size_t f = marked_.size(); f-- > 0;)
        if (!marked_[f].isNull() && marked_[f].selectionStart() < caret) return GoTo(static_cast<int>(f));
    for (std::size_t f = marked_.size(); f-- > 0;) // round to the last
        if (!marked_[f].isNull()) return GoTo(static_cast<int>(f));
    SayAtCaret(QStringLiteral("問題は見つかりません"));
}

// The caret to the finding's first character, the area in front with the message beside the caret.
void TScoreChecker::GoTo(int finding) {
    const auto f = static_cast<std::size_t>(finding);
    if (f >= marked_.size() || marked_[f].isNull()) return;
    QTextCursor caret = area_.textCursor();
    caret.setPosition(marked_[f].selectionStart());
    area_.setTextCursor(caret);
    area_.ensureCursorVisible();
    window_.raise();
    window_.activateWindow();
    area_.setFocus(Qt::OtherFocusReason);
    SayAtCaret(TextOf(findings_[f].message));
}

void TScoreChecker::SayAtCaret(const QString& text) const {
    const QRect at = area_.cursorRect();
    QToolTip::showText(area_.viewport()->mapToGlobal(at.bottomLeft()), text, area_.viewport());
}

void TScoreChecker::ShowProblems() {
    CheckNow();
    problemsF_->SetFindings(findings_);
    problemsF_->ShowInFront();
}

} // namespace nagisora
