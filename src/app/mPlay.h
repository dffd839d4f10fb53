#pragma once

// The preview player `mPlay`: a small bar of two buttons, Play (a black right-pointing triangle) and Stop (a
// black square), over a MediaLayer that it uses but does not own.
//
// How the window uses it:
//   auto* mPlay = new TMediaPlayer(layer, this);          // no file open, both buttons unavailable
//   mPlay->setGeometry(114, 357, 57, 21);                 // 57 x 21 at 96 dpi; the drawing follows the size
//   mPlay->SetClickHandler(...);                          // mPlayClick: runs first on every button press
//   mPlay->SetErrorReporter(...);                         // where a Failure of a click goes
//   mPlay->SetFileName(path); mPlay->Open();              // Open throws Failure; the caller reports it
//   mPlay->Mode() == MediaMode::Stopped                   // what timStopTimer asks
//
// A click on an available button runs: the click handler (button code, doDefault preset to true); then, when
// doDefault is still true, the button's action (Play or Stop); then, when that left LastError() at 0 and a
// file is open, the update of the available buttons. A Failure thrown on the way ends the click and goes to
// the error reporter, so no exception reaches Qt's event loop. An unavailable button shows its symbol greyed
// and ignores clicks. When the layer reports the end of the music (on its audio thread), the player, back on
// the user-interface thread, asks the mode and, when stopped, makes Play available again.
//
// All members are called on the user-interface thread. The layer must outlive every call made to the player;
// the player may be destroyed before or after the layer.

#include "failure.h"

#include <QWidget>
#include <bitset>
#include <functional>
#include <memory>
#include <string>

namespace nagisora {

class MediaLayer;

// The button codes passed to the click handler. Only Play and Stop are shown.
namespace MPButton {
inline constexpr int Play = 0;
inline constexpr int Pause = 1;
inline constexpr int Stop = 2;
inline constexpr int Next = 3;
inline constexpr int Prev = 4;
inline constexpr int Step = 5;
inline constexpr int Back = 6;
inline constexpr int Record = 7;
inline constexpr int Eject = 8;
inline constexpr int Count = 9;
} // namespace MPButton

using MPButtonSet = std::bitset<MPButton::Count>;

class TMediaPlayer : public QWidget {
    Q_OBJECT

  public:
    // mPlayClick: the player, the button code and the flag asking for the button's own action.
    using ClickHandler = std::function<void(TMediaPlayer& player, int button, bool& doDefault)>;
    // Receives a Failure that ends a click (the application's default handler).
    using ErrorReporter = std::function<void(const Failure& failure)>;

    explicit TMediaPlayer(MediaLayer& layer, QWidget* parent = nullptr);
    ~TMediaPlayer() override;

    void SetClickHandler(ClickHandler handler);
    void SetErrorReporter(ErrorReporter reporter);

    // The file the next Open opens (a UTF-8 path); empty at start.
    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string fileName);

    // Closes the open file, then opens FileName(). On success the file is open, the capabilities are read and
    // Play becomes available (Stop does not). On failure no file is open, no button is available and the
    // layer's Failure is thrown.
    void Open();
    // Starts playback and returns at once. No file open: throws Failure "MCI ﾃﾞﾊﾞｲｽがありません"; a refusal
    // of the layer only sets LastError().
    void Play();
    // Stops playback. No file open: throws like Play; a refusal only sets LastError().
    void Stop();
    // Closes the open file: no file open, no button available. Does nothing when no file is open.
    void Close();
    // The layer's mode (MediaMode in media_layer.h); Stopped when no file is open.
    int Mode();

    // The open flag.
    bool IsOpen() const { return open_; }
    // Device capabilities, learnt at each open.
    bool CanPlay() const { return canPlay_; }
    bool CanRecord() const { return false; }
    bool CanStep() const { return false; }
    bool CanEject() const { return false; }
    // The layer's code for the last command, 0 for success.
    int LastError() const { return lastError_; }

    // The available buttons: only these can be clicked.
    MPButtonSet AvailableButtons() const { return available_; }
    bool IsAvailable(int button) const;

    // A click on the button, as a mouse press and release over it makes one. Ignored when the button is not
    // available.
    void Click(int button);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    struct Relay;

    // The shown button under a point, or -1.
    int ButtonAt(QPoint point) const;
    QRect ButtonRect(int button) const;
    void DrawButton(QPainter& painter, int button) const;
    void SetAvailable(MPButtonSet available);
    void AfterAction(int button);
    void OnEndOfMusic();
    void Report(const Failure& failure) const;

    MediaLayer& layer_;
    std::shared_ptr<Relay> relay_;
    ClickHandler clickHandler_;
    ErrorReporter errorReporter_;
    std::string fileName_;
    bool open_ = false;
    bool canPlay_ = false;
    int lastError_ = 0;
    MPButtonSet available_;
    int pressed_ = -1;       // the button the mouse went down on
    bool pressedIn_ = false; // whether the mouse is still over it
};

} // namespace nagisora
