#include "core/failure.h"
#include "media_test_support.h"
#include "platform/media_errors.h"
#include "platform/media_layer.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace nagisora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::OneNote;
using test::TemporaryFolder;

// The layer plays into a WAV file in real time: no sound card is needed.
class MediaLayerTest : public ::testing::Test {
  protected:
    TemporaryFolder folder;
    MediaLayer layer{MediaOptions::ToWavFile((folder / "out.wav").string())};

    std::string Write(std::string_view name, std::string_view bytes) {
        const std::string path = (folder / name).string();
        test::WriteBytes(path, bytes);
        return path;
    }

    // Polls the mode until it leaves Playing; returns how long that took.
    Clock::duration WaitUntilStopped(Clock::duration limit = 5s) {
        const Clock::time_point start = Clock::now();
        while (layer.Mode() == MediaMode::Playing && Clock::now() - start < limit)
            std::this_thread::sleep_for(2ms);
        return Clock::now() - start;
    }

    // The playback since the output opened, complete once it is closed.
    test::WavContents Output() {
        layer.CloseOutput();
        const std::optional<test::WavContents> wav = test::ReadWav(test::ReadBytes(folder / "out.wav"));
        return wav.value_or(test::WavContents{});
    }
};

// The failure's message, or "" when there was none.
std::string FailureOf(const std::function<void()>& command, MediaCode code) {
    try {
        command();
        ADD_FAILURE() << "no failure, expected code " << static_cast<int>(code);
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.MediaErrorCode(), code);
        return failure.Message();
    }
    return {};
}

void ExpectFailure(const std::function<void()>& command, MediaCode code, const std::string& message) {
    EXPECT_EQ(FailureOf(command, code), message);
}

TEST_F(MediaLayerTest, WithoutFileModeIsStoppedAndPlayStopRefuse) {
    EXPECT_FALSE(layer.IsOpen());
    EXPECT_FALSE(layer.CanPlay());
    EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
    ExpectFailure([&] { layer.Play(); }, MediaCode::NoDeviceOpen, "MCI ﾃﾞﾊﾞｲｽがありません");
    ExpectFailure([&] { layer.Stop(); }, MediaCode::NoDeviceOpen, "MCI ﾃﾞﾊﾞｲｽがありません");
    layer.Close(); // nothing to close: nothing happens
    EXPECT_EQ(layer.LastError(), MediaCode::None);
}

TEST_F(MediaLayerTest, FailedOpenLeavesNoFileWithTheLayersMessage) {
    const std::string note = Write("note.mid", OneNote(60, 48));
    const struct {
        const char* what;
        std::string path;
        MediaCode code;
    } cases[] = {
        {"missing file", (folder / "missing.mid").string(), MediaCode::FileNotFound},
        {"missing folder", (folder / "no" / "work.mid").string(), MediaCode::FileNotFound},
        {"empty name", "", MediaCode::FileNotFound},
        {"a folder", folder.Path().string(), MediaCode::FileUnreadable},
        {"text", Write("score.mid", "MIDI? no, a score"), MediaCode::NotMidiFile},
        {"cut short", Write("short.mid", OneNote(60, 48).substr(0, 30)), MediaCode::NotMidiFile},
        {"empty file", Write("empty.mid", ""), MediaCode::NotMidiFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        layer.Open(note); // a file open before: the failed open leaves none
        ExpectFailure([&] { layer.Open(c.path); }, c.code, MediaErrorText(c.code));
        EXPECT_FALSE(layer.IsOpen());
        EXPECT_EQ(layer.LastError(), c.code);
        EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
        ExpectFailure([&] { layer.Play(); }, MediaCode::NoDeviceOpen, "MCI ﾃﾞﾊﾞｲｽがありません");
    }
}

// Without a sound device or SoundFont the file opens all the same (the conversion needs no sound); the
// output's open fails, once, with "音を出せません: " and the reason, and the file stays open.
TEST(MediaLayerDevices, NoSoundFailsTheOutputNotTheFile) {
    TemporaryFolder folder;
    const std::string note = (folder / "note.mid").string();
    test::WriteBytes(note, OneNote(60, 48));
    ::setenv("PULSE_SERVER", ("unix:" + (folder / "no-server").string()).c_str(), 1);
    MediaOptions noDrivers;
    noDrivers.audioDrivers = {};
    MediaOptions noServer;
    noServer.audioDrivers = {"pulseaudio"};
    MediaOptions noServerOrJack; // a driver's own message ends with a full stop, which the list leaves off
    noServerOrJack.audioDrivers = {"pulseaudio", "jack"};
    MediaOptions unwritableOutput = MediaOptions::ToWavFile((folder / "no" / "out.wav").string());
    MediaOptions noSoundFont = MediaOptions::ToWavFile((folder / "out.wav").string());
    noSoundFont.soundFont = (folder / "none.sf2").string();
    MediaOptions fifoSoundFont = noSoundFont; // its open would wait for a writer for ever
    fifoSoundFont.soundFont = (folder / "fifo.sf2").string();
    ASSERT_EQ(::mkfifo(fifoSoundFont.soundFont.c_str(), 0600), 0);
    const struct {
        const char* what;
        MediaOptions options;
        MediaCode code;
        std::string message;
    } cases[] = {
        {"no driver", noDrivers, MediaCode::NoAudioDevice,
         "音を出せません: サウンド デバイスが使えません (出力先の指定がありません)"},
        {"no sound server", noServer, MediaCode::NoAudioDevice,
         "音を出せません: サウンド デバイスが使えません (pulseaudio: "},
        {"no sound server and no JACK", noServerOrJack, MediaCode::NoAudioDevice,
         "音を出せません: サウンド デバイスが使えません (pulseaudio: "},
        {"output cannot be opened", unwritableOutput, MediaCode::NoAudioDevice,
         "音を出せません: サウンド デバイスが使えません (file: " + (folder / "no" / "out.wav").string()},
        {"no SoundFont", noSoundFont, MediaCode::NoSoundFont,
         "音を出せません: サウンドフォントを読み込めません (" + noSoundFont.soundFont +
             ": ファイルがありません)"},
        {"a FIFO for a SoundFont", fifoSoundFont, MediaCode::NoSoundFont,
         "音を出せません: サウンドフォントを読み込めません (" + fifoSoundFont.soundFont +
             ": 通常のファイルではありません)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MediaLayer layer(c.options);
        layer.Open(note);
        EXPECT_TRUE(layer.IsOpen());
        EXPECT_TRUE(layer.CanPlay());
        const std::function<void()> commands[] = {[&] { layer.OpenOutput(); }, [&] { layer.Play(); }};
        for (const auto& command : commands) {
            const std::string message = FailureOf(command, c.code);
            EXPECT_TRUE(message.starts_with(c.message)) << message;
            EXPECT_EQ(message.find(".;"), std::string::npos) << message;
            EXPECT_FALSE(message.ends_with(".)")) << message;
        }
        EXPECT_EQ(layer.LastError(), c.code);
        EXPECT_FALSE(layer.IsOutputOpen());
        EXPECT_TRUE(layer.IsOpen());
        EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
    }
    ::unsetenv("PULSE_SERVER");
}

TEST(MediaErrorText, UnknownCodesHaveTheGeneralText) {
    EXPECT_EQ(MediaErrorText(MediaCode::NoDeviceOpen), "MCI ﾃﾞﾊﾞｲｽがありません");
    EXPECT_EQ(MediaErrorText(static_cast<MediaCode>(12345)), "原因不明のｴﾗｰ");
    EXPECT_EQ(MediaErrorText(MediaCode::None), "原因不明のｴﾗｰ");
    for (const MediaCode code : {MediaCode::NoAudioDevice, MediaCode::FileNotFound, MediaCode::NotMidiFile}) {
        const std::string text = MediaErrorText(code);
        EXPECT_NE(text, "原因不明のｴﾗｰ");
        EXPECT_FALSE(text.ends_with("。")) << "the message box adds the full stop";
    }
}

TEST_F(MediaLayerTest, PlaysToTheEndAndReportsStoppedSoonAfterTheLastNote) {
    std::atomic<int> notifications{0};
    layer.SetEndNotification([&] { ++notifications; });
    layer.Open(Write("note.mid", OneNote(69, 96))); // half a second
    EXPECT_TRUE(layer.IsOpen());
    EXPECT_TRUE(layer.CanPlay());
    EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
    EXPECT_EQ(layer.Length(), 96);
    EXPECT_EQ(layer.Position(), 0);

    layer.Play();
    EXPECT_EQ(layer.Mode(), MediaMode::Playing);
    const auto elapsed = WaitUntilStopped();
    EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
    // The last note ends 500 ms after the start; the mode follows within 300 ms (a little more allowed for a
    // busy machine).
    EXPECT_GE(elapsed, 450ms);
    EXPECT_LE(elapsed, 500ms + 300ms + 200ms) << std::chrono::duration<double>(elapsed).count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(notifications.load(), 1);
    EXPECT_EQ(layer.Position(), 96);
    EXPECT_EQ(layer.LastError(), MediaCode::None);

    const test::WavContents out = Output();
    EXPECT_GT(test::PeakAmplitude(out.samples), 1000);
    EXPECT_GE(out.Seconds(), 0.5);
}

TEST_F(MediaLayerTest, StopHaltsWhereItIsAndPlayGoesOn) {
    std::atomic<int> notifications{0};
    layer.SetEndNotification([&] { ++notifications; });
    layer.Open(Write("note.mid", OneNote(69, 120))); // 625 ms
    layer.Play();
    std::this_thread::sleep_for(200ms);
    layer.Stop();
    EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
    EXPECT_EQ(layer.LastError(), MediaCode::None);
    const std::int64_t stoppedAt = layer.Position();
    EXPECT_GT(stoppedAt, 0);
    EXPECT_LT(stoppedAt, 120);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(layer.Position(), stoppedAt) << "stopped means the position stays";
    EXPECT_EQ(notifications.load(), 0) << "Stop is no end of the music";

    layer.Play();
    std::this_thread::sleep_for(30ms);
    EXPECT_GE(layer.Position(), stoppedAt);
    WaitUntilStopped();
    EXPECT_EQ(notifications.load(), 1);
}

TEST_F(MediaLayerTest, PlayAfterTheEndStartsFromTheBeginning) {
    layer.Open(Write("note.mid", OneNote(69, 48)));
    layer.Play();
    WaitUntilStopped();
    ASSERT_EQ(layer.Position(), 48);

    layer.Play();
    EXPECT_EQ(layer.Mode(), MediaMode::Playing);
    std::this_thread::sleep_for(60ms);
    EXPECT_LT(layer.Position(), 48);
    const auto elapsed = WaitUntilStopped();
    EXPECT_GE(elapsed, 150ms) << "the whole 250 ms of music plays again";
}

TEST_F(MediaLayerTest, ReopenPlaysTheFileAsItIsNow) {
    const std::string work = Write("work.mid", OneNote(69, 48));
    layer.Open(work);
    layer.Play();
    WaitUntilStopped();
    EXPECT_GT(test::PeakAmplitude(Output().samples), 1000);

    // Same name, new music: a silent note of another length.
    test::WriteBytes(work, OneNote(69, 72, 0));
    layer.Open(work);
    EXPECT_EQ(layer.Length(), 72);
    layer.Play();
    WaitUntilStopped();
    const test::WavContents out = Output();
    EXPECT_GE(out.Seconds(), 0.375);
    EXPECT_LT(test::PeakAmplitude(out.samples), test::SilenceLevel) << "the old music played again";
}

// Playback starts where the music begins, not after the file's lead-in of silence, and the position heard
// follows it; the output stays open for the next file.
TEST_F(MediaLayerTest, StartsAtTheFirstNoteAndTellsWhatIsHeard) {
    // 96 ticks of silence (half a second), then a note of 96 ticks.
    const std::string leadIn =
        test::Header(0, 1, 96) +
        test::Track(std::string("\x00\xC0\x00\x60\x90\x45\x64\x60\x80\x45\x40", 11) + test::EndOfTrackEvent);
    layer.Open(Write("lead-in.mid", leadIn));
    EXPECT_EQ(layer.Position(), 96);
    EXPECT_FALSE(layer.Heard().sounding);
    layer.Play();
    std::this_thread::sleep_for(200ms);
    const HeardPosition heard = layer.Heard();
    EXPECT_TRUE(heard.sounding);
    EXPECT_GE(heard.tick, 96);
    EXPECT_LE(heard.tick, layer.Position());
    EXPECT_NEAR(heard.seconds, heard.tick / 192.0, 0.01);
    EXPECT_LT(WaitUntilStopped(), 800ms) << "the lead-in was waited through";
    EXPECT_FALSE(layer.Heard().sounding);

    // The next file plays through the same output: the WAV file holds both.
    layer.Open(Write("note.mid", OneNote(69, 96)));
    EXPECT_TRUE(layer.IsOutputOpen());
    layer.Play();
    WaitUntilStopped();
    const test::WavContents out = Output();
    const auto firstLoud = std::find_if(out.samples.begin(), out.samples.end(),
                                        [](std::int16_t s) { return std::abs(static_cast<int>(s)) > 1000; });
    EXPECT_LT(firstLoud - out.samples.begin(), 2 * 44100 / 20) << "no sound in the first 50 ms";
    EXPECT_GE(out.Seconds(), 1.0);
}

// An image from memory, repeated until Stop: no end is reported while it repeats.
TEST_F(MediaLayerTest, RepeatsAnImageUntilStop) {
    std::atomic<int> notifications{0};
    layer.SetEndNotification([&] { ++notifications; });
    ExpectFailure([&] { layer.OpenImage("no MIDI file"); }, MediaCode::NotMidiFile,
                  MediaErrorText(MediaCode::NotMidiFile));
    EXPECT_FALSE(layer.IsOpen());
    layer.OpenImage(OneNote(69, 24)); // an eighth of a second
    layer.Play(Repeat::UntilStop);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(layer.Mode(), MediaMode::Playing);
    EXPECT_EQ(notifications.load(), 0);
    layer.Stop();
    EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(notifications.load(), 0);
    const test::WavContents out = Output();
    EXPECT_GT(test::PeakAmplitude(std::vector<std::int16_t>(out.samples.begin() + 2 * 44100 * 3 / 10,
                                                            out.samples.begin() + 2 * 44100 * 4 / 10)),
              1000)
        << "the note sounds again after its end";
}

// Where sounds begin in a mono mix of the samples, in seconds from the first, with each one's peak: a block
// of 5 ms far louder than the 20 ms before it, and in it the first sample louder than the threshold.
std::vector<std::pair<double, int>> Onsets(const test::WavContents& wav) {
    constexpr std::size_t Block = 220;
    std::vector<int> peaks;
    for (std::size_t at = 0; at + 2 * Block <= wav.samples.size(); at += 2 * Block)
        peaks.push_back(test::PeakAmplitude(
            std::vector<std::int16_t>(wav.samples.begin() + static_cast<std::ptrdiff_t>(at),
                                      wav.samples.begin() + static_cast<std::ptrdiff_t>(at + 2 * Block))));
    std::vector<std::pair<double, int>> onsets;
    for (std::size_t k = 0; k + 2 < peaks.size(); ++k) {
        int before = 0; // the output may begin with the first click
        for (std::size_t j = k >= 4 ? k - 4 : 0; j < k; ++j)
            before = std::max(before, peaks[j]);
        if (peaks[k] > 1000 && peaks[k] > 3 * before) {
            const int peak = std::max({peaks[k], peaks[k + 1], peaks[k + 2]});
            // The sound's first loud sample, in this block or the one before: the block alone would place the
            // onset by where the blocks happen to fall, up to a block late.
            std::size_t at = 2 * (k > 0 ? k - 1 : 0) * Block;
            while (at < 2 * (k + 1) * Block && std::abs(static_cast<int>(wav.samples[at])) <= 1000)
                ++at;
            onsets.emplace_back(static_cast<double>(at / 2) / wav.sampleRate, peak);
            k += 4;
        }
    }
    for (auto& onset : onsets)
        onset.first -= onsets.empty() ? 0.0 : onsets.front().first;
    return onsets;
}

// The metronome's clicks at the practice speed: the count-in before the music, every click at its tick, the
// accented ones louder; a loop plays the count-in once and gains speed pass by pass. The music itself is a
// silent note, so that only the clicks are heard.
TEST_F(MediaLayerTest, ClicksSoundAtTheirTicksAtThePracticeSpeed) {
    const struct {
        PlaybackSpeed speed;
        Repeat repeat;
        std::vector<MetronomeClick> clicks;
        std::vector<double> onsets; // seconds from the first click
        std::vector<bool> accents;
    } cases[] = {
        // 48 ticks are a quarter of a second at the music's own tempo.
        {{200},
         Repeat::Once,
         {{-96, true}, {-48, false}, {0, true}, {48, false}},
         {0, 0.125, 0.25, 0.375},
         {true, false, true, false}},
        {{50},
         Repeat::Once,
         {{48, false}, {-96, true}, {0, true}, {-48, false}, {96, false}},
         {0, 0.5, 1.0, 1.5},
         {true, false, true, false}},
        // Passes of 0.5 s at 100 % after a first one of 1 s at 50 %.
        {{100, 50, 50},
         Repeat::UntilStop,
         {{-48, true}, {0, false}},
         {0, 0.5, 1.5, 2.0, 2.5},
         {true, false, false, false, false}},
    };
    for (const auto& c : cases) {
        layer.SetSpeed(c.speed);
        layer.OpenImage(OneNote(69, 96, 0));
        layer.SetClicks(c.clicks);
        layer.Play(c.repeat);
        EXPECT_EQ(layer.Length(), 96);
        std::this_thread::sleep_for(std::chrono::duration<double>(c.onsets.back() + 0.3));
        layer.Stop();
        const std::vector<std::pair<double, int>> onsets = Onsets(Output());
        ASSERT_GE(onsets.size(), c.onsets.size()) << c.speed.percent;
        for (std::size_t k = 0; k < c.onsets.size(); ++k) {
            EXPECT_NEAR(onsets[k].first, c.onsets[k], 0.006) << c.speed.percent << " click " << k;
            if (k > 0 && c.accents[k] != c.accents[k - 1]) {
                EXPECT_EQ(onsets[k].second > onsets[k - 1].second, c.accents[k]) << "click " << k;
            }
        }
    }
}

TEST_F(MediaLayerTest, CloseStopsAndForgetsTheFile) {
    layer.Open(Write("note.mid", OneNote(69, 120)));
    layer.Play();
    std::this_thread::sleep_for(50ms);
    layer.Close();
    EXPECT_FALSE(layer.IsOpen());
    EXPECT_EQ(layer.Mode(), MediaMode::Stopped);
    EXPECT_EQ(layer.Length(), 0);
    ExpectFailure([&] { layer.Stop(); }, MediaCode::NoDeviceOpen, "MCI ﾃﾞﾊﾞｲｽがありません");
}

} // namespace
} // namespace nagisora
