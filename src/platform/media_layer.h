#pragma once

// The media layer of the preview player: plays Standard MIDI Files through FluidSynth with the operations the
// player needs (open, play, stop, close, mode), as a sequencer device would. No Qt.
//
// One synthesizer and one audio output serve every file. The SoundFont is loaded on a thread of the layer's
// own, started by the constructor, so that making the layer costs nothing. Opening a file reads and checks it
// and touches no device: a program that converts without a sound device converts all the same. The audio
// output is opened by OpenOutput (or the first Play) and kept from then on, so that each later Play only
// swaps in the music and starts it: no device open and no SoundFont load stands between a click and the
// sound. An output that has had nothing to play for a minute stops asking for audio until the next Play
// (PulseAudio); CloseOutput and the destructor close it.
//
// Playing other music than the work file (a part of the score, a selection, a loop): OpenImage takes the
// bytes of a MIDI image from memory, and Play(Repeat::UntilStop) repeats the music until Stop. Both go
// through the same synthesizer and output, so they start as fast as ▶:
//
//   layer.OpenImage(MidiImageOf(selectedEvents, settings)); // replaces the open file; no file is written
//   layer.Play(Repeat::UntilStop);                           // no end notification: it plays until Stop
//
// Where the music is: Position() is the tick the synthesizer has reached; Heard() is the tick at the speaker,
// that is the synthesizer's tick less the latency the output reports (what a playing cursor follows). For an
// image made from an event list, EventSoundingAt (event_timeline.h) turns Heard().tick into the index of the
// event sounding:
//
//   if (const HeardPosition heard = layer.Heard(); heard.sounding)
//       cursor = EventSoundingAt(events, heard.tick);   // nothing in the lead-in and after the last event
//
// Playback starts where the music begins for a listener: at the first note event (FirstNoteEventTick in
// media_midi_file.h), after the opening program change. The images of the program begin with a lead-in of 32
// ticks of silence, 178 ms at tempo 90, which the preview does not wait through; ticks keep counting from the
// file's tick 0, so positions are those of the file.
//
// Practice: SetSpeed plays the music slower or faster than its own tempo (ticks, the image and Length() stay
// as they are; Heard() keeps following the music), and a loop may gain speed with each pass. SetClicks mixes
// a metronome into the open music on the General MIDI percussion channel: clicks before the music's first
// note event are a count-in, heard before the music begins; the others sound with it.
//
//   layer.SetSpeed(PlaybackSpeed{80});                         // 80 % of the music's tempo
//   layer.OpenImage(image);
//   layer.SetClicks({{-64, true}, {-32, false}, {32, true}}); // a count-in of two beats, then the first beat
//   layer.Play();
//
// Threads. Every member function is called from one thread, the user-interface thread. The audio is rendered
// on the output's thread; the end notification is called from there (see SetEndNotification).

#include "platform/media_errors.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

// The modes the layer reports: a sequencer's mode numbers less 524.
enum class MediaMode : int {
    Stopped = 1,
    Playing = 2,
};

// Whether Play stops at the end of the music or goes back to where the music begins and plays on.
enum class Repeat {
    Once,
    UntilStop,
};

struct MediaOptions {
    // The outputs tried in this order when the audio output opens; the first that opens plays everything from
    // then on. "pulseaudio" is the layer's own PulseAudio stream (PipeWire serves it too), "file" writes the
    // WAV file outputFile, any other name is a FluidSynth driver ("alsa", "jack", "oss").
    std::vector<std::string> audioDrivers = DefaultAudioDrivers();
    // The WAV file of the "file" output: audio goes there in real time, as a device would take it; each
    // opening of the output starts the file anew, and it is complete once the output is closed.
    std::string outputFile;
    // The SoundFont to load; empty: the first General MIDI SoundFont found under /usr/share/sounds/sf2.
    std::string soundFont;
    // The latency asked of PulseAudio: how much audio it keeps queued ahead of the speaker, in steps of a
    // quarter of it. Enough for its main thread to be late on a busy machine without the sound breaking up
    // (20 ms broke up dozens of times a minute beside two busy programs on two cores; 80 ms did not). A start
    // or a stop is heard at once all the same: it replaces the audio queued.
    std::chrono::milliseconds targetLatency{80};
    // The latency asked of PulseAudio instead once the output's thread has been refused a real-time priority
    // (neither SCHED_FIFO nor RealtimeKit granted it): a thread that waits behind busy programs for its turn
    // needs more audio queued to bridge the wait.
    std::chrono::milliseconds latencyWithoutRealtime{200};

    // PulseAudio (which PipeWire also serves), then ALSA, then the others.
    static std::vector<std::string> DefaultAudioDrivers();
    // Plays into the WAV file in real time, without a device.
    static MediaOptions ToWavFile(std::string path);
};

// The music at the speaker.
struct HeardPosition {
    bool sounding = false; // whether the open music is being heard; false before it starts (a count-in too)
                           // and after it ends
    std::int64_t tick = 0; // the tick of the open music being heard, counted from the file's tick 0
    double seconds = 0.0;  // the same as the time from the file's tick 0 at the music's own tempo, tempo
                           // changes included
    double speed = 1.0;    // how fast it is heard against that tempo: seconds pass 1 / speed times as slowly
};

// The range of a practice speed, in percent of the music's own tempo.
inline constexpr int MinSpeedPercent = 25;
inline constexpr int MaxSpeedPercent = 200;

// How fast the preview plays the music against its own tempo.
struct PlaybackSpeed {
    int percent = 100; // MinSpeedPercent to MaxSpeedPercent
    // The loop ladder: a playback that repeats plays its first pass at ladderFrom percent and each further
    // pass ladderStep percent faster, up to percent. A step of 0, or a start at or above percent: every pass
    // at percent.
    int ladderFrom = 100;
    int ladderStep = 0;

    // The percent of a pass (from 0) of a playback.
    int PercentOfPass(std::int64_t pass, Repeat repeat) const;
    bool operator==(const PlaybackSpeed&) const = default;
};

// A click of the preview's metronome: heard with the music, never written into an image or a file.
struct MetronomeClick {
    std::int64_t tick = 0; // of the open music; before its first note event: part of the count-in
    bool accent = false;   // the first beat of a measure
    bool operator==(const MetronomeClick&) const = default;
};

// The percussion sounds of the clicks (General MIDI channel 10, counted from 1): a high and a low wood block.
inline constexpr int ClickChannel = 9;
inline constexpr int AccentClickKey = 76;
inline constexpr int ClickKey = 77;

class MediaLayer {
  public:
    // Called once when a playback has reached the end of the music and its last sound has been heard (not
    // after Stop, and never while repeating). Runs on the audio thread: it must return quickly and must not
    // call the layer; post an event to the user-interface thread instead.
    using EndNotification = std::function<void()>;

    // Starts loading the SoundFont in the background and returns at once.
    explicit MediaLayer(MediaOptions options = {});
    // Closes the output (which ends any sound) and releases FluidSynth.
    ~MediaLayer();
    MediaLayer(const MediaLayer&) = delete;
    MediaLayer& operator=(const MediaLayer&) = delete;

    // Closes the open file, if any, then reads and checks the file at path (UTF-8) and makes it ready to
    // play; touches no device and does not wait for the SoundFont. Afterwards the mode is Stopped where the
    // music begins. The file is read once here: later changes to it take effect at the next open. Throws
    // Failure with the layer's code and text (media_errors.h): the file is missing or unreadable, or no MIDI
    // file. After a failure no file is open.
    void Open(const std::string& path);

    // Open for the bytes of a MIDI image in memory.
    void OpenImage(std::string_view image);

    // Opens the audio output unless it is open: waits for the SoundFont, then tries the drivers. A SoundFont
    // still loading after five seconds fails this call (a later one waits again); the layer's end waits for
    // it at most two seconds and leaves the rest to the loading thread. Throws Failure:
    // MediaCode::NoSoundFont naming the SoundFont, MediaCode::NoAudioDevice with each driver's reason; either
    // message begins with NoSoundSubject ("音を出せません: "). Later calls find the output open and return at
    // once; an output whose server went away is opened anew.
    void OpenOutput();
    // Closes the audio output, cutting off any sound; the open file stays open. Nothing when it is closed.
    void CloseOutput();
    bool IsOutputOpen() const;

    // Starts playback and returns at once; opens the output first when it is not open (throwing as
    // OpenOutput). When the position stands at the end of the music, playback starts again where the music
    // begins; after Stop it goes on where it stopped. Playing while playing does nothing. No file open:
    // throws Failure::Media(MediaCode::NoDeviceOpen), "MCI ﾃﾞﾊﾞｲｽがありません".
    void Play(Repeat repeat = Repeat::Once);

    // Stops playback at once; the position stays where it stopped and sounding notes are released. No file
    // open: throws like Play.
    void Stop();

    // Closes the open file, cutting off any sound of it. Does nothing when no file is open.
    void Close();

    // Playing from Play until the end of the music has been heard (the last tick at the speaker plus a short
    // release, well under 300 ms) or until Stop; Stopped otherwise, also when no file is open.
    MediaMode Mode() const;

    bool IsOpen() const;
    // Whether the open file can be played: true while a file is open.
    bool CanPlay() const;
    // The layer's code for the last command: None after success.
    MediaCode LastError() const;

    // The length of the open file's music in ticks, and the tick the synthesizer has reached (0 to Length()).
    std::int64_t Length() const;
    std::int64_t Position() const;
    // The tick being heard: Position() less the output's reported latency.
    HeardPosition Heard() const;
    // The output's latency as it last reported it; zero while no output is open.
    std::chrono::microseconds OutputLatency() const;

    // How fast Play plays from now on; a playback under way changes its speed at once. Out-of-range percents
    // are taken as the nearest in range.
    void SetSpeed(PlaybackSpeed speed);
    PlaybackSpeed Speed() const;

    // The metronome clicks of the open music, in any order; heard from its next start where the music begins
    // (from the count-in, when there is one). A playback that repeats plays the count-in once, before its
    // first pass. Clicks at or after the music's last tick are dropped. Open, OpenImage and Close remove
    // them. Nothing when no file is open.
    void SetClicks(std::vector<MetronomeClick> clicks);

    // Replaces the end notification; an empty function removes it. Safe against a notification in progress:
    // when this returns, the old function is no longer running and will not be called again.
    void SetEndNotification(EndNotification notification);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace nagisora
