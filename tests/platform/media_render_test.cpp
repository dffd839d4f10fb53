#include "core/failure.h"
#include "media_test_support.h"
#include "platform/file_io.h"
#include "platform/media_errors.h"
#include "platform/media_render.h"
#include "platform/wav_file.h"
#include "platform/wav_render_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <variant>

namespace nagisora {
namespace {

using test::TemporaryFolder;

// 2192 ticks at division 90, at the default tempo of 120 quarter notes a minute.
constexpr double StartScoreSeconds = 2192.0 / 90.0 * 0.5;

std::vector<std::int16_t> RenderToMemory(std::string_view midi) {
    std::vector<std::int16_t> samples;
    RenderMidi(midi, [&](std::span<const std::int16_t> block) {
        samples.insert(samples.end(), block.begin(), block.end());
    });
    return samples;
}

double Seconds(const std::vector<std::int16_t>& samples) {
    return static_cast<double>(samples.size()) / RenderChannels / RenderSampleRate;
}

// The largest amplitude in a stretch of the stereo samples, given in seconds.
int PeakBetween(const std::vector<std::int16_t>& samples, double from, double to) {
    const auto index = [&](double seconds) {
        return std::min(samples.size(),
                        static_cast<std::size_t>(seconds * RenderSampleRate) * RenderChannels);
    };
    return test::PeakAmplitude(
        std::vector<std::int16_t>(samples.begin() + index(from), samples.begin() + index(to)));
}

TEST(RenderMidi, StartScoreLastsItsMusicPlusTheReleaseTail) {
    const std::vector<std::int16_t> samples = RenderToMemory(test::StartScoreImage());
    const double seconds = Seconds(samples);
    EXPECT_GE(seconds, StartScoreSeconds);
    EXPECT_LE(seconds, StartScoreSeconds + 3.0);
    EXPECT_GT(PeakBetween(samples, 0.0, 4.5), 1000) << "the first line set is heard";
    EXPECT_GT(PeakBetween(samples, 6.5, 10.0), 1000) << "the second too";
    // The score ends on a long rest: the end is silent.
    EXPECT_LT(PeakBetween(samples, seconds - 0.5, seconds), test::SilenceLevel);
}

TEST(RenderMidi, ANoteEndingWithTheMusicRingsOut) {
    const std::vector<std::int16_t> samples = RenderToMemory(test::OneNote(60, 96));
    const double seconds = Seconds(samples);
    EXPECT_GT(PeakBetween(samples, 0.0, 0.5), 1000);
    EXPECT_GT(PeakBetween(samples, 0.5, 0.52), 100) << "the note's release follows the music";
    EXPECT_GT(seconds, 0.55);
    EXPECT_LE(seconds, 0.5 + 3.0);
    EXPECT_LT(PeakBetween(samples, seconds - 0.02, seconds), 400) << "the tail has died away";
}

// Scores whose last tick falls on a boundary of the synthesizer's 64-frame steps: the note-offs of that tick
// once went unsent and the last note (an organ, which holds as long as it is on) sounded for the whole tail.
TEST(RenderMidi, NoNoteSoundsAfterTheLastNotesRelease) {
    const std::string ro = "\x83\x8D";   // ロ
    const std::string beat = "\x81\x7C"; // －, one beat
    const struct {
        int beats;
        int tempo;
    } cases[] = {{4, 90}, {36, 90}, {68, 90}, {68, 120}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.beats) + " beats at tempo " + std::to_string(c.tempo));
        std::string pitches;
        std::string durations;
        for (int k = 0; k < c.beats; ++k) {
            pitches += ro;
            durations += beat;
        }
        const std::vector<std::string_view> lines{"", pitches, durations};
        const std::string midi = ConvertScore(lines, ConversionSettings{c.tempo, 0, 100, 19, false}).midiData;
        // The lead-in of 32 ticks and the notes, at division = tempo and 120 beats a minute.
        const double end = (32.0 + 120.0 * c.beats) / c.tempo * 0.5;
        const std::vector<std::int16_t> samples = RenderToMemory(midi);
        EXPECT_GT(PeakBetween(samples, end - 0.3, end), 1000) << "the last note is heard";
        EXPECT_LT(Seconds(samples), end + 1.5) << "the tail ends with the release";
        EXPECT_LT(PeakBetween(samples, end + 0.5, end + 20.0), test::SilenceLevel);
    }
}

TEST(RenderMidi, SilentMusicRendersSilence) {
    const std::vector<std::int16_t> samples = RenderToMemory(test::OneNote(60, 96, 0));
    EXPECT_GE(Seconds(samples), 0.5);
    EXPECT_LT(Seconds(samples), 0.6);
    EXPECT_LT(test::PeakAmplitude(samples), test::SilenceLevel);
}

TEST(RenderMidi, RefusesWhatIsNoMidiFile) {
    try {
        RenderToMemory("not a MIDI file");
        ADD_FAILURE() << "rendered";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.MediaErrorCode(), MediaCode::NotMidiFile);
        EXPECT_EQ(failure.Message(), MediaErrorText(MediaCode::NotMidiFile));
    }
}

TEST(WavHeader, PcmLayout) {
    const std::string expected =
        std::string("RIFF") + std::string("\x2C\x00\x00\x00", 4) + "WAVEfmt " +
        std::string("\x10\x00\x00\x00\x01\x00\x02\x00\x44\xAC\x00\x00\x10\xB1\x02\x00"
                    "\x04\x00\x10\x00",
                    20) +
        "data" + std::string("\x08\x00\x00\x00", 4);
    EXPECT_EQ(WavHeader(44100, 2, 8), expected);
    EXPECT_EQ(expected.size(), WavHeaderBytes);
}

// The direct call and the call through the loaded module give the same file.
class RenderWavTest : public ::testing::TestWithParam<bool> {
  protected:
    void Render(std::string_view midi, const std::string& path, const std::string& soundFont = {}) {
        if (GetParam())
            RenderWavFile(midi, path, soundFont);
        else
            RenderWav(midi, path, soundFont);
    }

    TemporaryFolder folder;
};

TEST_P(RenderWavTest, WritesTheMusicAsWav) {
    const std::string path = (folder / "start.wav").string();
    Render(test::StartScoreImage(), path);
    const std::optional<test::WavContents> wav = test::ReadWav(test::ReadBytes(path));
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->channels, 2);
    EXPECT_EQ(wav->sampleRate, 44100);
    EXPECT_GE(wav->Seconds(), StartScoreSeconds);
    EXPECT_LE(wav->Seconds(), StartScoreSeconds + 3.0);
    EXPECT_GT(test::PeakAmplitude(wav->samples), 1000);
    EXPECT_EQ(test::ReadBytes(path).size(), WavHeaderBytes + wav->samples.size() * 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1)
        << "no temporary left";
}

TEST_P(RenderWavTest, FailuresLeaveTheTargetAlone) {
    const std::string existing = (folder / "old.wav").string();
    test::WriteBytes(existing, "old contents");
    const std::string readOnly = (folder / "read-only.wav").string();
    test::WriteBytes(readOnly, "kept");
    ::chmod(readOnly.c_str(), 0444);
    const std::string missingFont = (folder / "none.sf2").string();
    const std::string textFont = (folder / "text.sf2").string();
    test::WriteBytes(textFont, "no SoundFont");
    const std::string fifoFont = (folder / "fifo.sf2").string();
    ASSERT_EQ(::mkfifo(fifoFont.c_str(), 0600), 0);
    const struct {
        const char* what;
        std::string midi;
        std::string path;
        std::variant<MediaCode, IoCode> code;
        std::string message;
        std::string soundFont = {};
    } cases[] = {
        {"no MIDI file", "garbage", existing, MediaCode::NotMidiFile, MediaErrorText(MediaCode::NotMidiFile)},
        {"missing SoundFont", test::OneNote(60, 24), existing, MediaCode::NoSoundFont,
         "サウンドフォントを読み込めません (" + missingFont + ": ファイルがありません)", missingFont},
        {"no SoundFont", test::OneNote(60, 24), existing, MediaCode::NoSoundFont,
         "サウンドフォントを読み込めません (" + textFont + ": SoundFont でないか、壊れています)", textFont},
        {"a FIFO for a SoundFont, which a loader would wait on for ever", test::OneNote(60, 24), existing,
         MediaCode::NoSoundFont,
         "サウンドフォントを読み込めません (" + fifoFont + ": 通常のファイルではありません)", fifoFont},
        {"missing folder", test::OneNote(60, 24), (folder / "no" / "x.wav").string(), IoCode::InvalidFileName,
         "不正なﾌｧｲﾙ名です"},
        {"write-protected target", test::OneNote(60, 24), readOnly, IoCode::AccessDenied,
         "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
        {"a folder", test::OneNote(60, 24), folder.Path().string(), IoCode::AccessDenied,
         "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            Render(c.midi, c.path, c.soundFont);
            ADD_FAILURE() << "rendered";
        } catch (const Failure& failure) {
            if (const IoCode* file = std::get_if<IoCode>(&c.code))
                EXPECT_EQ(failure.FileCode(), *file);
            else
                EXPECT_EQ(failure.MediaErrorCode(), std::get<MediaCode>(c.code));
            EXPECT_EQ(failure.Message(), c.message);
        }
    }
    EXPECT_EQ(test::ReadBytes(existing), "old contents");
    EXPECT_EQ(test::ReadBytes(readOnly), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 4)
        << "no temporary left";
}

TEST_P(RenderWavTest, ReplacesAnExistingFileKeepingItsPermissions) {
    const std::string path = (folder / "out.wav").string();
    test::WriteBytes(path, "old");
    ::chmod(path.c_str(), 0640);
    Render(test::OneNote(60, 24), path);
    EXPECT_TRUE(test::ReadWav(test::ReadBytes(path)));
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

INSTANTIATE_TEST_SUITE_P(DirectAndThroughTheModule, RenderWavTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Module" : "Direct"; });

TEST(RenderModuleCandidates, BesideTheProgramThenTheInstallsLibraryFolder) {
    const std::vector<std::string> candidates = RenderModuleCandidates();
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0], ExecutableDir() + "libnagisora_render.so");
    EXPECT_TRUE(candidates[1].starts_with(ExecutableDir() + "../"));
    EXPECT_TRUE(candidates[1].ends_with("/nagisora/libnagisora_render.so"));
}

} // namespace
} // namespace nagisora
