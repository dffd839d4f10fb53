#include "core/conversion.h"
#include "core/musicxml.h"
#include "platform/cp932.h"
#include "platform/score_file.h"
#include "test_files.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace nagisora {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::WriteBytes;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ImageOf(const std::string& scoreBytes, const ConversionSettings& settings = {}) {
    return ConvertScore(ScoreFileTextOf(scoreBytes).Lines(), settings).midiData;
}

// The converter run by the shell in a scratch folder, work/, which holds the example start score as
// start.txt; what it reads and prints goes through files beside that folder.
class ConvertCli : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(work_);
        fs::copy_file(fs::path(NAGISORA_EXAMPLES_DIR) / "start-score.txt", work_ / "start.txt");
    }

    // Runs the shell command line in work/, where "$NC" names the converter, feeding stdinBytes.
    Outcome Shell(const std::string& commandLine, std::string_view stdinBytes = {}) const {
        WriteBytes(folder_ / "stdin", stdinBytes);
        const std::string command = "cd '" + work_.string() + "' && NC='" + NAGISORA_CONVERT +
                                    "' && convert() { \"$NC\" \"$@\"; } && (" + commandLine +
                                    ") <../stdin >../stdout 2>../stderr";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(folder_ / "stdout"),
                ReadBytes(folder_ / "stderr")};
    }

    // The converter with the arguments; environment holds assignments put before the command.
    Outcome Convert(const std::string& arguments, std::string_view stdinBytes = {},
                    const std::string& environment = {}) const {
        return Shell(environment + "\"$NC\" " + arguments, stdinBytes);
    }

    // Every entry under work/, sorted, with its bytes: "<*>" for what is not a plain file or holds "<*>"'s
    // place in the expectation (a pipe, a huge or a WAV file), which is not read.
    std::vector<std::pair<std::string, std::string>>
    Files(const std::vector<std::pair<std::string, std::string>>& expected) const {
        std::vector<std::pair<std::string, std::string>> files;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(work_)) {
            const std::string name = entry.path().lexically_relative(work_).string();
            std::error_code loop;
            const bool unread = std::find(expected.begin(), expected.end(),
                                          std::pair(name, std::string("<*>"))) != expected.end() ||
                                !entry.is_regular_file(loop);
            files.emplace_back(name, unread ? "<*>" : ReadBytes(entry.path()));
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    std::string Score() const { return ReadBytes(work_ / "start.txt"); }

    test::TemporaryFolder folder_;
    fs::path work_ = folder_ / "work";
};

TEST_F(ConvertCli, WritesTheSameImageAsTheCore) {
    const Outcome run = Convert("start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(work_ / "start.mid"), ImageOf(Score()));
    EXPECT_TRUE(run.out.empty());
}

TEST_F(ConvertCli, SettingsReachTheImage) {
    const Outcome run =
        Convert("--tempo 120 --transpose -3 --volume 100 --instrument shakuhachi --no-score-timbres "
                "-o out.mid start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(work_ / "out.mid"), ImageOf(Score(), ConversionSettings{120, -3, 100, 77, false}));
    ASSERT_EQ(Convert("--instrument 77 -o num.mid start.txt").exitCode, 0);
    EXPECT_EQ(ReadBytes(work_ / "num.mid")[24], 77);
}

TEST_F(ConvertCli, StandardInputAndOutput) {
    const Outcome run = Convert("-", Score());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, ImageOf(Score()));
}

TEST_F(ConvertCli, EventsAfterTheTupletPass) {
    const Outcome run = Convert("--events start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, 31), "22 50 120\n56 53 60\n-1 53 60\n12 ");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 41);
    EXPECT_FALSE(fs::exists(work_ / "start.mid"));
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
        {"--wav - -o - start.txt", "--wav"},
        {"--wav - -", "--wav"},
        {"--events --musicxml x.musicxml start.txt", "--events"},
        {"--pdf x.pdf start.txt start.txt", "--pdf"},
        {"--pdf - --musicxml - start.txt", "--pdf"},
        {"--paper B5 start.txt", "--paper"},
        {"--pdf x.pdf --paper Letter start.txt", "--paper"},
        {"--pdf x.pdf --margin 2 start.txt", "--margin"},
        {"--bogus start.txt", "--bogus"},
        {"--pipe 1.6 start.txt", "--pipe"},
        {"--import start.mid --pipe 1.85", "--pipe"},
        {"--import start.mid start.txt", "--import"},
        {"", "SCORE"},
    };
    for (const auto& [arguments, option] : cases) {
        const Outcome run = Convert(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.err.find(option), std::string::npos) << arguments << ": " << run.err;
    }
    EXPECT_FALSE(fs::exists(work_ / "start.mid"));
    EXPECT_EQ(Convert("--help").exitCode, 0);
}

TEST_F(ConvertCli, ImportWritesAScoreThatConvertsBackToTheSameMidi) {
    ASSERT_EQ(Convert("--tempo 120 start.txt").exitCode, 0);
    const std::string midi = ReadBytes(work_ / "start.mid");
    const Outcome imported = Convert("--import start.mid");
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    const std::string score = ReadBytes(work_ / "start.txt");
    EXPECT_FALSE(LooksLikeUtf8(score));
    EXPECT_TRUE(score.ends_with("\r\n"));
    EXPECT_EQ(Convert("--tempo 120 -o again.mid start.txt").exitCode, 0);
    EXPECT_EQ(ReadBytes(work_ / "again.mid"), midi);
    EXPECT_EQ(Convert("--import start.mid --encoding utf-8 -o -").out, DecodeCp932(score));
    // A chosen pipe is named with the transposition that makes it sound at the file's pitch.
    EXPECT_NE(Convert("--import start.mid --encoding utf-8 --pipe auto -o -").out.find("（自動で選択）"),
              std::string::npos);
    // Refused, and nothing written: the input as output, a broken file.
    WriteBytes(work_ / "broken.mid", "MThd");
    for (const char* arguments : {"--import start.mid -o start.mid", "--import broken.mid"}) {
        const Outcome refused = Convert(arguments);
        EXPECT_EQ(refused.exitCode, 1) << arguments;
        EXPECT_NE(refused.err.find(".mid: "), std::string::npos) << refused.err;
    }
    EXPECT_EQ(ReadBytes(work_ / "start.mid"), midi);
    EXPECT_FALSE(fs::exists(work_ / "broken.txt"));
}

TEST_F(ConvertCli, MusicXmlAloneOrBesideTheMidiOutput) {
    const std::string score = Score();
    const std::vector<std::string_view> lines = SplitScoreFileLines(score);
    ConversionSettings settings;
    settings.transpose = 2;
    const std::string musicXml = ExportMusicXml(lines, settings, DecodeCp932(FirstCommentText(lines))).text;

    const Outcome alone = Convert("--transpose 2 --musicxml start.musicxml start.txt");
    ASSERT_EQ(alone.exitCode, 0) << alone.err;
    EXPECT_EQ(ReadBytes(work_ / "start.musicxml"), musicXml);
    EXPECT_FALSE(fs::exists(work_ / "start.mid"));

    const Outcome beside = Convert("--transpose 2 --musicxml - -o out.mid -", score);
    ASSERT_EQ(beside.exitCode, 0) << beside.err;
    EXPECT_EQ(beside.out, musicXml);
    EXPECT_EQ(ReadBytes(work_ / "out.mid"), ImageOf(score, settings));
}

TEST_F(ConvertCli, FailuresNameTheFileAndTheOthersStillConvert) {
    std::string tooMany;
    for (int line = 0; line < 41; ++line) {
        for (int i = 0; i < 100; ++i)
            tooMany += "\x83\x8D"; // ロ
        tooMany += "\r\n";
    }
    WriteBytes(work_ / "big.txt", tooMany);
    WriteBytes(work_ / "big.mid", "old");
    const Outcome run = Convert("missing.txt big.txt start.txt");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing.txt: ﾌｧｲﾙが見つかりません."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("big.txt: 音符の数が 4096 を超えています"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(work_ / "big.mid"), "old"); // a refused score writes nothing
    EXPECT_TRUE(fs::exists(work_ / "start.mid"));
    for (const char* output : {"--musicxml big.musicxml", "--pdf big.pdf"})
        EXPECT_EQ(Convert(std::string(output) + " big.txt").exitCode, 1) << output;
    EXPECT_FALSE(fs::exists(work_ / "big.musicxml"));
    EXPECT_FALSE(fs::exists(work_ / "big.pdf"));
}

// The katakana and rests of a text, in order: what the notes of a vertical score's extracted text read as.
std::string KatakanaOf(const std::string& utf8) {
    std::string kept;
    for (std::size_t i = 0; i + 2 < utf8.size(); ++i) {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(utf8[i + k]); };
        const bool katakana = b(0) == 0xE3 && ((b(1) == 0x82 && b(2) >= 0xA0) || b(1) == 0x83);
        if (katakana || utf8.compare(i, 3, "○") == 0) {
            kept += utf8.substr(i, 3);
            i += 2;
        }
    }
    return kept;
}

// The vertical score as PDF, checked with poppler's tools: the Japanese font embedded, the pages and their
// paper, and the text, extracted in the order it was drawn, in playing order.
TEST_F(ConvertCli, PdfOfTheVerticalScore) {
    if (std::system("command -v pdffonts >/dev/null && command -v pdftotext >/dev/null") != 0)
        GTEST_SKIP() << "poppler-utils are not installed";
    if (!fs::exists(fs::path(NAGISORA_CONVERT).parent_path() / "libnagisora_pdf.so"))
        GTEST_SKIP() << "the PDF module is built with the desktop program";
    const std::string notes =
        "ロツツレレレチチチチハハハハハロロロロロロローー○ローツ○レチーハピツレーチーー○";
    struct Case {
        const char* arguments;
        const char* pdf;
        const char* pages;
        const char* paper;
    };
    const Case cases[] = {
        {"--pdf start.pdf start.txt", "start.pdf", "1", "(A4)"},
        {"--pdf - --paper b5 - <start.txt >b5.pdf", "b5.pdf", "1", "516 x 729 pts"},
        {"--pdf long.pdf long.txt", "long.pdf", "10", "(A4)"},
        {"--pdf small.pdf --font-size 8 --margin 10 long.txt", "small.pdf", "5", "(A4)"},
    };
    fs::copy_file(fs::path(NAGISORA_EXAMPLES_DIR) / "long-4096.txt", work_ / "long.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome run = Convert(c.arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, ""); // nothing of Qt's own notes
        EXPECT_FALSE(fs::exists(work_ / "start.mid"));
        const std::string pdf = std::string(c.pdf);
        const Outcome fonts = Shell("pdffonts " + pdf + " | grep IPA");
        EXPECT_NE(fonts.out.find("CID TrueType      Identity-H       yes"), std::string::npos) << fonts.out;
        const Outcome info = Shell("pdfinfo " + pdf);
        EXPECT_NE(info.out.find(c.paper), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Pages:           " + std::string(c.pages) + "\n"), std::string::npos);
        const Outcome text = Shell("pdftotext -raw " + pdf + " -");
        if (pdf == "start.pdf" || pdf == "b5.pdf") {
            std::string flat = text.out; // one character a line, as the columns run
            std::erase(flat, '\n');
            EXPECT_NE(flat.find("「音長行」がセットになっている例"), std::string::npos) << flat; // not ⾳
            EXPECT_EQ(KatakanaOf(text.out), "セット" + notes);
        } else {
            EXPECT_LE(fs::file_size(work_ / pdf), 1u << 20);
        }
    }
}

// One path through the converter: the shell's setup and command in a fresh work/ holding start.txt, then the
// exit, the whole of stderr and every entry under work/ with its bytes, where <S> stands for the score's
// bytes, <M> for its image and <*> for an entry that is not read (a pipe, a terabyte, a folder, a WAV file).
struct PathCase {
    const char* what;
    std::string setup;
    std::string command;
    int exitCode;
    std::string refusal; // stderr after "nagisora-convert: ", without ".\n"; empty: no output at all
    std::vector<std::pair<std::string, std::string>> files;
};

TEST_F(ConvertCli, NothingIsLostOnAnyPath) {
    const PathCase cases[] = {
        PathCase("output is the score", "", "convert -o start.txt start.txt", 1,
                 "start.txt: 出力先が入力ファイルと同じです: start.txt (入力 start.txt)",
                 {{"start.txt", "<S>"}}),
        PathCase("default output of a .mid score", "cp start.txt song.mid", "convert song.mid", 1,
                 "song.mid: 出力先が入力ファイルと同じです: song.mid (入力 song.mid)",
                 {{"song.mid", "<S>"}, {"start.txt", "<S>"}}),
        PathCase("output links to the score", "ln -s start.txt L", "convert -o L start.txt", 1,
                 "start.txt: 出力先が入力ファイルと同じです: L (入力 start.txt)",
                 {{"L", "<S>"}, {"start.txt", "<S>"}}),
        PathCase("WAV over the score", "", "convert --wav start.txt start.txt", 1,
                 "start.txt: 出力先が入力ファイルと同じです: start.txt (入力 start.txt)",
                 {{"start.txt", "<S>"}}),
        PathCase("MusicXML over the score, beside MIDI", "",
                 "convert -o out.mid --musicxml start.txt start.txt", 1,
                 "start.txt: 出力先が入力ファイルと同じです: start.txt (入力 start.txt)",
                 {{"start.txt", "<S>"}}),
        PathCase("PDF over the score", "", "convert --pdf start.txt start.txt", 1,
                 "start.txt: 出力先が入力ファイルと同じです: start.txt (入力 start.txt)",
                 {{"start.txt", "<S>"}}),
        PathCase("MIDI and WAV to one file", "", "convert -o x.mid --wav x.mid start.txt", 1,
                 "start.txt: 出力先がほかの出力と同じです: x.mid (start.txt の MIDI)",
                 {{"start.txt", "<S>"}}),
        PathCase("two scores, one default output", "cp start.txt a.txt && cp start.txt a.sjis",
                 "convert a.txt a.sjis", 1, "a.sjis: 出力先がほかの出力と同じです: a.mid (a.txt の MIDI)",
                 {{"a.mid", "<M>"}, {"a.sjis", "<S>"}, {"a.txt", "<S>"}, {"start.txt", "<S>"}}),
        PathCase("terabyte refused before reading", "truncate -s 1T big.txt", "convert big.txt start.txt", 1,
                 "big.txt: ﾌｧｲﾙが大きすぎます (上限 64 MiB)",
                 {{"big.txt", "<*>"}, {"start.mid", "<M>"}, {"start.txt", "<S>"}}),
        PathCase("named pipe without a writer", "mkfifo pipe.txt", "convert pipe.txt start.txt", 1,
                 "pipe.txt: ﾊﾟｲﾌﾟが閉じられています",
                 {{"pipe.txt", "<*>"}, {"start.mid", "<M>"}, {"start.txt", "<S>"}}),
        PathCase("standard output appended to a log", "echo old >log",
                 "convert -o /dev/stdout start.txt >>log", 0, "",
                 {{"log", "old\n<M>"}, {"start.txt", "<S>"}}),
        PathCase("standard output into a pipe", "", "convert -o /dev/stdout start.txt | cat >piped", 0, "",
                 {{"piped", "<M>"}, {"start.txt", "<S>"}}),
        PathCase("missing folder", "", "convert -o missing-folder/ start.txt", 1,
                 "start.txt: missing-folder/: 不正なﾌｧｲﾙ名です", {{"start.txt", "<S>"}}),
        PathCase("write-protected output", "echo keep >start.mid && chmod 444 start.mid", "convert start.txt",
                 1, "start.txt: start.mid: ﾌｧｲﾙへのｱｸｾｽが拒否されました",
                 {{"start.mid", "keep\n"}, {"start.txt", "<S>"}}),
        // Ended while it writes a WAV file (of the long example, which takes a while) by a signal of those
        // nobody sends to end a program on purpose: the temporary file goes all the same.
        PathCase(
            "SIGUSR1 during --wav",
            std::string("cp '") + NAGISORA_EXAMPLES_DIR + "/long-4096.txt' long.txt && echo old >out.wav",
            "\"$NC\" -o /dev/null --wav out.wav long.txt & i=0; until find . -name '.nagisora-*' -size +1k "
            "| grep -q . || [ $i -gt 3000 ]; do sleep 0.01; i=$((i+1)); done; kill -USR1 $!; wait $! "
            "2>/dev/null; "
            "echo $? >status",
            0, "", {{"long.txt", "<*>"}, {"out.wav", "old\n"}, {"start.txt", "<S>"}, {"status", "138\n"}}),
        // "--wav -" streams the WAV file: into a pipe with its length left open, into a file completed.
        PathCase("WAV streamed into a pipe", "",
                 "convert -o /dev/null --wav - start.txt | cat >piped && head -c 4 piped >riff && "
                 "od -An -tu4 -j40 -N4 piped | tr -d ' ' >length",
                 0, "",
                 {{"length", "4294967259\n"}, {"piped", "<*>"}, {"riff", "RIFF"}, {"start.txt", "<S>"}}),
        PathCase("WAV to standard output in a file", "echo log >out.wav",
                 "convert -o /dev/null --wav - start.txt >out.wav && "
                 "echo $(( $(stat -c %s out.wav) - 44 - $(od -An -tu4 -j40 -N4 out.wav) )) >rest",
                 0, "", {{"out.wav", "<*>"}, {"rest", "0\n"}, {"start.txt", "<S>"}}),
        // The temporary file of a process that no longer runs (killed) goes at the next write into its
        // folder; a running process's stays.
        PathCase("temporary of an ended process",
                 "touch .nagisora-$(sh -c 'echo $$')-deadbeef.tmp .nagisora-1-runs0001.tmp",
                 "convert start.txt", 0, "",
                 {{".nagisora-1-runs0001.tmp", ""}, {"start.mid", "<M>"}, {"start.txt", "<S>"}}),
        PathCase("closed standard output", "", "convert -o - start.txt >&-", 1,
                 "start.txt: 標準出力が閉じられています", {{"start.txt", "<S>"}}),
        // The WAV file goes through the same writer: written through the link, keeping mode and owner
        // (another owner where the tests run as root).
        PathCase("WAV replaced through a link",
                 "mkdir real && echo old >real/x.wav && chmod 666 real/x.wav && ln -s real/x.wav x.wav && "
                 "(chown 4321 real/x.wav 2>/dev/null || true) && stat -c %a:%u real/x.wav >before",
                 "convert --wav x.wav -o /dev/null start.txt && test -L x.wav && head -c 4 x.wav >riff && "
                 "stat -c %a:%u real/x.wav | cmp before -",
                 0, "",
                 {{"before", "<*>"},
                  {"real", "<*>"},
                  {"real/x.wav", "<*>"},
                  {"riff", "RIFF"},
                  {"start.txt", "<S>"},
                  {"x.wav", "<*>"}}),
    };
    const std::string score = Score();
    const std::string image = ImageOf(score);
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(work_);
        SetUp();
        ASSERT_EQ(Shell(c.setup.empty() ? ":" : c.setup).exitCode, 0);
        const Outcome run = Shell(c.command);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.err, c.refusal.empty() ? "" : "nagisora-convert: " + c.refusal + ".\n");
        std::vector<std::pair<std::string, std::string>> expected;
        for (auto [name, bytes] : c.files) {
            if (bytes.starts_with("<S>")) bytes.replace(0, 3, score);
            if (bytes.ends_with("<M>")) bytes.replace(bytes.size() - 3, 3, image);
            expected.emplace_back(name, bytes);
        }
        EXPECT_EQ(Files(expected), expected);
    }
}

// Standard output and standard error that store nothing and give no reason: each write is ended by the one
// write-all helper instead of being tried for ever, the error messages too, and the program ends with its
// failure status.
TEST_F(ConvertCli, OutputsThatTakeNothingEndTheProgram) {
    struct Case {
        std::string arguments;
        std::string tried; // what the program tried to write to standard error
    };
    const Case cases[] = {
        {"missing.txt", "nagisora-convert: missing.txt: ﾌｧｲﾙが見つかりません.\n"},
        {"--check missing.txt", "nagisora-convert: missing.txt: ﾌｧｲﾙが見つかりません.\n"},
        {"--events start.txt", "nagisora-convert: start.txt: ﾃﾞｨｽｸがいっぱいです.\n"},
    };
    const fs::path tried = folder_ / "tried";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        fs::remove(tried);
        const Outcome run = Shell("timeout 60 env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" +
                                  std::string(NAGISORA_WRITE_NOTHING_SHIM) + "' NAGISORA_TRIED='" +
                                  tried.string() + "' \"$NC\" " + c.arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(ReadBytes(tried), c.tried);
    }
}

TEST_F(ConvertCli, Utf8ScoreWarnsOfCharactersCodePage932LacksTwentyTimesAtMost) {
    std::string emoji;
    for (int i = 0; i < 25; ++i)
        emoji += "😀";
    WriteBytes(work_ / "utf8.txt", "\nロツ " + emoji + "\n＋＋\n");
    const Outcome run = Convert("utf8.txt");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 21);
    EXPECT_NE(run.err.find("utf8.txt: warning: line 2, column 23: character not in code page 932"),
              std::string::npos);
    EXPECT_TRUE(
        run.err.ends_with("utf8.txt: warning: 5 more characters not in code page 932, read as \"?\"\n"));
    EXPECT_EQ(ReadBytes(work_ / "utf8.mid"),
              ImageOf("\r\n\x83\x8D\x83\x63 " + std::string(25, '?') + "\r\n\x81\x7B\x81\x7B\r\n"));
}

TEST_F(ConvertCli, WavRendersTheMusicThroughTheModule) {
    const Outcome run = Convert("--wav start.wav start.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string wav = ReadBytes(work_ / "start.wav");
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    // 2192 ticks at division 90 are 12.18 s of music: 44100 frames a second of 16-bit stereo.
    EXPECT_GE(wav.size() - 44, static_cast<std::size_t>(12.17 * 44100) * 4);
    EXPECT_TRUE(std::any_of(wav.begin() + 44, wav.end(), [](char b) { return b != 0; }));
    EXPECT_TRUE(fs::exists(work_ / "start.mid"));
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
        EXPECT_FALSE(fs::exists(work_ / "start.wav"));
    }
}

} // namespace
} // namespace nagisora
