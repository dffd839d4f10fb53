#include "media_layer.h"

#include "failure.h"
#include "media_errors.h"
#include "media_midi_file.h"
#include "media_synth.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

namespace nagisora {
namespace {

// How long after its last tick the music counts as ended: the release of the last note. FluidSynth's own
// player reports its end only two seconds after the last voice has died away.
constexpr double ReleaseMilliseconds = 100.0;

constexpr int SilenceBlockFrames = 256;

constexpr int ControlChange = 0xB0;
constexpr int AllSoundOff = 120;

// The "file" driver writes one period per timer tick of whole milliseconds: 441 frames are exactly 10 ms,
// which keeps its output in real time.
constexpr int FileDriverPeriodFrames = media::SampleRate / 100;

// FluidSynth's PulseAudio driver asks the server for a buffer of one period only. At FluidSynth's default
// period of 64 frames (1.5 ms) the stream runs dry many times a second, heard as crackling, and every dry
// spell delays the music further; at 512 frames it still does now and then on a busy machine. A period of
// 1024 frames, 23 ms, buffers as much as the ALSA driver does by default (16 periods of 64). Closing the
// device waits for the period in progress, so an open, which closes the last device first, takes up to that
// much longer.
constexpr int PulseAudioPeriodFrames = 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file; a missing file or a failed read throws the layer's failure.
std::string ReadMidiFile(const std::string& path) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        ThrowMediaError(errno == ENOENT || errno == ENOTDIR ? MediaCode::FileNotFound
                                                            : MediaCode::FileUnreadable);
    std::string bytes;
    char buffer[8192];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes.append(buffer, count);
    if (std::ferror(file.get())) ThrowMediaError(MediaCode::FileUnreadable);
    return bytes;
}

} // namespace

std::vector<std::string> MediaOptions::DefaultAudioDrivers() {
    return {"pulseaudio", "alsa", "jack", "oss"};
}

MediaOptions MediaOptions::ToWavFile(std::string path) {
    MediaOptions options;
    options.audioDrivers = {"file"};
    options.outputFile = std::move(path);
    return options;
}

struct MediaLayer::Impl {
    explicit Impl(MediaOptions opts) : options(std::move(opts)) {
        loader = std::thread([this] { Load(); });
    }

    ~Impl() {
        if (loader.joinable()) loader.join();
        CloseFile();
    }

    // Runs on the loader thread.
    void Load() {
        try {
            synthesizer = media::MakeSynthesizer(options.soundFont);
        } catch (const Failure& failure) {
            loadFailure = failure.Code();
        }
    }

    void WaitForSynthesizer() {
        if (loader.joinable()) loader.join();
        if (loadFailure != MediaCode::None) ThrowMediaError(loadFailure);
    }

    void OpenFile(const std::string& path) {
        WaitForSynthesizer();
        const std::string bytes = ReadMidiFile(path);
        const std::optional<MidiFileFacts> facts = ReadMidiFileFacts(bytes);
        if (!facts) ThrowMediaError(MediaCode::NotMidiFile);

        // No driver runs at this point, so the synthesizer may be silenced and the player made without locks.
        Silence(synthesizer.synth.get());
        media::PlayerHandle newPlayer = media::MakePlayer(synthesizer.synth.get(), bytes);
        fluid_player_set_tick_callback(newPlayer.get(), &Impl::OnTick, this);
        fluid_player_set_playback_callback(newPlayer.get(), &Impl::OnEvent, this);
        totalTicks = facts->totalTicks;
        division = facts->division;
        mode.store(MediaMode::Stopped);
        player = std::move(newPlayer);
        driver = OpenDriver();
        if (!driver) ThrowMediaError(MediaCode::NoAudioDevice);
    }

    // Ends what still sounds from the last file (a release tail, the reverb) and resets the channels, so that
    // the next file starts from silence. A reset alone leaves released notes sounding; the voices killed go
    // quiet over a few samples, which one discarded block takes up.
    static void Silence(fluid_synth_t* synth) {
        fluid_synth_system_reset(synth);
        fluid_synth_all_sounds_off(synth, -1);
        std::array<std::int16_t, SilenceBlockFrames * 2> discarded{};
        fluid_synth_write_s16(synth, SilenceBlockFrames, discarded.data(), 0, 2, discarded.data(), 1, 2);
    }

    media::DriverHandle OpenDriver() {
        fluid_settings_t* settings = synthesizer.settings.get();
        if (!options.outputFile.empty()) {
            fluid_settings_setstr(settings, "audio.file.name", options.outputFile.c_str());
            fluid_settings_setstr(settings, "audio.file.type", "wav");
            fluid_settings_setint(settings, "audio.period-size", FileDriverPeriodFrames);
        }
        for (const std::string& name : options.audioDrivers) {
            fluid_settings_setstr(settings, "audio.driver", name.c_str());
            if (options.outputFile.empty())
                fluid_settings_setint(settings, "audio.period-size", DevicePeriodFrames(settings, name));
            media::DriverHandle opened(new_fluid_audio_driver(settings, synthesizer.synth.get()));
            if (opened) return opened;
        }
        return nullptr;
    }

    // The period of a device driver: longer for PulseAudio, FluidSynth's own for the others.
    static int DevicePeriodFrames(fluid_settings_t* settings, const std::string& driver) {
        if (driver == "pulseaudio") return PulseAudioPeriodFrames;
        int frames = 0;
        fluid_settings_getint_default(settings, "audio.period-size", &frames);
        return frames;
    }

    // The driver goes first: the player may only be deleted while nothing renders.
    void CloseFile() {
        driver.reset();
        player.reset();
        mode.store(MediaMode::Stopped);
        totalTicks = 0;
    }

    void RequireOpen() const {
        if (!player) ThrowMediaError(MediaCode::NoDeviceOpen);
    }

    std::int64_t CurrentTick() const { return player ? fluid_player_get_current_tick(player.get()) : 0; }

    void StartPlayback() {
        RequireOpen();
        lastError = MediaCode::None;
        if (mode.load() == MediaMode::Playing) return;
        if (CurrentTick() >= totalTicks && !Rewind()) return;
        mode.store(MediaMode::Playing);
        if (fluid_player_play(player.get()) != FLUID_OK) {
            mode.store(MediaMode::Stopped);
            lastError = MediaCode::DeviceRefused;
        }
    }

    // After the end of the music FluidSynth's player still counts itself playing for a while (it waits for
    // the voices to die away, and two seconds more); it is stopped first, so that the play that follows
    // starts afresh from the beginning.
    bool Rewind() {
        fluid_player_stop(player.get());
        if (fluid_player_seek(player.get(), 0) == FLUID_OK) return true;
        lastError = MediaCode::DeviceRefused;
        return false;
    }

    void StopPlayback() {
        RequireOpen();
        lastError = MediaCode::None;
        mode.store(MediaMode::Stopped);
        if (fluid_player_stop(player.get()) != FLUID_OK) lastError = MediaCode::DeviceRefused;
    }

    int CurrentMode() {
        // The sequencer gave up before the end was seen (it could not read the file after all): the music is
        // over all the same.
        if (player && fluid_player_get_status(player.get()) == FLUID_PLAYER_DONE) FinishMusic();
        return mode.load();
    }

    // The last tick of the music plus the release, at the tempo now in force.
    std::int64_t EndTick() const {
        const int microsecondsPerQuarter = fluid_player_get_midi_tempo(player.get());
        const double releaseTicks = microsecondsPerQuarter > 0
                                        ? ReleaseMilliseconds * 1000.0 * division / microsecondsPerQuarter
                                        : 0.0;
        return totalTicks + static_cast<std::int64_t>(std::ceil(releaseTicks));
    }

    // Runs on the audio thread at every new tick of the player.
    static int OnTick(void* data, int tick) {
        auto& impl = *static_cast<Impl*>(data);
        if (tick >= impl.EndTick()) impl.FinishMusic();
        return FLUID_OK;
    }

    // Runs on the audio thread for every event the player sends to the synthesizer. When stopped, the player
    // silences the channels it played on with "all sound off", which cuts the sound dead; the notes are
    // released instead, as a sequencer's stop does. While playing, the file's own events pass unchanged.
    static int OnEvent(void* data, fluid_midi_event_t* event) {
        auto& impl = *static_cast<Impl*>(data);
        fluid_synth_t* const synth = impl.synthesizer.synth.get();
        if (impl.mode.load() != MediaMode::Playing && fluid_midi_event_get_type(event) == ControlChange &&
            fluid_midi_event_get_control(event) == AllSoundOff)
            return fluid_synth_all_notes_off(synth, fluid_midi_event_get_channel(event));
        return fluid_synth_handle_midi_event(synth, event);
    }

    // Ends a playback that reached the end: the first caller wins, so the notification comes once. The player
    // is left running, so that the last notes ring out.
    void FinishMusic() {
        int playing = MediaMode::Playing;
        if (!mode.compare_exchange_strong(playing, MediaMode::Stopped)) return;
        std::lock_guard lock(notificationMutex);
        if (notification) notification();
    }

    MediaOptions options;
    int loadFailure = MediaCode::None;
    // Declared in this order so that they are destroyed driver, player, synthesizer, settings.
    media::Synthesizer synthesizer;
    media::PlayerHandle player;
    media::DriverHandle driver;

    std::int64_t totalTicks = 0;
    std::int32_t division = 0;
    std::atomic<int> mode{MediaMode::Stopped};
    int lastError = MediaCode::None;

    std::mutex notificationMutex;
    EndNotification notification;

    std::thread loader; // last: started when everything it touches exists
};

MediaLayer::MediaLayer(MediaOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

MediaLayer::~MediaLayer() = default;

void MediaLayer::Open(const std::string& path) {
    Close();
    try {
        impl_->OpenFile(path);
    } catch (const Failure& failure) {
        impl_->CloseFile();
        impl_->lastError = failure.Code();
        throw;
    }
}

void MediaLayer::Play() {
    impl_->StartPlayback();
}

void MediaLayer::Stop() {
    impl_->StopPlayback();
}

void MediaLayer::Close() {
    impl_->lastError = MediaCode::None;
    impl_->CloseFile();
}

int MediaLayer::Mode() {
    return impl_->CurrentMode();
}

bool MediaLayer::IsOpen() const {
    return impl_->player != nullptr;
}

bool MediaLayer::CanPlay() const {
    return IsOpen();
}

int MediaLayer::LastError() const {
    return impl_->lastError;
}

std::int64_t MediaLayer::Length() const {
    return impl_->totalTicks;
}

std::int64_t MediaLayer::Position() const {
    return std::clamp<std::int64_t>(impl_->CurrentTick(), 0, impl_->totalTicks);
}

void MediaLayer::SetEndNotification(EndNotification notification) {
    std::lock_guard lock(impl_->notificationMutex);
    impl_->notification = std::move(notification);
}

} // namespace nagisora
