// nagisora-convert --check, run as a separate process: exit status, both formats, positions in UTF-8 files.

#include "platform/cp932.h"
#include "test_files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace nagisora {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

using test::ReadBytes;

class CheckCli : public testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(fs::path(NAGISORA_EXAMPLES_DIR) / "start-score.txt", dir_ / "start.txt");
        Write("bad.txt", EncodeCp932("\r\nロaツ\r\n－－\r\n").bytes); // error: a half-width letter
        Write("warn.txt", EncodeCp932("\r\nロツ\r\n").bytes);         // warning: no duration line
        Write("utf8.txt", "//😀\nロaツ\n－－\n");                      // UTF-8, with a character cp932 lacks
        Write("huge.txt", std::string(1024 * 1024 + 1, '\n'));        // more than is checked
    }
    void Write(const std::string& name, const std::string& bytes) const {
        test::WriteBytes(dir_ / name, bytes);
    }

    Outcome Run(const std::string& command) const {
        const int status = std::system(
            ("cd '" + dir_.string() + "' && " + command + " >stdout 2>stderr </dev/null").c_str());
        return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(dir_ / "stdout"),
                       ReadBytes(dir_ / "stderr")};
    }
    Outcome Check(const std::string& arguments) const {
        return Run(std::string(NAGISORA_CONVERT) + " " + arguments);
    }

    test::TemporaryFolder folder_;
    fs::path dir_ = folder_.Path();
};

TEST_F(CheckCli, ExitStatusAndCompilerStyleLines) {
    const struct {
        const char* arguments;
        int exitCode;
        const char* out; // every line's start and its code
    } cases[] = {
        {"--check start.txt", 0, ""},
        {"--check warn.txt", 0, "warn.txt:2:1: warning: [no-duration-line]\n"},
        {"--check start.txt bad.txt warn.txt", 1,
         "bad.txt:2:2: error: [half-width-in-pitch-line]\nwarn.txt:2:1: warning: [no-duration-line]\n"},
        {"--check missing.txt start.txt", 1, ""},
        {"--check huge.txt start.txt", 1, ""},
        {"--check -o x.mid start.txt", 2, ""},
        {"--format=json start.txt", 2, ""},
        {"--check --format=xml start.txt", 2, ""},
    };
    for (const auto& c : cases) {
        const Outcome run = Check(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << ": " << run.err;
        std::string shown; // each line without its message
        for (std::size_t at = 0; at < run.out.size();) {
            const std::size_t end = run.out.find('\n', at);
            const std::string line = run.out.substr(at, end - at);
            const std::size_t message = line.find(": ", line.find(": ") + 2) + 2;
            shown += line.substr(0, message) + line.substr(line.rfind(" [") + 1) + "\n";
            at = end + 1;
        }
        EXPECT_EQ(shown, c.out) << c.arguments;
    }
    EXPECT_NE(Check("--check missing.txt").err.find("missing.txt: ﾌｧｲﾙが見つかりません."), std::string::npos);
    EXPECT_NE(Check("--check huge.txt").err.find("huge.txt: ﾌｧｲﾙが大きすぎます (上限 1 MiB)."),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "start.mid")); // converts nothing
}

// The JSON array, read back with jq: positions of a UTF-8 file are those of its own lines and characters.
TEST_F(CheckCli, JsonWithPositionsInTheOriginalFile) {
    if (std::system("command -v jq >/dev/null") != 0) GTEST_SKIP() << "jq is not installed";
    const Outcome run = Check("--check --format=json utf8.txt start.txt bad.txt");
    EXPECT_EQ(run.exitCode, 1);
    Write("found.json", run.out);
    const Outcome read =
        Run("jq -r '.[] | \"\\(.file):\\(.line):\\(.column):\\(.length):\\(.severity):\\(.code)\"' "
            "found.json");
    ASSERT_EQ(read.exitCode, 0) << read.err << run.out;
    EXPECT_EQ(read.out, "utf8.txt:1:3:1:warning:not-in-cp932\n"
                        "utf8.txt:2:2:1:error:half-width-in-pitch-line\n"
                        "bad.txt:2:2:1:error:half-width-in-pitch-line\n");
    EXPECT_EQ(Check("--check --format=json start.txt").out, "[]\n");

    // Names that are no UTF-8: a Shift-JIS name reads as written, a byte that is no character is escaped.
    Write("\x83\x8D.txt", EncodeCp932("\r\nロaツ\r\n－－\r\n").bytes);
    Write("\xFF.txt", EncodeCp932("\r\nロaツ\r\n－－\r\n").bytes);
    Write("names.json",
          Check("--check --format=json \"$(printf '\\203\\215.txt')\" \"$(printf '\\377.txt')\"").out);
    EXPECT_EQ(Run("jq -r '.[].file' names.json").out, "ロ.txt\n\uEFFF.txt\n");
    EXPECT_NE(ReadBytes(dir_ / "names.json").find("\\uEFFF.txt"), std::string::npos);
}

} // namespace
} // namespace nagisora
