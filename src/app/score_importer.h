#pragma once

// "MIDI/MusicXML から読込…" (Ctrl+I, in the score area's context menu) and MIDI or MusicXML files dropped on
// the score area or chosen from the recent scores: the file is read whole, a small dialog asks for the pipe
// (1.3 to 2.4 尺, or chosen by the import; remembered in the user's settings) and, when the file has several
// parts, the part; the score written for them takes the place of the score area's text as "楽譜読込" does
// (one step that the user can undo, counted as edits that no file has), the window's tempo, transposition,
// volume and instrument become those that make it sound as the file does, the import's findings are listed in
// the problems window, and the file joins the recent scores. A file that cannot be imported is named in a
// message with its problem, and nothing changes. The import module is loaded at the first import.

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class QAction;

namespace nagisora {

class RecentScores;
class ScoreSession;
class ScoreChecker;
struct ImportedPart;

// What the dialog asks before an import.
struct ImportChoice {
    std::int32_t pipeTenths = 18; // 0: chosen by the import
    std::int32_t part = 0;        // 1-based; 0: the first melodic part
};

class ScoreImporter : public QObject {
    Q_OBJECT

  public:
    // An imported file joins the recent scores; its findings go to the checker.
    ScoreImporter(ScoreSession& session, RecentScores& recent, ScoreChecker& checker);

    // Whether the import reads a file of this name: .mid, .midi, .musicxml, .xml or .mxl.
    static bool Imports(const QString& fileName);

    // The pipe remembered from the last import, in tenths of a 尺; 0: chosen by the import.
    static std::int32_t RememberedPipe();

    QAction* Action() const { return action_; }

    // Asks for a file in an open dialog, then imports it.
    void ChooseAndImport();
    void Import(const QString& fileName);

  private:
    std::optional<ImportChoice> Ask(const QString& fileName, const std::vector<ImportedPart>& parts);

    ScoreSession& session_;
    RecentScores& recent_;
    ScoreChecker& checker_;
    QAction* action_;
    QString fileName_; // the last one chosen, proposed again
};

} // namespace nagisora
