#include "conversion.h"
#include "cp932.h"
#include "file_io.h"
#include "musicxml.h"
#include "score_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace nagisora {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ConvertCli : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("nagisora-cli-" + std::to_string(::getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::copy_file(fs::path(NAGISORA_EXAMPLES_DIR) / "start-score.txt", dir_ / "start.txt");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the converter in the scratch folder with the arguments, feeding stdinBytes; environment holds
    // assignments put before the command.
    Outcome Convert(const std::string& arguments, std::string_view stdinBytes = {},
                    const std::string& environment = {}) const {
        Spit(dir_ / "stdin", stdinBytes);
        const std::string command = "cd '" + dir_.string() + "' && " + environment + NAGISORA_CONVERT + " " +
                                    arguments + " <stdin >stdout 2>stderr";
        const int status = std::system(command.c_str());
        Outcome run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Slurp(dir_ / "stdout");
        run.err = Slurp(dir_ / "stderr");
        return run;
    }

    std::string ImageOf(const std::string& scoreBytes, const ConversionSettings& settings = {}) const {
        const ScoreFileContents contents = DecodeScoreFile(scoreBytes);
        const std::vector<std::string_view> lines(contents.lines.begin(), contents.lines.end());
        return ConvertScore(lines, settings).midiData;
    }

    fs::path dir_;
};

TEST_F(ConvertCli, WritesTheSameImageAsTheCore) {
    const Outcome run = Convert("start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Slurp(dir_ / "start.mid"), ImageOf(Slurp(dir_ / "start.txt")));
    EXPECT_TRUE(run.out.empty());
}

TEST_F(ConvertCli, SettingsReachTheImage) {
    const Outcome run =
        Convert("--tempo 120 --transpose -3 --volume 100 --instrument shakuhachi --no-score-timbres "
                "-o out.mid start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Slurp(dir_ / "out.mid"),
              ImageOf(Slurp(dir_ / "start.txt"), ConversionSettings{120, -3, 100, 77, false}));
    ASSERT_EQ(Convert("--instrument 77 -o num.mid start.txt").exitCode, 0);
    EXPECT_EQ(Slurp(dir_ / "num.mid")[24], 77);
}

TEST_F(ConvertCli, StandardInputAndOutput) {
    const Outcome run = Convert("-", Slurp(dir_ / "start.txt"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, ImageOf(Slurp(dir_ / "start.txt")));
}

TEST_F(ConvertCli, EventsAfterTheTupletPass) {
    const Outcome run = Convert("--events start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, 31), "22 50 120\n56 53 60\n-1 53 60\n12 ");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 41);
    EXPECT_FALSE(fs::exists(dir_ / "start.mid"));
}

TEST_F(ConvertCli, UsageErrorsNameTheOption) {
    const std::pair<const char*, const char*> cases[] = {
        {"--tempo 29 start.txt", "--tempo"},
        {"--tempo 255 start.txt", "--tempo"},
        {"--transpose 17 start.txt", "--transpose"},
        {"--volume -1 start.txt", "--volume"},
        {"--instrument 128 start.txt", "--instrument"},
        {"--instrument Kazoo start.txt", "--instrument"},
        {"-o x.mid start.txt start.txt", "--output"},
        {"--musicxml x.musicxml start.txt start.txt", "--musicxml"},
        {"--musicxml - -o - start.txt", "--musicxml"},
        {"--events --musicxml x.musicxml start.txt", "--events"},
        {"--bogus start.txt", "--bogus"},
        {"", "SCORE"},
    };
    for (const auto& [arguments, option] : cases) {
        const Outcome run = Convert(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.err.find(option), std::string::npos) << arguments << ": " << run.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "start.mid"));
    EXPECT_EQ(Convert("--help").exitCode, 0);
}

TEST_F(ConvertCli, MusicXmlAloneOrBesideTheMidiOutput) {
    const std::string score = Slurp(dir_ / "start.txt");
    const ScoreFileContents contents = DecodeScoreFile(score);
    const std::vector<std::string_view> lines(contents.lines.begin(), contents.lines.end());
    ConversionSettings settings;
    settings.transpose = 2;
    const std::string musicXml = ExportMusicXml(lines, settings, DecodeCp932(FirstCommentText(lines))).text;

    const Outcome alone = Convert("--transpose 2 --musicxml start.musicxml start.txt");
    ASSERT_EQ(alone.exitCode, 0) << alone.err;
    EXPECT_EQ(Slurp(dir_ / "start.musicxml"), musicXml);
    EXPECT_FALSE(fs::exists(dir_ / "start.mid"));

    const Outcome beside = Convert("--transpose 2 --musicxml - -o out.mid -", score);
    ASSERT_EQ(beside.exitCode, 0) << beside.err;
    EXPECT_EQ(beside.out, musicXml);
    EXPECT_EQ(Slurp(dir_ / "out.mid"), ImageOf(score, settings));
}

TEST_F(ConvertCli, FailuresNameTheFileAndTheOthersStillConvert) {
    std::string tooMany;
    for (int line = 0; line < 41; ++line) {
        for (int i = 0; i < 100; ++i)
            tooMany += "\x83\x8D"; // ロ
        tooMany += "\r\n";
    }
    Spit(dir_ / "big.txt", tooMany);
    Spit(dir_ / "big.mid", "old");
    const Outcome run = Convert("missing.txt big.txt start.txt");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing.txt: ﾌｧｲﾙが見つかりません."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("big.txt: 音符の数が 4096 を超えています"), std::string::npos) << run.err;
    EXPECT_EQ(Slurp(dir_ / "big.mid"), "old"); // a refused score writes nothing
    EXPECT_TRUE(fs::exists(dir_ / "start.mid"));
    EXPECT_EQ(Convert("--musicxml big.musicxml big.txt").exitCode, 1);
    EXPECT_FALSE(fs::exists(dir_ / "big.musicxml"));
}

TEST_F(ConvertCli, WriteProtectedOutputIsRefusedAndKept) {
    Spit(dir_ / "start.mid", "keep");
    fs::permissions(dir_ / "start.mid", fs::perms::owner_read | fs::perms::group_read);
    const Outcome run = Convert("start.txt");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("start.mid: ﾌｧｲﾙへのｱｸｾｽが拒否されました."), std::string::npos) << run.err;
    EXPECT_EQ(Slurp(dir_ / "start.mid"), "keep");
}

TEST_F(ConvertCli, Utf8ScoreWarnsOfCharactersCodePage932Lacks) {
    Spit(dir_ / "utf8.txt",
         "\n\xE3\x83\xAD\xE3\x83\x84 \xF0\x9F\x8E\xB5\n\xEF\xBC\x8B\xEF\xBC\x8B\n"); // ロツ 🎵 / ＋＋
    const Outcome run = Convert("utf8.txt");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("line 2, column 4"), std::string::npos) << run.err;
    EXPECT_EQ(Slurp(dir_ / "utf8.mid"), ImageOf("\r\n\x83\x8D\x83\x63 ?\r\n\x81\x7B\x81\x7B\r\n"));
}

TEST_F(ConvertCli, WavRendersTheMusicThroughTheModule) {
    const Outcome run = Convert("--wav start.wav start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string wav = Slurp(dir_ / "start.wav");
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    // 2192 ticks at division 90 are 12.18 s of music: 44100 frames a second of 16-bit stereo.
    EXPECT_GE(wav.size() - 44, static_cast<std::size_t>(12.17 * 44100) * 4);
    EXPECT_TRUE(std::any_of(wav.begin() + 44, wav.end(), [](char b) { return b != 0; }));
    EXPECT_TRUE(fs::exists(dir_ / "start.mid"));
}

// A SoundFont named on the command line or in the environment is the one loaded; one that cannot be is named.
TEST_F(ConvertCli, WavTakesTheSoundFontNamed) {
    const struct {
        const char* what;
        std::string environment;
        std::string command;
    } cases[] = {
        {"option", "", "--soundfont none.sf2 --wav start.wav start.txt"},
        {"environment", "NAGISORA_SOUNDFONT=none.sf2 ", "--wav start.wav start.txt"},
        {"option before environment", "NAGISORA_SOUNDFONT=start.txt ",
         "--soundfont none.sf2 --wav start.wav start.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome run = Convert(c.command, {}, c.environment);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(
            run.err.find("start.wav: サウンドフォントを読み込めません (none.sf2: ファイルがありません)."),
            std::string::npos)
            << run.err;
        EXPECT_FALSE(fs::exists(dir_ / "start.wav"));
    }
}

} // namespace
} // namespace nagisora
