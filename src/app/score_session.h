#pragma once

// The score session: what the features of the main window share, so that none of them reaches into the
// window. It gives access to the score (the model and the score area), the settings of the next conversion
// with a signal when they change, the reporting of failures, the file dialogs, the preview player (a part of
// the score played, ▶ and ■, the position heard, a signal at the end of the music), the program's folder
// and the SoundFont, and the edits that no file has. The window builds its controls, makes the session and
// hands it to each feature; the commands that stay with the window's controls (the settings' controls,
// "MIDI 作成", "楽譜保存", ▶ of a part) reach the session as the window's hooks.

#include "app/file_dialog.h"
#include "app/message_box.h"
#include "core/conversion.h"
#include "platform/media_layer.h"

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace nagisora {

class ScoreModel;
class MediaPlayer;
class ScoreArea;
class UnsavedEdits;

// What the session asks of the window: the commands that stay with its controls.
struct WindowHooks {
    std::function<ConversionSettings()> settings;               // as the controls hold them
    std::function<void(const ConversionSettings&)> setSettings; // sets the controls
    std::function<void(const QString& fileName)> openScore;     // as "楽譜読込" opens a file
    std::function<void()> convert;                              // "MIDI 作成"
    std::function<void()> saveScore;                            // "楽譜保存"
    std::function<std::span<const NoteEvent>()> workEvents;     // of the last "MIDI 作成"
    std::function<void(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks)> playPart;
};

// What the session takes from the program's options.
struct SessionOptions {
    std::optional<std::string> appDir; // ending in "/"; none: the program's folder or the user's data folder
    ErrorReporter reportError;         // empty: a message box
    FileDialogHook fileDialog;         // empty: the common file dialogs
    std::string soundFont;             // empty: the first General MIDI SoundFont found
};

// Files the window has open besides the score, the work file and the SoundFont.
enum class FileInUse { RecoveryCopy, WavBeingWritten };

class ScoreSession : public QObject {
    Q_OBJECT

  public:
    // The session of the window's score area, played through the player; owned by the window. Makes the
    // program's folder (a failure is reported) and the model of the area's text.
    ScoreSession(QWidget& window, ScoreArea& area, MediaPlayer& player, MediaLayer& media,
                 SessionOptions options, WindowHooks hooks);
    ~ScoreSession() override;

    // The main window: the parent of the features' windows, dialogs and commands.
    QWidget& Window() const { return window_; }
    ScoreModel& Model() const { return *model_; }
    ScoreArea& Area() const { return area_; }
    UnsavedEdits& Edits() const { return *edits_; }

    // The settings of the next conversion, and setting them as an import does.
    ConversionSettings Settings() const;
    void SetSettings(const ConversionSettings& settings);

    // Shows a failure in a message box over the window (or gives it to the reporter that stands in for it).
    void ReportFailure(const Failure& failure);
    // The common file dialog, or the hook that stands in for it.
    std::optional<QString> ChooseFile(const FileDialogRequest& request);
    // The file an export is to be written to: chosen in a save dialog that starts in the folder of the last
    // choice (or the program's folder), never a file the window has open (else Failure), and an existing
    // file only when the user agrees to replace it; none when cancelled. fileName is the last one chosen,
    // proposed again, and becomes the new choice.
    std::optional<QString> ChooseTarget(const QString& filter, const QString& suffix, QString& fileName);
    // Names a file the window keeps open (empty: none), which no export may write over.
    void SetFileInUse(FileInUse use, std::string path);

    // Opens a score file as "楽譜読込" does; a MIDI or MusicXML file is imported.
    void OpenScore(const QString& fileName);
    // The lines, each followed by a line break, take the place of the whole text in one step that the user
    // can undo.
    void ReplaceScore(std::span<const std::string_view> lines);
    // "MIDI 作成" and "楽譜保存", as their buttons run them.
    void Convert();
    void SaveScore();

    // The program's folder ("config" and the work file are in it), ending in "/".
    const std::string& AppDir() const { return appDir_; }
    // AppDir + "config/work.mid", the file every conversion writes and ▶ plays.
    std::string WorkFilePath() const;
    // The SoundFont of the preview and of the WAV files; empty: the first General MIDI SoundFont found.
    const std::string& SoundFont() const { return options_.soundFont; }

    // The events of the last "MIDI 作成", as the work file plays them.
    std::span<const NoteEvent> WorkEvents() const;
    // Plays an image made from part of the score, as ▶ plays the work file, with the metronome's clicks.
    void PlayPart(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks = {});
    // Presses ▶ as the user does; first "MIDI 作成" when there is no music to play.
    void PlayWork();
    // Presses ■ when the music plays.
    void Stop();
    // Where the music is heard now, and whether it still plays.
    HeardPosition Heard() const;
    MediaMode Mode() const;
    // The preview's media layer, for how it plays (speed, metronome) and whether it has an output.
    MediaLayer& Media() const { return media_; }

  signals:
    // A setting of the next conversion changed: tempo, transposition, volume, instrument or the timbres.
    void settingsChanged();
    // The music of ▶ or of a part came to its end, or could not sound.
    void musicEnded();
    // A score file was loaded or saved (its full name as given).
    void ScoreFileUsed(const QString& fileName);
    // The whole text was replaced: loaded, imported or cleared.
    void ScoreReplaced();
    // "MIDI 作成" made the work file anew (WorkEvents() are its events).
    void Converted();
    // ▶ has opened the work file and plays it from its start.
    void WorkFilePlaying();

  private:
    std::vector<std::pair<std::string, QString>> OpenFiles() const;
    void RefuseOpenFile(const QString& fileName) const;

    QWidget& window_;
    ScoreArea& area_;
    MediaPlayer& player_;
    MediaLayer& media_;
    SessionOptions options_;
    WindowHooks hooks_;
    std::string appDir_;
    ScoreModel* model_;
    UnsavedEdits* edits_ = nullptr;
    std::array<std::string, 2> filesInUse_; // by FileInUse
};

} // namespace nagisora
