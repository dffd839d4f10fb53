// score_view_latency: what the score area's views cost on a long score (default examples/long-4096.txt), in
// the real main window on Qt's offscreen platform.
//
//   score_view_latency [--runs N] [--score FILE] [--only keys|cursor|roll|vertical] [--metronome on|off]
//
// 1. Recolouring after a keystroke: one key typed into the score area the way the keyboard sends it, timed
//    to the end of its handling (the edit, the model's new map, the colours, the column guide), then taken
//    back with undo (not timed). Three keys: a note into a pitch line in the middle, a letter into a comment,
//    and a half-width letter into the first pitch line, which moves the units of every later set and so
//    recolours every later pitch line. Each is timed with the colours and with the highlighter taken off the
//    document, and the lines coloured per key are counted.
// 2. The playing cursor's frame: the score converted and played with ▶ at tempo 254 into a WAV file in real
//    time; every 16 ms one frame of the cursor (the heard position, the event sounding, the marks, the
//    scroll) and the paint it causes, processed at once.
// 3. The piano roll's paint of the whole score in a 1000 x 360 view: the full picture of every visible note
//    (what a change of the notes, the view or the selection costs), and a frame of the playhead over the kept
//    picture.
// 4. The 縦譜 window after a keystroke: a note typed into a pitch line in the middle, timed until the window
//    has laid the score out again and painted its view (A4, 12 pt, the pages as wide as the window).
// --metronome on plays 2. with the metronome's clicks. The window's settings are a fresh user's, in a folder
// of the run's own. Prints the median, the 90th percentile and the largest time of each, in milliseconds.

#include "app/main_window.h"
#include "app/media_player.h"
#include "app/piano_roll_window.h"
#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"
#include "app/score_views.h"
#include "app/vertical_score_window.h"
#include "core/event_timeline.h"
#include "core/score_file_lines.h"
#include "platform/cp932.h"
#include "platform/file_io.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace nagisora;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int runs = 200;
    std::string score = NAGISORA_EXAMPLES_DIR "/long-4096.txt";
    std::string only; // "keys", "cursor" or "roll": that part alone
    bool metronome = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            options.runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--score") == 0)
            options.score = argv[i + 1];
        else if (std::strcmp(argv[i], "--only") == 0)
            options.only = argv[i + 1];
        else if (std::strcmp(argv[i], "--metronome") == 0)
            options.metronome = std::strcmp(argv[i + 1], "on") == 0;
    }
    return options;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* name, std::vector<double> times, const char* note = "") {
    if (times.empty()) return std::printf("%-44s no samples\n", name), void();
    std::sort(times.begin(), times.end());
    const auto at = [&](double share) {
        return times[static_cast<std::size_t>(share * static_cast<double>(times.size() - 1) + 0.5)];
    };
    std::printf("%-44s median %7.3f ms  p90 %7.3f ms  max %7.3f ms  (%zu)%s\n", name, at(0.5), at(0.9),
                times.back(), times.size(), note);
}

// The line (block) of the first line of the text from `from` on that the test accepts.
template <class Test>
int FindLine(const QTextDocument& document, int from, Test test) {
    for (int b = from; b < document.blockCount(); ++b)
        if (test(document.findBlockByNumber(b).text())) return b;
    return -1;
}

void Keystrokes(MainWindow& window, ScoreColours& colours, int runs) {
    ScoreArea& area = window.Area();
    QTextDocument& document = *area.document();
    const int middle = document.blockCount() / 2;
    const auto isPitchLine = [](const QString& line) {
        return line.contains(u'ロ') && !line.startsWith(u"//");
    };
    const struct {
        const char* name;
        int line;
        int column;
        QString text;
    } keys[] = {
        {"note into a pitch line in the middle", FindLine(document, middle, isPitchLine), 6, u"ロ"_qs},
        {"letter into a comment", FindLine(document, 0, [](const QString& l) { return l.startsWith(u"//"); }),
         2, u"x"_qs},
        {"half-width letter into the first pitch line", FindLine(document, 0, isPitchLine), 6, u"a"_qs},
    };
    for (const bool coloured : {true, false}) {
        if (!coloured) colours.setDocument(nullptr);
        for (const auto& key : keys) {
            if (key.line < 0) continue;
            std::vector<double> times;
            int lines = 0;
            for (int run = 0; run < runs; ++run) {
                QTextCursor caret(document.findBlockByNumber(key.line));
                caret.setPosition(caret.position() + key.column);
                area.setTextCursor(caret);
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, key.text);
                colours.TakeLinesColoured();
                const Clock::time_point start = Clock::now();
                QApplication::sendEvent(&area, &press);
                times.push_back(Ms(Clock::now() - start));
                lines += colours.TakeLinesColoured();
                area.undo();
                QApplication::processEvents(); // the checker's queued check, the paint
            }
            char label[96];
            std::snprintf(label, sizeof label, "key, %s: %s", coloured ? "coloured" : "no colours", key.name);
            char note[64] = "";
            if (coloured)
                std::snprintf(note, sizeof note, "  %.1f lines coloured per key", double(lines) / runs);
            Report(label, times, note);
        }
    }
    colours.setDocument(&document);
    QApplication::processEvents();
}

void CursorFrames(MainWindow& window, PlayingCursor& cursor, int runs) {
    window.MakeMidi();
    auto* player = window.findChild<MediaPlayer*>(QStringLiteral("mPlay"));
    player->Click(PlayerButton::Play);
    // Let the output start and the first note be heard.
    QElapsedTimer started;
    started.start();
    while (!cursor.Shown() && started.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    // How late the mark follows the heard position: the heard position is asked for here as often as the
    // event loop lets it, and the moment the event it gives changes is compared with the moment the cursor,
    // on its own timer, marks that event.
    std::vector<double> lags;
    std::optional<std::size_t> heardEvent;
    Clock::time_point heardAt;
    for (int changes = 0; changes < runs && player->Mode() == MediaMode::Playing;) {
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        const Clock::time_point now = Clock::now();
        const HeardPosition heard = window.Media().Heard();
        const std::optional<std::size_t> event =
            heard.sounding ? EventSoundingAt(cursor.Playing().events, heard.tick) : std::nullopt;
        if (event && event != heardEvent) {
            heardEvent = event;
            heardAt = now;
            ++changes;
        }
        if (heardEvent && cursor.Shown() == heardEvent && heardAt != Clock::time_point{}) {
            lags.push_back(Ms(now - heardAt));
            heardAt = {};
        }
    }
    Report("cursor: heard note to its mark (timer)", lags);

    // The frames are made here, one every 16 ms, in place of the cursor's own timer.
    cursor.findChild<QTimer*>()->stop();
    std::vector<double> all;
    std::vector<double> moved;
    std::vector<double> movedPainted;
    for (int run = 0; run < runs && player->Mode() == MediaMode::Playing; ++run) {
        const Clock::time_point next = Clock::now() + std::chrono::milliseconds(16);
        while (Clock::now() < next)
            QApplication::processEvents(QEventLoop::AllEvents, 2);
        const std::optional<std::size_t> before = cursor.Shown();
        const Clock::time_point start = Clock::now();
        cursor.Frame();
        const Clock::time_point updated = Clock::now();
        QApplication::processEvents(); // the paint of what changed
        all.push_back(Ms(updated - start));
        if (cursor.Shown() != before) {
            moved.push_back(Ms(updated - start));
            movedPainted.push_back(Ms(Clock::now() - start));
        }
    }
    player->Click(PlayerButton::Stop);
    Report("cursor frame, every frame", all);
    Report("cursor frame, the note moved", moved);
    Report("cursor frame and its paint, the note moved", movedPainted);
}

void PianoRollPaint(MainWindow& window, int runs) {
    PianoRoll roll;
    roll.resize(1000, 360);
    roll.show();
    const ScoreMap& map = window.Model().Map();
    const std::vector<std::int64_t> starts = EventStarts(map.timed);
    std::vector<std::int64_t> bars;
    for (const BarPlace& bar : map.bars)
        bars.push_back(starts[static_cast<std::size_t>(bar.eventsBefore)]);
    roll.SetNotes(NotesSounding(map.timed, window.Settings()), std::move(bars), starts.back());
    roll.ShowWhole();
    QApplication::processEvents();

    QImage picture(roll.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> full;
    for (int run = 0; run < runs; ++run) {
        QPainter painter(&picture);
        const Clock::time_point start = Clock::now();
        roll.PaintView(painter);
        painter.end();
        full.push_back(Ms(Clock::now() - start));
    }
    char label[96];
    std::snprintf(label, sizeof label, "piano roll, whole score (%zu notes)", roll.Notes().size());
    Report(label, full);

    std::vector<double> frames;
    for (int run = 0; run < runs; ++run) {
        const std::int64_t tick = starts.back() * run / runs;
        const Clock::time_point start = Clock::now();
        roll.SetPlayhead(tick);
        QApplication::processEvents(); // the paint of the two playhead columns
        frames.push_back(Ms(Clock::now() - start));
    }
    Report("piano roll, playhead frame (whole view kept)", frames);
}

void VerticalKeystrokes(MainWindow& window, int runs) {
    window.findChild<QAction*>(QStringLiteral("actVerticalScore"))->trigger();
    auto* vertical = window.findChild<VerticalScoreWindow*>();
    QApplication::processEvents();
    ScoreArea& area = window.Area();
    QTextDocument& document = *area.document();
    const int line = FindLine(document, document.blockCount() / 2,
                              [](const QString& l) { return l.contains(u'ロ') && !l.startsWith(u"//"); });
    std::vector<double> times;
    for (int run = 0; run < runs && line >= 0; ++run) {
        QTextCursor caret(document.findBlockByNumber(line));
        caret.setPosition(caret.position() + 6);
        area.setTextCursor(caret);
        QApplication::processEvents();
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, u"ロ"_qs);
        const Clock::time_point start = Clock::now();
        QApplication::sendEvent(&area, &press);
        QApplication::processEvents(); // the queued layout
        vertical->View().viewport()->repaint();
        times.push_back(Ms(Clock::now() - start));
        area.undo();
        QApplication::processEvents();
    }
    char label[96];
    std::snprintf(label, sizeof label, "縦譜, key to view redrawn (%d pages)", vertical->Score().pages);
    Report(label, times);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Options options = ParseOptions(argc, argv);
    const std::string bytes = ReadFileBytes(options.score);
    QString text;
    for (std::string_view line : SplitScoreFileLines(bytes))
        text += QString::fromStdString(DecodeCp932(line)) + u'\n';

    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    MainWindowOptions windowOptions;
    windowOptions.appDir = dir.path().toStdString() + "/";
    windowOptions.media = MediaOptions::ToWavFile(dir.path().toStdString() + "/preview.wav");
    windowOptions.reportError = [](const Failure& failure) { std::fprintf(stderr, "%s\n", failure.what()); };
    MainWindow window(std::move(windowOptions));
    window.show();
    window.Area().setPlainText(text);
    window.findChild<QScrollBar*>(QStringLiteral("scrTempo"))->setValue(254);
    window.findChild<QAction*>(QStringLiteral("actMetronome"))->setChecked(options.metronome);
    QApplication::processEvents();
    ScoreViews& views = *window.findChild<ScoreViews*>();

    const auto wanted = [&](const char* part) { return options.only.empty() || options.only == part; };
    if (wanted("keys")) Keystrokes(window, views.Colours(), options.runs);
    if (wanted("cursor")) CursorFrames(window, views.Cursor(), options.runs);
    if (wanted("roll")) PianoRollPaint(window, options.runs);
    if (wanted("vertical")) VerticalKeystrokes(window, options.runs);
    return 0;
}
