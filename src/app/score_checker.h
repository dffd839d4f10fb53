#pragma once

// The score checker in the main window: the score is checked again after every change of its text (queued
// after the change, so typing never waits for it), each finding is underlined with a wavy line under its
// characters (red for errors, amber for warnings) and answers the tooltip there; F8 and Shift+F8 move the
// caret to the next and previous finding; the problems window lists them all, and a click on one puts the
// caret there. "MIDI 作成" still converts whatever is written.

#include "score_check.h"

#include <QObject>
#include <QTextCursor>
#include <QWidget>
#include <vector>

class QAction;
class QListWidget;
class QListWidgetItem;
class QTimer;

namespace nagisora {

class ScoreModel;
class TMainF;
class TScoreArea;

// The problems window: one row "N 行 M 列: message" per finding. Modeless, like the help window.
class TProblemsF : public QWidget {
    Q_OBJECT

  public:
    explicit TProblemsF(QWidget* parent = nullptr);

    // Shows the window, placed the first time and where the user left it afterwards, in front.
    void ShowInFront();
    void SetFindings(const std::vector<Finding>& findings);
    QListWidget* List() const { return list_; }

    // "12 行 3 列: message"
    static QString RowText(const Finding& finding);

  signals:
    // The row of a finding was clicked or chosen with Enter.
    void Chosen(int finding);

  private:
    void OnItem(QListWidgetItem* item);

    QListWidget* list_;
    bool placed_ = false;
};

class TScoreChecker : public QObject {
    Q_OBJECT

  public:
    // Installs the checker in the main window: its commands in the score area's context menu and as the
    // window's shortcuts, its marks in the area's layer of findings.
    explicit TScoreChecker(TMainF& window);

    // The findings of the text as it was last checked, in the order of the text.
    const std::vector<Finding>& Findings() const { return findings_; }
    TProblemsF& ProblemsF() const { return *problemsF_; }

    QAction* NextAction() const { return next_; }
    QAction* PreviousAction() const { return previous_; }
    QAction* ProblemsAction() const { return problems_; }

  public slots:
    void GoToNext();
    void GoToPrevious();
    void ShowProblems();
    // Checks at once what a queued check would.
    void CheckNow();

  signals:
    // The findings and their underlines are those of the text as it is now.
    void Checked();

  private:
    void QueueCheck();
    void GoTo(int finding);
    void SayAtCaret(const QString& text) const; // a tooltip under the caret
    QString ToolTipAt(const QTextCursor& cursor) const;
    std::vector<Finding> UnmappableFindings() const;

    TMainF& window_;
    ScoreModel& model_;
    TScoreArea& area_;
    QTimer* queued_;
    std::vector<Finding> findings_;
    std::vector<QTextCursor> marked_; // per finding, the characters its underline covers
    TProblemsF* problemsF_;
    QAction* next_;
    QAction* previous_;
    QAction* problems_;
};

} // namespace nagisora
