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
class TMainF;

class ScoreExports : public QObject {
    Q_OBJECT

  public:
    explicit ScoreExports(TMainF& window);
    ~ScoreExports() override;

    void SaveMusicXml();
    void SaveWav();
    // Stops the rendering under way; the file it was to write is not touched.
    void StopWav();
    bool Rendering() const { return rendering_ != nullptr; }
    // The file an export of another view is to be written to, chosen as the exports here are: never a file
    // the window has open (else Failure), and an existing one only when the user agrees; none when cancelled.
    // fileName is the last one chosen, proposed again, and becomes the new choice.
    std::optional<QString> ChooseTarget(const QString& filter, const QString& suffix, QString& fileName);

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

    // The chosen file, once it is known to be no file the window has open (else Failure) and the user has
    // agreed to replace it if it exists; none when the user cancels.
    std::optional<QString> Choose(SaveDialog& dialog);
    std::vector<std::pair<std::string, QString>> OpenFiles() const;
    void RefuseOpenFile(const QString& fileName) const;
    void StartWav(std::string midiData, const QString& fileName);
    void ShowProgress();
    void EndWav(const std::optional<Failure>& failure);

    TMainF& window_;
    QAction* musicXmlAction_;
    QAction* wavAction_;
    SaveDialog musicXmlDialog_;
    SaveDialog wavDialog_;
    QProgressDialog* progress_ = nullptr; // made for the first rendering, shown again for the next
    QTimer* progressTimer_;
    std::unique_ptr<WavRender> rendering_;
};

} // namespace nagisora
