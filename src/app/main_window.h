#pragma once

// The main window: the score area, the three settings with their read-outs, the instrument list, the commands
// "MIDI 作成" and "MIDI 保存", the preview player, the score file commands and the help button. The controls
// and their settings come from main_window.ui.

#include "app/file_dialog.h"
#include "app/message_box.h"
#include "core/conversion.h"
#include "platform/cp932.h"
#include "platform/media_layer.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Ui {
class MainWindow;
}

namespace nagisora {

class HelpWindow;
class MediaPlayer;
class ScoreArea;
class ScoreModel;
class ScoreImporter;
class ScoreSession;
enum class PlayerButton : int;

struct MainWindowOptions {
    // The folder that holds "config" and where the MIDI save dialog starts, ending in "/". Empty: the
    // program's own folder, or the user's application data folder when the program's folder cannot be
    // written.
    std::optional<std::string> appDir;
    ErrorReporter reportError; // empty: a message box
    FileDialogHook fileDialog; // empty: the common file dialogs
    MediaOptions media;        // how the preview is played
};

// The score area's lines as code page 932 bytes, and where characters stand that code page 932 lacks.
struct ScoreAreaText {
    std::vector<std::string> lines;       // without line ends; "?" for each missing character
    std::vector<CharPosition> unmappable; // line and column in the score area, 1-based
};

// A file dialog of the score files: its kind, and the full name chosen in it last, proposed the next time.
struct ScoreFileDialog {
    FileDialogRequest::Kind kind;
    QString fileName;
};

class MainWindow : public QWidget {
    Q_OBJECT

  public:
    explicit MainWindow(MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    const std::string& AppDir() const;
    const std::string& MidiData() const { return midiData_; }
    std::int32_t EventCount() const { return eventCount_; }
    std::int32_t Transpose() const { return transpose_; }

    // The SoundFont of the preview, which WAV files of the window are rendered with too; empty: the first
    // General MIDI SoundFont found.
    const std::string& SoundFont() const { return options_.media.soundFont; }

    // What the window's features share: the score, the settings, the player, the program's folder.
    ScoreSession& Session() const { return *session_; }

    // AppDir + "config/work.mid", the file every conversion writes and the player plays.
    std::string WorkFilePath() const;

    // The lines of the score area as code page 932 bytes without line ends. The empty line after a final line
    // break is no line; a character that code page 932 lacks reads as "?".
    std::vector<std::string> ScoreLines() const;

    // The lines of ScoreLines() with the places of the characters that became "?".
    ScoreAreaText ScoreText() const;

    // The help window, created hidden with the main window.
    HelpWindow& Help() const { return *help_; }

    // The score area, and its text as the reader sees it, kept up to date while the user types.
    ScoreArea& Area() const;
    ScoreModel& Model() const { return *model_; }

    // The settings of the next conversion, as the controls hold them.
    ConversionSettings Settings() const;

    // Reports a failure the way every handler does.
    void ReportFailure(const Failure& failure);

    // The common file dialog, or the hook that stands in for it.
    std::optional<QString> ChooseFile(const FileDialogRequest& request);

    // Loads a score file as "楽譜読込" loads the file chosen in its dialog, which proposes it next; a MIDI or
    // MusicXML file is imported.
    void OpenScore(const QString& fileName);
    // The lines, each followed by a line break, take the place of the whole text in one step that the user
    // can undo.
    void ReplaceScore(std::span<const std::string_view> lines);
    // Sets the controls of the tempo, the transposition, the volume and the instrument.
    void SetSettings(const ConversionSettings& settings);

    // The events of the last conversion that "MIDI 作成" made, as the work file plays them.
    std::span<const NoteEvent> WorkEvents() const { return workEvents_; }
    // The preview's media layer: where the music is heard.
    const MediaLayer& Media() const { return media_; }
    // The same, for setting how it plays (speed, metronome).
    MediaLayer& Media() { return media_; }
    // Plays an image made from part of the score in the player, as ▶ plays the work file ("MIDI 作成"
    // disabled until the music ends or ■), without touching the work file, MidiData or the caption; with the
    // metronome's clicks, if any.
    void PlayPart(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks = {});

  public slots:
    void SelectFirstInstrument();
    void MakeMidi();
    void SaveMidi();
    void TempoChanged(int position);
    void TransposeChanged(int position);
    void VolumeChanged(int position);
    void ShowReadEvents();
    void ChooseScoreToLoad();
    void SaveScore();
    void ClearScore();
    void ShowHelp();

  public:
    void PlayerButtonPressed(MediaPlayer& player, PlayerButton button);

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void SetUpControls();
    void ConnectHandlers();
    void MakeSession();
    void InstallFeatures();
    std::int32_t SelectedInstrument() const;
    void OpenWorkFileInPlayer();
    std::optional<QString> Execute(ScoreFileDialog& dialog);
    void LoadScore(const QString& fileName);
    void LoadOrImport(const QString& fileName);
    bool TakeFileDrag(QEvent* event);
    void EndPart();
    void EndPlay();
    void EndUnlessPlaying();

    // Runs a handler; a Failure ends it at the failing step and goes to the error reporter.
    template <class Handler>
    void Guarded(Handler&& handler);

    MainWindowOptions options_;
    std::unique_ptr<Ui::MainWindow> ui;
    MediaLayer media_;
    ScoreFileDialog dlgOpen{FileDialogRequest::Kind::Open, {}};
    ScoreFileDialog dlgSave{FileDialogRequest::Kind::Save, {}};
    std::unique_ptr<HelpWindow> help_;
    ScoreSession* session_ = nullptr;
    ScoreImporter* importer_ = nullptr;
    ScoreModel* model_ = nullptr;

    std::string midiData_;
    std::int32_t eventCount_ = 0;
    std::int32_t transpose_ = 0;
    bool centred_ = false;
    std::vector<NoteEvent> workEvents_;
    bool workFileOpen_ = false; // the last conversion left the work file in the player
};

} // namespace nagisora
