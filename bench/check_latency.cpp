// check_latency: the time to open a long score and from a keystroke in the score area to the underlines of
// the checker drawn anew, on a long score (default examples/long-4096.txt), in the real main window on Qt's
// offscreen platform.
//
//   check_latency [--runs N] [--score FILE] [--pause 1] [--recovery 1]
//
// Each run types one character into a pitch line in the middle of the score, the way the keyboard sends it
// (a key press and a release to the score area), lets the event loop run until the checker has set its marks
// (having checked a short score whole, or the lines around the change of a long one) and then paints the
// area's viewport at once: the time covers the edit, the model's new map, the check, the new marks and their
// painting. The time until the background has checked a long score whole is given apart. Two cases
// alternate:
//   "finding": a half-width letter typed into the pitch line, then taken back with Backspace; both change the
//   findings, so every underline is made again;
//   "same": a full-width character typed into a comment line and taken back; the findings stay where they
//   were and the underlines already there are kept.
// With --pause 1 the typing pauses before each run until the window has compared the text with the one last
// saved (a second after typing stops); with --recovery 1 as well, the copy kept against a crash is on, and
// its writer works while the keys of the run are timed. Prints the median, the 90th percentile and the
// largest time of each case, in milliseconds, and the median time the window's thread spent on a core per
// keystroke (what the keystroke itself costs, where other programs keep the machine busy).

#include "app/main_window.h"
#include "app/score_area.h"
#include "app/score_checker.h"
#include "app/score_model.h"
#include "app/score_recovery.h"
#include "app/unsaved_edits.h"
#include "platform/score_file.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextBlock>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int runs = 100;
    std::string score = NAGISORA_EXAMPLES_DIR "/long-4096.txt";
    bool pause = false;
    bool recovery = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            options.runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--score") == 0)
            options.score = argv[i + 1];
        else if (std::strcmp(argv[i], "--pause") == 0)
            options.pause = std::atoi(argv[i + 1]) != 0;
        else if (std::strcmp(argv[i], "--recovery") == 0)
            options.recovery = std::atoi(argv[i + 1]) != 0;
    }
    return options;
}

void SendKey(QWidget& to, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(&to, &press);
    QApplication::sendEvent(&to, &release);
}

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

double Median(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const Options options = ParseOptions(argc, argv);

    nagisora::ScoreFileText score;
    try {
        score = nagisora::LoadScoreFile(options.score);
    } catch (const nagisora::Failure& failure) {
        std::fprintf(stderr, "check_latency: %s: %s\n", options.score.c_str(), failure.Message().c_str());
        return 1;
    }

    QTemporaryDir dir;
    nagisora::MainWindowOptions windowOptions;
    windowOptions.appDir = dir.path().toStdString() + "/";
    windowOptions.media = nagisora::MediaOptions::ToWavFile(dir.path().toStdString() + "/preview.wav");
    windowOptions.reportError = [](const nagisora::Failure&) {};
    nagisora::MainWindow window(std::move(windowOptions));
    window.show();
    nagisora::ScoreArea& area = window.Area();
    auto* checker = window.findChild<nagisora::ScoreChecker*>();
    bool checked = false;
    QObject::connect(checker, &nagisora::ScoreChecker::Checked, [&] { checked = true; });
    QApplication::processEvents();

    // Opened as "楽譜読込" opens it: read, shown and painted; then checked whole.
    const Clock::time_point opening = Clock::now();
    window.OpenScore(QString::fromStdString(options.score));
    QApplication::processEvents();
    area.viewport()->repaint();
    const Clock::time_point opened = Clock::now();
    while (!checked)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const Clock::time_point openChecked = Clock::now();
    checker->CheckNow();
    const std::size_t findings = checker->Findings().size();

    // A pitch line and a comment line in the middle of the score.
    const int middle = area.document()->blockCount() / 2;
    int pitchLine = -1;
    int commentLine = -1;
    for (int b = middle; b < area.document()->blockCount() && (pitchLine < 0 || commentLine < 0); ++b) {
        const QString line = area.document()->findBlockByNumber(b).text();
        if (pitchLine < 0 && line.contains(u'ロ') && !line.startsWith(u"//"_qs)) pitchLine = b;
        if (commentLine < 0 && line.startsWith(u"//"_qs)) commentLine = b;
    }
    if (commentLine < 0) { // no comment after the middle: a new one
        QTextCursor end(area.document());
        end.movePosition(QTextCursor::End);
        end.insertText(u"//\n"_qs);
        commentLine = area.document()->blockCount() - 2;
    }
    area.setFocus();

    // The moments of one keystroke: the model's map made again (within the key's handling), the checker
    // done, the area painted.
    Clock::time_point remapped;
    QObject::connect(&window.Model(), &nagisora::ScoreModel::Remapped, [&] { remapped = Clock::now(); });
    struct Times {
        std::vector<double> whole, edit, check, paint, background, cpu;
    };
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const auto cpuMs = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    };
    const auto timeKey = [&](Times& times, int line, int key, const QString& keyText) {
        QTextCursor caret(area.document()->findBlockByNumber(line));
        caret.movePosition(QTextCursor::EndOfBlock);
        area.setTextCursor(caret);
        QApplication::processEvents();
        checked = false;
        const double cpuStart = cpuMs();
        const Clock::time_point start = Clock::now();
        SendKey(area, key, keyText);
        const Clock::time_point handled = Clock::now();
        while (checker->Queued())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const Clock::time_point done = Clock::now();
        area.viewport()->repaint();
        const Clock::time_point painted = Clock::now();
        times.cpu.push_back(cpuMs() - cpuStart);
        while (!checked)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        times.whole.push_back(ms(painted - start));
        times.edit.push_back(ms(remapped - start));
        times.check.push_back(ms(done - handled));
        times.paint.push_back(ms(painted - done));
        times.background.push_back(ms(Clock::now() - start));
    };

    bool settled = false;
    if (options.recovery) new nagisora::ScoreRecovery(window.Session(), dir.path() + u"/recovery"_qs);
    QObject::connect(window.findChild<nagisora::UnsavedEdits*>(), &nagisora::UnsavedEdits::Settled,
                     [&] { settled = true; });
    Times changing;
    Times same;
    for (int run = 0; run < options.runs; ++run) {
        if (options.pause)
            for (settled = false; !settled;)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        timeKey(changing, pitchLine, Qt::Key_A, u"a"_qs);
        timeKey(changing, pitchLine, Qt::Key_Backspace, {});
        timeKey(same, commentLine, Qt::Key_unknown, u"ロ"_qs);
        timeKey(same, commentLine, Qt::Key_Backspace, {});
    }
    std::printf("score %s: %d lines, %zu findings; %d keystrokes each\n", options.score.c_str(),
                area.document()->blockCount(), findings, 2 * options.runs);
    const auto msSince = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    std::printf("open: read, shown and painted %.3f ms; checked whole %.3f ms\n", msSince(opening, opened),
                msSince(opening, openChecked));
    for (const auto& [name, times] : {std::pair{"finding", &changing}, std::pair{"same", &same}}) {
        std::printf("%-8s keystroke to underlines: median %.3f ms  p90 %.3f ms  max %.3f ms\n", name,
                    Median(times->whole), Percentile(times->whole, 0.9),
                    *std::max_element(times->whole.begin(), times->whole.end()));
        std::printf("%-8s medians: edit and map %.3f ms, event loop to the check and its marks %.3f ms, "
                    "paint %.3f ms; the window's thread on a core %.3f ms\n",
                    "", Median(times->edit), Median(times->check), Median(times->paint), Median(times->cpu));
        std::printf("%-8s keystroke to the whole text checked: median %.3f ms  max %.3f ms\n", "",
                    Median(times->background),
                    *std::max_element(times->background.begin(), times->background.end()));
    }
    return 0;
}
