#pragma once

// The score's exports from the main window, commands of the score area's context menu: "MusicXML 保存…"
// (Ctrl+Shift+X) writes the notation for notation programs, "WAV 保存…" (Ctrl+Shift+W) what the score sounds
// like. Each converts the score area's text with the window's settings as they are when the command is given,
// asks for a file name in a save dialog that starts where the last one of its kind ended, refuses a file the
// window has open (the score last loaded or saved, the work file, the SoundFont, the copy kept against a
// crash, a WAV file being written), asks before replacing an existing file, and replaces the file
// atomically. The WAV file is rendered on a worker thread behind a progress dialog whose "中止" stops it
// without writing anything; the window stays usable meanwhile, and one rendering runs at a time.

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class QAction;
class QProgressDialog;
class QTimer;

namespace nagisora {

class Failure;
class ScoreSession;

class ScoreExports : public QObject {
    Q_OBJECT

  public:
    explicit ScoreExports(ScoreSession& session);
    ~ScoreExports() override;

    void SaveMusicXml();
    void SaveWav();
    // Stops the rendering under way; the file it was to write is not touched.
    void StopWav();
    bool Rendering() const { return rendering_ != nullptr; }

  signals:
    // A rendering has ended: written, stopped, or failed and reported.
    void WavEnded();

  private:
    struct SaveDialog {
        QString filter;
        QString suffix;
        QString fileName; // the last one chosen, proposed again; its folder is where the dialog starts
    };
    struct WavRender {
        std::string path; // the file it is to write
        std::atomic<std::int64_t> frames{0};
        std::int64_t musicFrames = 0;
        std::jthread thread; // the last member: stopped and joined before the counter goes
    };

    // The chosen file (ScoreSession::ChooseTarget); none when the user cancels.
    std::optional<QString> Choose(SaveDialog& dialog);
    void StartWav(std::string midiData, const QString& fileName);
    void ShowProgress();
    void EndWav(const std::optional<Failure>& failure);

    ScoreSession& session_;
    QAction* musicXmlAction_;
    QAction* wavAction_;
    SaveDialog musicXmlDialog_;
    SaveDialog wavDialog_;
    QProgressDialog* progress_ = nullptr; // made for the first rendering, shown again for the next
    QTimer* progressTimer_;
    std::unique_ptr<WavRender> rendering_;
};

} // namespace nagisora
