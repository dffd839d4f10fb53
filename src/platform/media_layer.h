#pragma once

// The media layer of the preview player: plays a Standard MIDI File through FluidSynth with the operations
// the player needs (open, play, stop, close, mode), as a sequencer device would. No Qt.
//
// Threads. Every member function is called from one thread, the user-interface thread. FluidSynth renders and
// plays on an audio thread of its own; the end notification is called from that thread (see
// SetEndNotification). The SoundFont is loaded on a thread of the layer's own, started by the constructor, so
// that making the layer costs nothing; the first Open waits for it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nagisora {

// The modes the layer reports: a sequencer's mode numbers less 524. The layer itself reports only Stopped and
// Playing.
namespace MediaMode {
inline constexpr int NotReady = 0;
inline constexpr int Stopped = 1;
inline constexpr int Playing = 2;
inline constexpr int Recording = 3;
inline constexpr int Seeking = 4;
inline constexpr int Paused = 5;
inline constexpr int Open = 6;
} // namespace MediaMode

struct MediaOptions {
    // FluidSynth audio drivers, tried in this order at each open; the first that opens plays the file.
    std::vector<std::string> audioDrivers = DefaultAudioDrivers();
    // When not empty, playback goes in real time to this WAV file through FluidSynth's "file" driver instead
    // of a device; each open starts the file anew. For running without a sound card (tests).
    std::string outputFile;
    // The SoundFont to load; empty: the first General MIDI SoundFont found under /usr/share/sounds/sf2.
    std::string soundFont;

    // PulseAudio (which PipeWire also serves), then ALSA, then the others.
    static std::vector<std::string> DefaultAudioDrivers();
    // Plays into the WAV file in real time, without a device.
    static MediaOptions ToWavFile(std::string path);
};

class MediaLayer {
  public:
    // Called once when a playback reaches the end of the music (not after Stop). Runs on FluidSynth's audio
    // thread (or, when the sequencer gives up on a file early, inside Mode()): it must return quickly and
    // must not call the layer; post an event to the user-interface thread instead.
    using EndNotification = std::function<void()>;

    // Starts loading the SoundFont in the background and returns at once.
    explicit MediaLayer(MediaOptions options = {});
    // Closes the file (which stops playback) and releases FluidSynth.
    ~MediaLayer();
    MediaLayer(const MediaLayer&) = delete;
    MediaLayer& operator=(const MediaLayer&) = delete;

    // Closes the open file, if any, then opens the file at path (UTF-8) and an audio device for it.
    // Afterwards the mode is Stopped at the start of the music. The file is read once here: later changes to
    // it take effect at the next open. Throws Failure with the layer's code and text (media_errors.h): the
    // file is missing or unreadable or no MIDI file, the SoundFont cannot be loaded, no audio device opens.
    // After a failure no file is open.
    void Open(const std::string& path);

    // Starts playback and returns at once. When the position stands at the end of the music, playback starts
    // again from the beginning; after Stop it goes on where it stopped. Playing while playing does nothing.
    // No file open: throws Failure(MediaCode::NoDeviceOpen, "MCI ﾃﾞﾊﾞｲｽがありません"). A refusal of the
    // sequencer sets LastError() and throws nothing.
    void Play();

    // Stops playback; the position stays where it stopped and sounding notes are released. No file open:
    // throws like Play. A refusal sets LastError().
    void Stop();

    // Closes the open file and its device, cutting off any sound. Does nothing when no file is open.
    void Close();

    // The current mode: Playing from Play until the end of the music (its last tick plus a short release,
    // well under 300 ms) or until Stop; Stopped otherwise, also when no file is open.
    int Mode();

    bool IsOpen() const;
    // Whether the open device can play: true while a file is open.
    bool CanPlay() const;
    // The layer's code for the last command: 0 after success, else a MediaCode.
    int LastError() const;

    // The length of the open file's music in ticks, and the position of playback in ticks (0 to Length()).
    std::int64_t Length() const;
    std::int64_t Position() const;

    // Replaces the end notification; an empty function removes it. Safe against a notification in progress:
    // when this returns, the old function is no longer running and will not be called again.
    void SetEndNotification(EndNotification notification);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace nagisora
