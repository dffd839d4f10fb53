#pragma once

// The 縦譜 window: the score as a Tozan player reads it, in vertical columns on pages, beside the text. It
// follows every edit, marks the note under the caret and the note being heard (where the playing cursor is),
// and a click on a note puts the caret on its pitch symbol. Ctrl+wheel, + and - zoom; 印刷… (Ctrl+P) prints
// through Qt's print preview and print dialog, PDF 保存… (Ctrl+Shift+E) writes the same pages as PDF.
//
// The window is made when it is first opened, so that the program's start pays nothing for it or its fonts.

#include "app/vertical_render.h"
#include "core/vertical_layout.h"

#include <QAbstractScrollArea>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPrinter;
class QTimer;

namespace nagisora {

class PlayingCursor;
class ScoreModel;
class ScoreSession;
class ScoreChecker;
class ScoreArea;

class VerticalView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit VerticalView(QWidget* parent = nullptr);

    // The layout to show, drawn with the page settings.
    void SetScore(const VerticalScore& score, const VerticalPageSettings& settings);
    // The events marked: under the caret, and heard now (-1: none); the heard one is kept in view.
    void SetCaretEvent(std::int32_t event);
    void SetHeardEvent(std::int32_t event);
    std::int32_t CaretEvent() const { return caretEvent_; }
    // The events that the checker finds errors at: marked in the margin beside their columns, on the screen
    // only.
    void SetFlaggedEvents(std::vector<std::int32_t> events);
    const std::vector<std::int32_t>& FlaggedEvents() const { return flagged_; }
    std::int32_t HeardEvent() const { return heardEvent_; }

    // Pixels a point of the page; the point under anchor (else the middle of the view) stays where it is.
    void SetZoom(double zoom, std::optional<QPoint> anchor = std::nullopt);
    double Zoom() const { return zoom_; }

    // The event of the note drawn nearest a point of the viewport, in the column there.
    std::optional<std::int32_t> EventAt(QPoint point) const;
    // The rectangle of an event's note in the viewport.
    QRect EventRect(std::int32_t event) const;

  signals:
    void NoteClicked(std::int32_t event);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QPointF PageOrigin(std::int32_t page) const; // in the viewport
    double PageStride() const;
    void UpdateRange();
    void EnsureVisible(std::int32_t event);

    VerticalScore score_;
    VerticalPageSettings settings_;
    std::unique_ptr<VerticalRenderer> renderer_;
    double zoom_ = 1.0;
    std::int32_t caretEvent_ = -1;
    std::int32_t heardEvent_ = -1;
    std::vector<std::int32_t> flagged_;
};

class VerticalScoreWindow : public QWidget {
    Q_OBJECT

  public:
    // Follows the session's score and playback, and marks the notes of the checker's errors.
    VerticalScoreWindow(ScoreSession& session, PlayingCursor& cursor, const ScoreChecker& checker);

    void ShowInFront();
    VerticalView& View() const { return *view_; }
    const VerticalScore& Score() const { return score_; }
    VerticalPageSettings PageSettings() const;
    // Lays the text out again as it is now.
    void Refresh();
    void Print();
    void SavePdf();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void QueueRefresh();
    // Writes the paper, font size and margins to the settings file.
    void KeepPageSettings();
    void FollowCaret();
    void FollowPlaying(qint64 tick);
    void FollowFindings();
    void GoToNote(std::int32_t event);
    void PrintOn(QPrinter& printer) const;

    ScoreSession& session_;
    const ScoreChecker& checker_;
    ScoreModel& model_;
    ScoreArea& area_;
    VerticalView* view_;
    QComboBox* paper_;
    QDoubleSpinBox* fontSize_;
    QDoubleSpinBox* margin_;
    QLabel* status_;
    QTimer* queued_;
    VerticalScore score_;
    std::vector<std::int64_t> starts_; // when each event begins, for the heard note
    QString pdfFileName_;
    bool placed_ = false;
};

// Adds "縦譜…" (Ctrl+Shift+V) to the score area's context menu and the window's keys; the window is made the
// first time it is asked for.
QAction* InstallVerticalScore(ScoreSession& session, PlayingCursor& cursor, const ScoreChecker& checker);

} // namespace nagisora
