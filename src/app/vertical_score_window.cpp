#include "app/vertical_score_window.h"

#include "app/command_action.h"
#include "app/file_dialog.h"
#include "app/fonts.h"
#include "app/modeless_window.h"
#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_checker.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/score_views.h"
#include "app/user_settings.h"
#include "app/window_scale.h"
#include "core/failure.h"
#include "core/musicxml.h"
#include "core/score_part.h"
#include "platform/cp932.h"
#include "platform/file_io.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

constexpr int PageGap = 16; // pixels around and between the pages
constexpr double ZoomStep = 1.2;
constexpr double MinZoom = 0.3;
// The page settings, kept between sessions.
const QString PaperKey = QStringLiteral("verticalScore/paper");
const QString FontKey = QStringLiteral("verticalScore/fontPoints");
const QString MarginKey = QStringLiteral("verticalScore/marginMm");
constexpr double MaxZoom = 6.0;
constexpr int WindowWidth = 640;
constexpr int WindowHeight = 760;

bool IsSymbol(const VerticalCell& cell) {
    return cell.event >= 0 && (cell.kind == VerticalCellKind::Note || cell.kind == VerticalCellKind::Rest ||
                               cell.kind == VerticalCellKind::Hold);
}

} // namespace

VerticalView::VerticalView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("verticalView"));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
}

void VerticalView::SetScore(const VerticalScore& score, const VerticalPageSettings& settings) {
    score_ = score;
    settings_ = settings;
    renderer_ = std::make_unique<VerticalRenderer>(score_, settings_);
    UpdateRange();
    viewport()->update();
}

void VerticalView::SetCaretEvent(std::int32_t event) {
    if (event == caretEvent_) return;
    caretEvent_ = event;
    viewport()->update();
}

void VerticalView::SetHeardEvent(std::int32_t event) {
    if (event == heardEvent_) return;
    heardEvent_ = event;
    EnsureVisible(event);
    viewport()->update();
}

void VerticalView::SetFlaggedEvents(std::vector<std::int32_t> events) {
    if (events == flagged_) return;
    flagged_ = std::move(events);
    viewport()->update();
}

void VerticalView::SetZoom(double zoom, std::optional<QPoint> anchor) {
    zoom = std::clamp(zoom, MinZoom, MaxZoom);
    if (zoom == zoom_) return;
    // The point under the anchor (the middle of the view) stays there.
    const QPoint at = anchor.value_or(viewport()->rect().center());
    const double ratio = zoom / zoom_;
    const double x = horizontalScrollBar()->value() + at.x() - PageGap;
    const double y = verticalScrollBar()->value() + at.y() - PageGap;
    zoom_ = zoom;
    UpdateRange();
    horizontalScrollBar()->setValue(int(x * ratio + PageGap - at.x()));
    verticalScrollBar()->setValue(int(y * ratio + PageGap - at.y()));
    viewport()->update();
}

double VerticalView::PageStride() const {
    const QSizeF page = renderer_ ? renderer_->PageSize() : QSizeF(595, 842);
    return page.height() * zoom_ + PageGap;
}

QPointF VerticalView::PageOrigin(std::int32_t page) const {
    const QSizeF size = renderer_ ? renderer_->PageSize() : QSizeF(595, 842);
    const double x = std::max<double>(PageGap, (viewport()->width() - size.width() * zoom_) / 2.0);
    return QPointF(x - horizontalScrollBar()->value(),
                   PageGap + page * PageStride() - verticalScrollBar()->value());
}

void VerticalView::UpdateRange() {
    const QSizeF size = renderer_ ? renderer_->PageSize() : QSizeF(595, 842);
    const int pages = std::max(score_.pages, 1);
    verticalScrollBar()->setRange(0, std::max(0, int(PageGap + pages * PageStride()) - viewport()->height()));
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(int(size.height() * zoom_ / 20) + 1);
    horizontalScrollBar()->setRange(
        0, std::max(0, int(size.width() * zoom_ + 2 * PageGap) - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void VerticalView::EnsureVisible(std::int32_t event) {
    const QRect rect = EventRect(event);
    if (rect.isNull()) return;
    if (rect.top() < 0 || rect.bottom() > viewport()->height())
        verticalScrollBar()->setValue(verticalScrollBar()->value() + rect.center().y() -
                                      viewport()->height() / 2);
}

QRect VerticalView::EventRect(std::int32_t event) const {
    if (!renderer_ || event < 0 || std::size_t(event) >= score_.cellOfEvent.size()) return {};
    const VerticalCell& cell = score_.cells[std::size_t(score_.cellOfEvent[std::size_t(event)])];
    const QRectF rect = renderer_->CellRect(cell);
    const QPointF origin = PageOrigin(cell.page);
    return QRectF(origin + rect.topLeft() * zoom_, rect.size() * zoom_)
        .toAlignedRect()
        .adjusted(-2, -2, 2, 2);
}

std::optional<std::int32_t> VerticalView::EventAt(QPoint point) const {
    if (!renderer_) return std::nullopt;
    const std::int32_t page =
        std::int32_t(std::floor((point.y() + verticalScrollBar()->value() - PageGap) / PageStride()));
    if (page < 0 || page >= score_.pages) return std::nullopt;
    const QPointF onPage = (QPointF(point) - PageOrigin(page)) / zoom_;
    const VerticalHit hit = renderer_->HitAt(onPage);
    if (hit.column < 0) return std::nullopt;
    // The last symbol of the column that begins at or above the point, else the column's first.
    std::optional<std::int32_t> found;
    const auto [first, last] = score_.PageCells(page);
    for (std::size_t i = first; i < last; ++i) {
        const VerticalCell& cell = score_.cells[i];
        if (cell.column != hit.column || !IsSymbol(cell)) continue;
        if (cell.tick > hit.tick) return found ? found : cell.event;
        found = cell.event;
    }
    return found;
}

void VerticalView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    if (!renderer_) return;
    const QSizeF size = renderer_->PageSize();
    const std::int32_t firstPage = std::max(0, int((verticalScrollBar()->value() - PageGap) / PageStride()));
    for (std::int32_t page = firstPage; page < score_.pages; ++page) {
        const QPointF origin = PageOrigin(page);
        if (origin.y() > viewport()->height()) break;
        const QRectF sheet(origin, size * zoom_);
        painter.fillRect(sheet.translated(3, 3), QColor(0, 0, 0, 60));
        painter.fillRect(sheet, Qt::white);
        painter.save();
        painter.translate(origin);
        painter.scale(zoom_, zoom_);
        renderer_->DrawPage(painter, page);
        painter.restore();
    }
    // The checker's errors: a red bar at the left edge of the note's column, outside what is printed.
    for (const std::int32_t event : flagged_)
        if (const QRect note = EventRect(event); !note.isNull()) {
            const int x = note.left() - int(note.width() * 0.9);
            painter.fillRect(QRect(x, note.top(), std::max(3, note.width() / 6), note.height()),
                             QColor(220, 30, 30));
        }
    // The marks, over the notes: the caret's note outlined in blue, the heard one filled in amber.
    if (const QRect heard = EventRect(heardEvent_); !heard.isNull())
        painter.fillRect(heard, QColor(255, 170, 0, 110));
    if (const QRect caret = EventRect(caretEvent_); !caret.isNull()) {
        painter.setPen(QPen(QColor(30, 100, 230), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(caret);
    }
}

void VerticalView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateRange();
}

void VerticalView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        if (const std::optional<std::int32_t> found = EventAt(event->position().toPoint()))
            emit NoteClicked(*found);
    QAbstractScrollArea::mousePressEvent(event);
}

void VerticalView::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        SetZoom(zoom_ * (event->angleDelta().y() > 0 ? ZoomStep : 1 / ZoomStep), event->position().toPoint());
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void VerticalView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        SetZoom(zoom_ * ZoomStep);
        return;
    case Qt::Key_Minus:
        SetZoom(zoom_ / ZoomStep);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

VerticalScoreWindow::VerticalScoreWindow(ScoreSession& session, PlayingCursor& cursor,
                                         const ScoreChecker& checker)
    : QWidget(&session.Window()), session_(session), checker_(checker), model_(session.Model()),
      area_(session.Area()), view_(new VerticalView(this)), paper_(new QComboBox(this)),
      fontSize_(new QDoubleSpinBox(this)), margin_(new QDoubleSpinBox(this)), status_(new QLabel(this)),
      queued_(new QTimer(this)) {
    const double scale = SetUpModelessWindow(*this, "VerticalScoreF", QStringLiteral("縦譜"),
                                             WindowSize::Resizable, FontPixels);
    resize(Scaled(WindowWidth, scale), Scaled(WindowHeight, scale));

    paper_->setObjectName(QStringLiteral("cmbPaper"));
    paper_->addItems({QStringLiteral("A4"), QStringLiteral("B5")});
    fontSize_->setObjectName(QStringLiteral("spnFontSize"));
    fontSize_->setRange(6, 36);
    fontSize_->setSuffix(QStringLiteral(" pt"));
    margin_->setObjectName(QStringLiteral("spnMargin"));
    margin_->setRange(5, 40);
    margin_->setSuffix(QStringLiteral(" mm"));
    {
        // What the settings file holds, each value kept in its range by the controls.
        const std::unique_ptr<QSettings> settings = UserSettings();
        const VerticalPageSettings defaults;
        paper_->setCurrentIndex(settings->value(PaperKey).toString() == QStringLiteral("B5") ? 1 : 0);
        fontSize_->setValue(settings->value(FontKey, defaults.fontPoints).toDouble());
        margin_->setValue(settings->value(MarginKey, defaults.marginMm).toDouble());
    }
    auto* print = new QPushButton(QStringLiteral("印刷…"), this);
    print->setObjectName(QStringLiteral("btnPrint"));
    print->setToolTip(QStringLiteral("印刷… (Ctrl+P)"));
    auto* pdf = new QPushButton(QStringLiteral("PDF 保存…"), this);
    pdf->setObjectName(QStringLiteral("btnPdfSave"));
    pdf->setToolTip(QStringLiteral("PDF 保存… (Ctrl+Shift+E)"));
    status_->setObjectName(QStringLiteral("lblVerticalScore"));
    status_->setContentsMargins(4, 2, 4, 2);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 4, 4, 4);
    bar->addWidget(new QLabel(QStringLiteral("用紙"), this));
    bar->addWidget(paper_);
    bar->addWidget(new QLabel(QStringLiteral("文字"), this));
    bar->addWidget(fontSize_);
    bar->addWidget(new QLabel(QStringLiteral("余白"), this));
    bar->addWidget(margin_);
    bar->addStretch(1);
    bar->addWidget(print);
    bar->addWidget(pdf);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    layout->addWidget(status_);

    auto* printAction = new QAction(QStringLiteral("印刷…"), this);
    printAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    auto* pdfAction = new QAction(QStringLiteral("PDF 保存…"), this);
    pdfAction->setObjectName(QStringLiteral("actPdfSave"));
    pdfAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    addAction(printAction);
    addAction(pdfAction);
    connect(printAction, &QAction::triggered, this, &VerticalScoreWindow::Print);
    connect(pdfAction, &QAction::triggered, this, &VerticalScoreWindow::SavePdf);
    connect(print, &QPushButton::clicked, this, &VerticalScoreWindow::Print);
    connect(pdf, &QPushButton::clicked, this, &VerticalScoreWindow::SavePdf);

    // The layout is made anew once the event that changed the text or a setting is done.
    queued_->setSingleShot(true);
    queued_->setInterval(0);
    connect(queued_, &QTimer::timeout, this, &VerticalScoreWindow::Refresh);
    connect(&model_, &ScoreModel::Remapped, this, &VerticalScoreWindow::QueueRefresh);
    for (const auto changed : {&VerticalScoreWindow::QueueRefresh, &VerticalScoreWindow::KeepPageSettings}) {
        connect(paper_, &QComboBox::currentIndexChanged, this, changed);
        connect(fontSize_, &QDoubleSpinBox::valueChanged, this, changed);
        connect(margin_, &QDoubleSpinBox::valueChanged, this, changed);
    }
    connect(&area_, &QPlainTextEdit::cursorPositionChanged, this, &VerticalScoreWindow::FollowCaret);
    connect(&cursor, &PlayingCursor::HeardAt, this, &VerticalScoreWindow::FollowPlaying);
    connect(view_, &VerticalView::NoteClicked, this, &VerticalScoreWindow::GoToNote);
    connect(&checker_, &ScoreChecker::Checked, this, &VerticalScoreWindow::FollowFindings);
}

VerticalPageSettings VerticalScoreWindow::PageSettings() const {
    return VerticalPageSettings{paper_->currentIndex() == 1 ? VerticalPaper::B5 : VerticalPaper::A4,
                                margin_->value(), fontSize_->value()};
}

void VerticalScoreWindow::KeepPageSettings() {
    const std::unique_ptr<QSettings> settings = UserSettings();
    settings->setValue(PaperKey, paper_->currentText());
    settings->setValue(FontKey, fontSize_->value());
    settings->setValue(MarginKey, margin_->value());
}

void VerticalScoreWindow::ShowInFront() {
    ShowBeside(*this, session_.Window(), placed_);
}

void VerticalScoreWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    // The pages as wide as the view at first.
    if (view_->Zoom() == 1.0 && view_->viewport()->width() > 0)
        view_->SetZoom(
            (view_->viewport()->width() - view_->verticalScrollBar()->sizeHint().width() - 2.0 * PageGap) /
            PageLayoutOf(PageSettings()).fullRect(QPageLayout::Point).width());
}

void VerticalScoreWindow::QueueRefresh() {
    if (isVisible() && !queued_->isActive()) queued_->start();
}

void VerticalScoreWindow::Refresh() {
    queued_->stop();
    const ScoreMap& map = model_.Map();
    const VerticalPageSettings settings = PageSettings();
    LayOutVertical(map, FirstCommentText(model_.Lines()), LayoutSettingsFor(settings), score_);
    starts_ = EventStarts(map.timed);
    view_->SetScore(score_, settings);
    status_->setText(
        QStringLiteral("%1 ページ ・ %2 音 ・ クリック: その音の音高記号へ ・ Ctrl+ホイール、+ -: 拡大縮小")
            .arg(score_.pages)
            .arg(map.events.size()));
    FollowCaret();
}

void VerticalScoreWindow::FollowCaret() {
    if (!isVisible()) return;
    const std::size_t event =
        EventAtOrAfter(model_.Map(), TextPointAt(model_, area_.textCursor().position()));
    view_->SetCaretEvent(event < model_.Map().events.size() ? std::int32_t(event) : -1);
}

void VerticalScoreWindow::FollowFindings() {
    if (!isVisible()) return;
    const ScoreMap& map = model_.Map();
    std::vector<std::int32_t> events;
    for (const Finding& finding : checker_.Findings()) {
        if (finding.severity != Severity::Error || finding.place.IsNone()) continue;
        // The note at or after the finding; after the last note, the last note.
        const std::size_t at = EventAtOrAfter(map, TextPoint{finding.place.line, finding.place.byte});
        if (map.events.empty()) break;
        const auto event = std::int32_t(std::min(at, map.events.size() - 1));
        if (events.empty() || events.back() != event) events.push_back(event);
    }
    view_->SetFlaggedEvents(std::move(events));
}

void VerticalScoreWindow::FollowPlaying(qint64 tick) {
    if (!isVisible()) return;
    if (tick < 0 || starts_.size() < 2) {
        view_->SetHeardEvent(-1);
        return;
    }
    // The last event that begins at or before the tick heard.
    const auto after = std::upper_bound(starts_.begin(), starts_.end() - 1, std::int64_t(tick));
    view_->SetHeardEvent(after == starts_.begin() ? -1 : std::int32_t(after - starts_.begin() - 1));
}

void VerticalScoreWindow::GoToNote(std::int32_t event) {
    const ScoreMap& map = model_.Map();
    if (event < 0 || std::size_t(event) >= map.events.size()) return;
    const QTextCursor symbol = model_.CursorFor(map.events[std::size_t(event)].pitch);
    if (symbol.isNull()) return;
    QTextCursor caret = area_.textCursor();
    caret.setPosition(symbol.selectionStart());
    area_.setTextCursor(caret);
    area_.ensureCursorVisible();
}

void VerticalScoreWindow::PrintOn(QPrinter& printer) const {
    const VerticalPageSettings settings = PageSettings();
    const VerticalRenderer renderer(score_, settings);
    QPainter painter(&printer);
    // Whole pages in points: the printer's painter starts at the corner of the paper.
    const double scale = printer.resolution() / 72.0;
    painter.scale(scale, scale);
    for (std::int32_t page = 0; page < score_.pages; ++page) {
        if (page > 0) printer.newPage();
        renderer.DrawPage(painter, page);
    }
}

void VerticalScoreWindow::Print() {
    Refresh();
    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);
    printer.setPageLayout(PageLayoutOf(PageSettings()));
    printer.setDocName(QString::fromStdString(DecodeCp932(score_.title)));
    QPrintPreviewDialog preview(&printer, this);
    preview.setWindowTitle(QStringLiteral("印刷"));
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { PrintOn(*p); });
    preview.exec();
}

void VerticalScoreWindow::SavePdf() {
    try {
        Refresh();
        const std::string pdf = VerticalPdf(score_, PageSettings());
        const std::optional<QString> chosen =
            session_.ChooseTarget(QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"), pdfFileName_);
        if (!chosen) return;
        WriteFileAtomically(QFile::encodeName(*chosen).toStdString(), pdf);
    } catch (const Failure& failure) {
        session_.ReportFailure(failure);
    }
}

QAction* InstallVerticalScore(ScoreSession& session, PlayingCursor& cursor, const ScoreChecker& checker) {
    QAction* action = AddCommand(session, CommandGroup::Views,
                                 {"actVerticalScore",
                                  QStringLiteral("縦譜…"),
                                  {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V)},
                                  QStringLiteral("楽譜を縦譜で表示します")});
    QObject::connect(action, &QAction::triggered, &session,
                     [&session, &cursor, &checker, vertical = QPointer<VerticalScoreWindow>()]() mutable {
                         if (!vertical) vertical = new VerticalScoreWindow(session, cursor, checker);
                         vertical->ShowInFront();
                     });
    return action;
}

} // namespace nagisora
