#include "app/score_checker.h"

#include "app/background_check.h"
#include "app/command_action.h"
#include "app/fonts.h"
#include "app/modeless_window.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/window_scale.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

namespace nagisora {
namespace {

constexpr int ProblemsWidth = 640;
constexpr int ProblemsHeight = 240;

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

// Scores up to this size are checked whole after each change; longer ones have the lines around the change
// checked at once and the whole in the background.
constexpr std::size_t CheckedWhole = 64 * 1024;
// A change of more lines than this is left to the background alone.
constexpr int LinesCheckedAtOnce = 64;
// How far the lines checked at once reach beyond the change, up to a blank line, to take in its line sets.
constexpr int LinesAround = 4;

std::size_t TextBytes(std::span<const std::string_view> lines) {
    std::size_t bytes = 0;
    for (const std::string_view line : lines)
        bytes += line.size() + 2;
    return bytes;
}

// At most so many underlines are drawn at once (a long line in view can hold thousands of findings).
constexpr int MostMarks = 4000;

} // namespace

// --- the problems window ---

ProblemsWindow::ProblemsWindow(QWidget* parent) : QWidget(parent), list_(new QListWidget(this)) {
    const double scale =
        SetUpModelessWindow(*this, "ProblemsF", QStringLiteral("問題の一覧"), WindowSize::Fixed, FontPixels);
    resize(Scaled(ProblemsWidth, scale), Scaled(ProblemsHeight, scale));

    list_->setObjectName(QStringLiteral("lstProblems"));
    list_->setFont(GothicFont(Scaled(FontPixels, scale)));
    list_->setIconSize(QSize(Scaled(FontPixels, scale), Scaled(FontPixels, scale)));
    list_->setWordWrap(true);                 // a long message takes two rows rather than hiding its end
    list_->setLayoutMode(QListView::Batched); // thousands of rows are laid out a batch at a time
    connect(list_, &QListWidget::itemClicked, this, &ProblemsWindow::OnItem);
    connect(list_, &QListWidget::itemActivated, this, &ProblemsWindow::OnItem);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
}

QString ProblemsWindow::RowText(const Finding& finding) {
    return QStringLiteral("%1 行 %2 列: %3")
        .arg(finding.span.line)
        .arg(finding.span.column)
        .arg(TextOf(finding.message));
}

// The rows are changed in place, so that the list keeps its scroll position and its current row while the
// user types with the window open.
void ProblemsWindow::SetFindings(const std::vector<Finding>& findings,
                                 const std::vector<ImportedRow>& imported) {
    const QIcon errorIcon = style()->standardIcon(QStyle::SP_MessageBoxCritical);
    const QIcon warningIcon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const std::size_t shown = std::min(findings.size(), ShownRows);
    const int first = static_cast<int>(imported.size()); // the row of the first finding of the checker
    const int rows = first + static_cast<int>(shown) + (shown < findings.size()) +
                     (findings.empty() && imported.empty()); // or one of none
    while (list_->count() > rows)
        delete list_->takeItem(list_->count() - 1);
    while (list_->count() < rows)
        list_->addItem(new QListWidgetItem());
    const auto errors = std::count_if(findings.begin(), findings.end(),
                                      [](const Finding& f) { return f.severity == Severity::Error; });
    const auto setRow = [&](int row, const QString& text, bool error, const QString& tip, QVariant chosen) {
        QListWidgetItem* item = list_->item(row);
        if (item->text() != text) item->setText(text);
        if (item->data(Qt::UserRole + 1).toBool() != error || item->icon().isNull()) {
            item->setIcon(error ? errorIcon : warningIcon);
            item->setData(Qt::UserRole + 1, error);
        }
        item->setData(Qt::UserRole, chosen);
        item->setToolTip(tip);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    };
    for (int k = 0; k < first; ++k) { // an import's finding is told by its negative number
        const ImportedRow& row = imported[static_cast<std::size_t>(k)];
        setRow(k, QStringLiteral("%1 行 %2 列: 読込: %3").arg(row.line).arg(row.column).arg(row.text), false,
               row.code, -1 - k);
    }
    for (std::size_t f = 0; f < shown; ++f) {
        const Finding& finding = findings[f];
        setRow(first + static_cast<int>(f), RowText(finding), finding.severity == Severity::Error,
               TextOf(CodeName(finding.code)), static_cast<int>(f));
    }
    if (rows > first + static_cast<int>(shown)) {
        QListWidgetItem* none = list_->item(first + static_cast<int>(shown));
        none->setText(findings.empty()
                          ? QStringLiteral("問題は見つかりません")
                          : QStringLiteral("ほか %1 件 (F8 で順に移れます)").arg(findings.size() - shown));
        none->setIcon(QIcon());
        none->setData(Qt::UserRole, QVariant());
        none->setData(Qt::UserRole + 1, QVariant());
        none->setToolTip({});
        none->setFlags(Qt::NoItemFlags);
    }
    const auto warnings = static_cast<qsizetype>(findings.size() + imported.size()) - errors;
    setWindowTitle(QStringLiteral("問題の一覧 (エラー %1、警告 %2)").arg(errors).arg(warnings));
}

void ProblemsWindow::OnItem(QListWidgetItem* item) {
    const QVariant finding = item->data(Qt::UserRole);
    if (!finding.isValid()) return;
    if (finding.toInt() < 0)
        emit ImportChosen(-1 - finding.toInt());
    else
        emit Chosen(finding.toInt());
}

void ProblemsWindow::ShowInFront() {
    ShowBeside(*this, *parentWidget(), placed_);
}

// --- the checker ---

ScoreChecker::ScoreChecker(ScoreSession& session)
    : QObject(&session.Window()), window_(session.Window()), model_(session.Model()), area_(session.Area()),
      queued_(new QTimer(this)), toBackground_(new QTimer(this)), viewMoved_(new QTimer(this)),
      problemsF_(new ProblemsWindow(&window_)), next_(AddCommand(session, CommandGroup::Check,
                                                                 {"actNextProblem",
                                                                  QStringLiteral("次の問題へ"),
                                                                  {QKeySequence(Qt::Key_F8)},
                                                                  QStringLiteral("次の問題の場所へ移ります")},
                                                                 this, &ScoreChecker::GoToNext)),
      previous_(AddCommand(session, CommandGroup::Check,
                           {"actPreviousProblem",
                            QStringLiteral("前の問題へ"),
                            {QKeySequence(Qt::SHIFT | Qt::Key_F8)},
                            QStringLiteral("前の問題の場所へ移ります")},
                           this, &ScoreChecker::GoToPrevious)),
      problems_(AddCommand(session, CommandGroup::Check,
                           {"actProblems",
                            QStringLiteral("問題の一覧…"),
                            {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)},
                            QStringLiteral("楽譜の問題をすべて一覧にします")},
                           this, &ScoreChecker::ShowProblems)) {
    setObjectName(QStringLiteral("ScoreChecker"));
    // A check waits until the event that changed the text is done: one check for a paste or a replaced
    // score, and a keystroke is shown before its findings.
    queued_->setSingleShot(true);
    queued_->setInterval(0);
    connect(queued_, &QTimer::timeout, this, &ScoreChecker::CheckNow);
    // The whole text goes to the background once the event that changed it is done, so that the check does
    // not share the cores with the keystroke's drawing (and a paste is handed over once).
    toBackground_->setSingleShot(true);
    toBackground_->setInterval(0);
    connect(toBackground_, &QTimer::timeout, this,
            [this] { background_->Request(generation_, model_.LineBytes(), UnmappableFindings()); });
    connect(&model_, &ScoreModel::Remapped, this, &ScoreChecker::QueueCheck);
    background_ =
        std::make_unique<BackgroundCheck>([this](std::uint64_t generation, std::vector<Finding> found) {
            auto shared = std::make_shared<std::vector<Finding>>(std::move(found));
            QMetaObject::invokeMethod(
                this, [this, generation, shared] { TakeFindings(generation, std::move(*shared)); },
                Qt::QueuedConnection);
        });
    viewMoved_->setSingleShot(true);
    viewMoved_->setInterval(0);
    connect(viewMoved_, &QTimer::timeout, this, &ScoreChecker::MarkInView);
    connect(&area_, &ScoreArea::ViewMoved, viewMoved_, qOverload<>(&QTimer::start));

    for (QAction* action : {next_, previous_, problems_})
        problemsF_->addAction(action); // the keys work in the problems window too
    connect(problemsF_, &ProblemsWindow::Chosen, this, qOverload<int>(&ScoreChecker::GoTo));
    connect(problemsF_, &ProblemsWindow::ImportChosen, this, &ScoreChecker::GoToImported);
    connect(&session, &ScoreSession::ScoreReplaced, this, [this] { SetImportFindings({}); });
    area_.AddToolTipSource([this](const QTextCursor& cursor) { return ToolTipAt(cursor); });
    CheckNow();
}

// A short score is checked whole once the event that changed it is done. In a long one the lines around the
// change are checked at once, taking the place of what was found there, and the whole text in the background.
ScoreChecker::~ScoreChecker() = default;

void ScoreChecker::QueueCheck(int first, int last, int delta) {
    ++generation_;
    const std::span<const std::string_view> lines = model_.Lines();
    if (TextBytes(lines) <= CheckedWhole) {
        if (!queued_->isActive()) queued_->start();
        return;
    }
    queued_->stop();
    const int count = static_cast<int>(lines.size());
    if (last - first < LinesCheckedAtOnce && first < count)
        CheckAround(first, std::min(last, count - 1), delta);
    else
        findings_.clear();
    MarkInView();
    toBackground_->start();
}

void ScoreChecker::CheckAround(int first, int last, int delta) {
    const std::span<const std::string_view> lines = model_.Lines();
    const int count = static_cast<int>(lines.size());
    int lo = first;
    int hi = last;
    for (int k = 0; k < LinesAround && lo > 0 && !lines[lo - 1].empty(); ++k)
        --lo;
    for (int k = 0; k < LinesAround && hi + 1 < count && !lines[hi + 1].empty(); ++k)
        ++hi;
    std::vector<Finding> around = CheckScore(lines.subspan(lo, hi - lo + 1));
    for (Finding& f : around) {
        f.place.line += lo;
        f.span.line += lo;
    }
    // The findings of the lines lo to hi as they were (lines from 1) give way to those found now; the lines
    // after them moved by delta.
    const auto before = [](std::int32_t line) {
        return [line](const Finding& f) { return f.place.line < line; };
    };
    const auto from = std::partition_point(findings_.begin(), findings_.end(), before(lo + 1));
    const auto to = std::partition_point(from, findings_.end(), before(hi - delta + 2));
    for (auto f = to; f != findings_.end(); ++f) {
        f->place.line += delta;
        f->span.line += delta;
    }
    const auto at = findings_.erase(from, to);
    findings_.insert(at, std::make_move_iterator(around.begin()), std::make_move_iterator(around.end()));
}

void ScoreChecker::TakeFindings(std::uint64_t generation, std::vector<Finding> findings) {
    if (generation != generation_) return; // the text has changed since
    checked_ = generation;
    findings_.swap(findings);
    background_->Discard(std::move(findings));
    MarkInView();
    if (problemsF_->isVisible()) ShowFindings();
    emit Checked();
}

bool ScoreChecker::Checking() const {
    return queued_->isActive() || checked_ != generation_;
}

bool ScoreChecker::Queued() const {
    return queued_->isActive();
}

void ScoreChecker::CheckNow() {
    queued_->stop();
    toBackground_->stop();
    checked_ = ++generation_; // a result of the background is older
    std::vector<Finding> findings = CheckScore(model_.Lines(), model_.Map());
    MergeFindings(findings, UnmappableFindings());
    findings_ = std::move(findings);
    MarkInView();
    if (problemsF_->isVisible()) ShowFindings();
    emit Checked();
}

void ScoreChecker::ShowFindings() {
    problemsF_->SetFindings(findings_, ImportFindings());
}

void ScoreChecker::SetImportFindings(const std::vector<ImportedRow>& findings) {
    imported_.clear();
    const QTextDocument& document = model_.Document();
    for (const ImportedRow& row : findings) {
        const QTextBlock block = document.findBlockByNumber(row.line - 1);
        if (!block.isValid()) continue;
        QTextCursor at(block);
        at.setPosition(block.position() + std::clamp(row.column - 1, 0, block.length() - 1));
        imported_.push_back(Imported{at, row.text, row.code});
    }
    if (problemsF_->isVisible()) ShowFindings();
}

std::vector<ImportedRow> ScoreChecker::ImportFindings() const {
    std::vector<ImportedRow> rows;
    for (const Imported& found : imported_)
        rows.push_back(
            ImportedRow{found.at.blockNumber() + 1, found.at.positionInBlock() + 1, found.text, found.code});
    return rows;
}

void ScoreChecker::MarkInView() {
    viewMoved_->stop();
    QList<QTextEdit::ExtraSelection> marks;
    for (const ScoreArea::LineInView& in : area_.LinesInView()) {
        const std::size_t from = model_.ByteAt(in.line, in.first);
        const std::size_t to = model_.ByteAt(in.line, in.last);
        for (std::size_t f = FirstFrom(in.line + 1, 0);
             f < findings_.size() && findings_[f].place.line == in.line + 1 && marks.size() < MostMarks;
             ++f) {
            const SourcePlace& place = findings_[f].place;
            if (place.byte + place.bytes < from || place.byte > to) continue;
            if (QTextCursor cursor = CursorOf(f); !cursor.isNull())
                marks.push_back(Underline(cursor, findings_[f].severity));
        }
    }
    area_.SetMarks(MarkLayer::Findings, std::move(marks));
}

QTextCursor ScoreChecker::CursorOf(std::size_t finding) const {
    return finding < findings_.size() ? model_.CursorFor(findings_[finding].place) : QTextCursor();
}

std::size_t ScoreChecker::FirstFrom(int line, std::size_t byte) const {
    const auto at = std::partition_point(findings_.begin(), findings_.end(), [&](const Finding& f) {
        return f.place.line < line || (f.place.line == line && f.place.byte < byte);
    });
    return static_cast<std::size_t>(at - findings_.begin());
}

// Characters that code page 932 lacks read as "?": found where the model encodes the text, placed on the
// character the area shows.
std::vector<Finding> ScoreChecker::UnmappableFindings() const {
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

// The findings on the cursor's line whose characters take in its position (its end included).
QString ScoreChecker::ToolTipAt(const QTextCursor& cursor) const {
    QStringList messages;
    const int line = cursor.blockNumber();
    const int position = cursor.positionInBlock();
    for (std::size_t f = FirstFrom(line + 1, 0); f < findings_.size() && findings_[f].place.line == line + 1;
         ++f) {
        const SourcePlace& place = findings_[f].place;
        const int first = model_.PositionOf(line, place.byte);
        if (first > position) break;
        if (const QTextCursor marked = CursorOf(f); !marked.isNull() && position <= marked.positionInBlock())
            messages.push_back(TextOf(findings_[f].message));
    }
    return messages.join(u'\n');
}

// The findings are in the order of the text: the next one after the caret's character is found by halving.
void ScoreChecker::GoToNext() {
    CheckNow();
    if (findings_.empty()) return SayAtCaret(QStringLiteral("問題は見つかりません"));
    const QTextCursor caret = area_.textCursor();
    const std::size_t f =
        FirstFrom(caret.blockNumber() + 1, model_.ByteAt(caret.blockNumber(), caret.positionInBlock()) + 1);
    GoTo(f < findings_.size() ? f : 0, 1); // round to the first
}

void ScoreChecker::GoToPrevious() {
    CheckNow();
    if (findings_.empty()) return SayAtCaret(QStringLiteral("問題は見つかりません"));
    const QTextCursor caret = area_.textCursor();
    const std::size_t f =
        FirstFrom(caret.blockNumber() + 1, model_.ByteAt(caret.blockNumber(), caret.positionInBlock()));
    GoTo(f > 0 ? f - 1 : findings_.size() - 1, -1); // round to the last
}

// The first finding from f on in the direction that has characters in the area (not one past its line's end).
void ScoreChecker::GoTo(std::size_t f, int direction) {
    const std::size_t n = findings_.size();
    for (std::size_t tried = 0; tried < n; ++tried, f = (f + n + direction) % n)
        if (!CursorOf(f).isNull()) return GoTo(static_cast<int>(f));
}

// The caret to the finding's first character, the area in front with the message beside the caret.
void ScoreChecker::GoTo(int finding) {
    const auto f = static_cast<std::size_t>(finding);
    const QTextCursor marked = CursorOf(f);
    if (!marked.isNull()) ShowAt(marked, TextOf(findings_[f].message));
}

void ScoreChecker::GoToImported(int finding) {
    if (finding >= 0 && static_cast<std::size_t>(finding) < imported_.size()) {
        const Imported& found = imported_[static_cast<std::size_t>(finding)];
        ShowAt(found.at, found.text);
    }
}

void ScoreChecker::ShowAt(const QTextCursor& at, const QString& message) {
    QTextCursor caret = area_.textCursor();
    caret.setPosition(at.selectionStart());
    area_.setTextCursor(caret);
    area_.ensureCursorVisible();
    window_.raise();
    window_.activateWindow();
    area_.setFocus(Qt::OtherFocusReason);
    SayAtCaret(message);
}

void ScoreChecker::SayAtCaret(const QString& text) const {
    const QRect at = area_.cursorRect();
    QToolTip::showText(area_.viewport()->mapToGlobal(at.bottomLeft()), text, area_.viewport());
}

void ScoreChecker::ShowProblems() {
    CheckNow();
    ShowFindings();
    problemsF_->ShowInFront();
}

} // namespace nagisora
