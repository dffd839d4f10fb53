#pragma once

// Whether the score area holds edits that no file has: the text differs from the one last loaded, saved or
// started with. The document's own modified flag answers at once while the user types (an undo back to the
// kept text clears it); a second after typing stops the text itself is compared with the kept one, so that
// text typed and deleted again counts as unchanged too. The caption shows "*" before its text while there
// are edits, and closing the window with edits asks whether to save them first.

#include <QObject>
#include <QString>

class QTextDocument;
class QTimer;
class QWidget;

namespace nagisora {

class ScoreSession;

class UnsavedEdits : public QObject {
    Q_OBJECT

  public:
    static constexpr int PauseMs = 1000; // how long typing has stopped before the text is compared

    // Follows the session's score and marks its window's caption; owned by the session.
    explicit UnsavedEdits(ScoreSession& session);

    bool Edited() const;
    // The score file last loaded or saved; empty before the first.
    const QString& ScoreFile() const { return scoreFile_; }
    // Compares the text with the kept one now, as the pause does; returns whether it differs.
    bool Settle();

    // The caption as the window shows it: "*" before the window's caption while there are edits, and the
    // window's property "captionNote" (text) after it.
    QString ShownCaption() const;

  signals:
    // The edited state changed (at once, from the document's modified flag).
    void EditedChanged(bool edited);
    // Typing has paused (or the text was loaded or saved): the text, and whether it differs from the kept
    // one.
    void Settled(bool edited, const QString& text);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void KeepText();
    void ShowMark();
    bool MayClose();

    ScoreSession& session_;
    QWidget& window_;
    QTextDocument& document_;
    QTimer* pause_;
    QString kept_;
    QString scoreFile_;
};

} // namespace nagisora
