#pragma once

// The score checker in the main window: the score is checked again after every change of its text (queued
// after the change, so typing never waits for it), each finding is underlined with a wavy line under its
// characters (red for errors, amber for warnings) and answers the tooltip there; F8 and Shift+F8 move the
// caret to the next and previous finding; the problems window lists them (the first few thousand and how many
// more), and a click on one puts the caret there. "MIDI 作成" still converts whatever is written.
//
// The underlines are made anew after every check and every scroll, for the findings in view only: a mark
// covers exactly its finding's characters (a mark kept through edits would grow over text typed at its end),
// and a score with hundreds of thousands of findings costs no more to type in than one with a few.

#include "core/score_check.h"

#include <QObject>
#include <QTextCursor>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QListWidget;
class QListWidgetItem;
class QTimer;

namespace nagisora {

class ScoreModel;
class BackgroundCheck;
class ScoreSession;
class ScoreArea;

// A finding of the last import, where the text now has it.
struct ImportedRow {
    int line = 1;   // from 1
    int column = 1; // in characters, from 1
    QString text;
    QString code;
};

// The problems window: one row "N 行 M 列: message" per finding, after those of the last import ("N 行 M 列:
// 読込: message"). Modeless, like the help window.
class ProblemsWindow : public QWidget {
    Q_OBJECT

  public:
    explicit ProblemsWindow(QWidget* parent = nullptr);

    // Shows the window, placed the first time and where the user left it afterwards, in front.
    void ShowInFront();
    void SetFindings(const std::vector<Finding>& findings, const std::vector<ImportedRow>& imported = {});
    QListWidget* List() const { return list_; }

    // "12 行 3 列: message"
    static QString RowText(const Finding& finding);

    // The list shows at most this many findings, then one row that counts the rest.
    static constexpr std::size_t ShownRows = 2000;

  signals:
    // The row of a finding was clicked or chosen with Enter.
    void Chosen(int finding);
    // The row of an import's finding was chosen.
    void ImportChosen(int finding);

  private:
    void OnItem(QListWidgetItem* item);

    QListWidget* list_;
    bool placed_ = false;
};

class ScoreChecker : public QObject {
    Q_OBJECT

  public:
    // Installs the checker in the session's window: its commands in the score area's context menu and as the
    // window's shortcuts, its marks in the area's layer of findings.
    explicit ScoreChecker(ScoreSession& session);
    ~ScoreChecker() override;

    // The findings of the text as it was last checked, in the order of the text.
    const std::vector<Finding>& Findings() const { return findings_; }
    ProblemsWindow& ProblemsF() const { return *problemsF_; }

    QAction* NextAction() const { return next_; }
    QAction* PreviousAction() const { return previous_; }
    QAction* ProblemsAction() const { return problems_; }

  public slots:
    void GoToNext();
    void GoToPrevious();
    void ShowProblems();
    // Whether a check of the whole text is still to come: queued, or running in the background.
    bool Checking() const;
    // Whether a check of a short score waits for the event loop (its marks are not made yet).
    bool Queued() const;
    // Checks at once what a queued check would.
    void CheckNow();
    // The underlines of the findings in view, made anew.
    void MarkInView();
    // The findings of an import into the score area: listed with the checker's, first, until the score is
    // replaced; each stays with its characters while the text is edited around them.
    void SetImportFindings(const std::vector<ImportedRow>& findings);
    std::vector<ImportedRow> ImportFindings() const;

  signals:
    // The findings and their underlines are those of the text as it is now.
    void Checked();

  private:
    void QueueCheck(int first, int last, int delta);
    void CheckAround(int first, int last, int delta);
    void TakeFindings(std::uint64_t generation, std::vector<Finding> findings);
    void GoTo(int finding);
    void GoTo(std::size_t from, int direction);
    void GoToImported(int finding);
    void ShowAt(const QTextCursor& at, const QString& message);
    void ShowFindings();
    QTextCursor CursorOf(std::size_t finding) const;
    // The first finding at or after (line, byte) in the order of the text.
    std::size_t FirstFrom(int line, std::size_t byte) const;
    void SayAtCaret(const QString& text) const; // a tooltip under the caret
    QString ToolTipAt(const QTextCursor& cursor) const;
    std::vector<Finding> UnmappableFindings() const;

    QWidget& window_;
    ScoreModel& model_;
    ScoreArea& area_;
    QTimer* queued_;
    QTimer* toBackground_;
    std::vector<Finding> findings_;
    QTimer* viewMoved_; // marks made anew once the scrolling stops for a moment
    ProblemsWindow* problemsF_;
    QAction* next_;
    QAction* previous_;
    QAction* problems_;
    std::uint64_t generation_ = 0;
    std::uint64_t checked_ = 0; // the generation of the findings of the last whole check // of the text:
                                // counts the changes and the checks made at once
    struct Imported {
        QTextCursor at; // moves with the edits of the text before it
        QString text;
        QString code;
    };
    std::vector<Imported> imported_;
    std::unique_ptr<BackgroundCheck> background_; // last: stopped before the rest goes
};

} // namespace nagisora
