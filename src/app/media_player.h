#pragma once

// The preview player `mPlay`: a small bar of two buttons, Play (a black right-pointing triangle) and Stop (a
// black square), over a MediaLayer that it uses but does not own.
//
// How the window uses it (the widget itself comes from the window's .ui form, 57 x 21 at 96 dpi; the drawing
// follows the size):
//   mPlay->SetLayer(layer);                               // before any other call; no file open, no button
//   mPlay->SetClickHandler(...);                          // PlayerButtonPressed: runs first on every button
//   press mPlay->SetErrorReporter(...);                         // where a Failure of a click goes
//   connect(mPlay, &MediaPlayer::musicEnded, ...);       // the music has played to its end
//   mPlay->SetFileName(path); mPlay->OpenImage(image);    // the conversion's open: no sound device needed
//   mPlay->SetFileName(path); mPlay->OpenImageForPlay(image); // the open of a Play press: also the output
// (Open and OpenForPlay do the same with the file FileName() names.)
//
// A click on an available button runs: the click handler (button code); then the button's action (Play or
// Stop); then, when that left LastError() at 0 and a file is open, the update of the available buttons. A
// Failure thrown on the way ends the click and goes to the error reporter, so no exception reaches Qt's event
// loop. An unavailable button shows its symbol greyed and ignores clicks. When the layer reports the end of
// the music (on its audio thread), the player, back on the user-interface thread, asks the mode and, when
// stopped, makes Play available again and emits musicEnded.
//
// The layer alone knows whether a file is open and whether it plays: IsOpen() and Mode() ask it.
//
// All members are called on the user-interface thread. The layer must outlive every call made to the player;
// the player may be destroyed before or after the layer. A player without a layer has no file open and
// refuses to open one.

#include "core/failure.h"
#include "platform/media_layer.h"

#include <QWidget>
#include <bitset>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// The button codes passed to the click handler: the two shown buttons.
enum class PlayerButton : int {
    Play = 0,
    Stop = 2,
};

// A set of buttons, indexed by their codes.
inline constexpr std::size_t MPButtonCount = 3;

using MPButtonSet = std::bitset<MPButtonCount>;

class MediaPlayer : public QWidget {
    Q_OBJECT

  public:
    // PlayerButtonPressed: the player and the button code; the button's own action follows it.
    using ClickHandler = std::function<void(MediaPlayer& player, PlayerButton button)>;
    // Receives a Failure that ends a click (the application's default handler).
    using ErrorReporter = std::function<void(const Failure& failure)>;

    explicit MediaPlayer(QWidget* parent = nullptr);
    ~MediaPlayer() override;

    // The layer the player plays through; set once.
    void SetLayer(MediaLayer& layer);

    void SetClickHandler(ClickHandler handler);
    void SetErrorReporter(ErrorReporter reporter);

    // The file the next Open opens (a UTF-8 path); empty at start.
    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string fileName);

    // Closes the open file, then opens FileName(): reads and checks it, without touching the audio output.
    // On success the file is open, the capabilities are read and Play becomes available (Stop does not). On
    // failure no file is open, no button is available and the layer's Failure is thrown.
    void Open();
    // Open for the bytes of a MIDI image in memory in place of the file FileName() names (the window's own
    // image, whatever another window has written to the work file since).
    void OpenImage(std::string_view image);
    // Open, then the layer's audio output (MediaLayer::OpenOutput), which stays open from the first time on.
    // A failure of either leaves no file open and no button available and throws the layer's Failure, whose
    // message says why no sound can be made.
    void OpenForPlay();
    // OpenForPlay for an image in memory, as OpenImage.
    void OpenImageForPlay(std::string_view image);
    // Starts playback and returns at once. No file open: throws Failure "MCI ﾃﾞﾊﾞｲｽがありません"; a refusal
    // of the layer only sets LastError().
    void Play();
    // Plays a MIDI image from memory in place of FileName() (a part of the score, a selection, a loop that
    // repeats until Stop): opens it and the output as OpenForPlay opens the file, plays it, and makes the
    // buttons what they are after Play. The next open opens FileName() again. A failure throws the layer's
    // Failure and leaves no file open and no button available. The metronome's clicks, if any, sound with it
    // (MediaLayer::SetClicks).
    void PlayImage(std::string_view image, Repeat repeat = Repeat::Once,
                   std::vector<MetronomeClick> clicks = {});
    // Stops playback. No file open: throws like Play; a refusal only sets LastError().
    void Stop();
    // Closes the open file: no file open, no button available. Does nothing when no file is open.
    void Close();
    // The layer's mode; Stopped when no file is open.
    MediaMode Mode() const;

    // Whether a file is open in the layer.
    bool IsOpen() const;
    // Whether the open file can be played.
    bool CanPlay() const;
    // The layer's code for the last command, None for success.
    MediaCode LastError() const { return lastError_; }

    // The available buttons: only these can be clicked.
    MPButtonSet AvailableButtons() const { return available_; }
    bool IsAvailable(PlayerButton button) const;

    // A click on the button, as a mouse press and release over it makes one. Ignored when the button is not
    // available.
    void Click(PlayerButton button);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    // A playback has reached the end of the music and its last sound has been heard; the player is stopped
    // and Play available again. Emitted once per playback, on the user-interface thread; never after Stop,
    // never for music that repeats until Stop.
    void musicEnded();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    struct Relay;

    // The shown button under a point.
    std::optional<PlayerButton> ButtonAt(QPoint point) const;
    QRect ButtonRect(PlayerButton button) const;
    void DrawButton(QPainter& painter, PlayerButton button) const;
    void SetAvailable(MPButtonSet available);
    void AfterAction(PlayerButton button);
    void OnEndOfMusic();
    void ForgetFile(MediaCode error);
    template <class OpenMusic>
    void OpenWith(OpenMusic&& open);
    void OpenOutputOrForget();
    MediaLayer& Layer() const;
    void Report(const Failure& failure) const;

    MediaLayer* layer_ = nullptr;
    std::shared_ptr<Relay> relay_;
    ClickHandler clickHandler_;
    ErrorReporter errorReporter_;
    std::string fileName_;
    MediaCode lastError_ = MediaCode::None;
    MPButtonSet available_;
    std::optional<PlayerButton> pressed_; // the button the mouse went down on
    bool pressedIn_ = false;              // whether the mouse is still over it
};

} // namespace nagisora
