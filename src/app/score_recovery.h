#pragma once

// A copy of the score text while it has unsaved edits, so that a crash or a killed program loses nothing:
// a second after typing stops, the text (UTF-8, exactly as the score area holds it) is written through the
// one atomic writer on a thread of its own into the recovery folder (~/.local/share/nagisora/recovery), as
// "score-<process number>-<process start time>.txt", one file per running program. Saving, loading or
// undoing back to the kept text removes the copy, and so does a normal end of the program. At the next start
// the copies of programs that no longer run are offered back, newest first: 復元 puts the text in the score
// area (as an edit, one undo away from the start text), 破棄 removes the copy; closing the question keeps it
// for a later start.

#include <QObject>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace nagisora {

class ScoreSession;

class ScoreRecovery : public QObject {
    Q_OBJECT

  public:
    // Keeps the copy of the session's score. folder: where the copies are kept (made when missing); empty:
    // the user's recovery folder.
    explicit ScoreRecovery(ScoreSession& session, QString folder = {});
    // Finishes the write under way and removes this program's copy: the program ends normally.
    ~ScoreRecovery() override;

    // Offers the copies of ended programs back, before anything else is done in the window; returns whether
    // a text was restored.
    bool OfferLeftCopies();

    // This program's copy.
    const QString& CopyPath() const { return copyPath_; }

    static QString DefaultFolder();

  private:
    void Keep(bool edited, const QString& text);
    void Post(std::optional<std::string> bytes);
    void Run(std::stop_token stop);

    ScoreSession& session_;
    QString folder_;
    QString copyPath_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    // What the writer does next: write these bytes, or (an empty optional) remove the copy.
    std::optional<std::optional<std::string>> next_;
    std::jthread writer_; // the last member: stopped and joined before the rest goes
};

} // namespace nagisora
