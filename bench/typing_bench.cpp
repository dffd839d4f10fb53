// typing_bench: one key typed into the middle of the 4096-note example's first pitch line and taken back with
// undo, with the notation typing mode off (the key types "r") and on (it types ロ with a placeholder under it
// and two spaces over it). Runs on Qt's offscreen platform.

#include "app/main_window.h"
#include "app/notation_entry.h"
#include "app/score_area.h"
#include "core/score_file_lines.h"
#include "platform/cp932.h"
#include "platform/file_io.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextBlock>
#include <benchmark/benchmark.h>

using namespace nagisora;

namespace {

void TypeKeyInLongScore(benchmark::State& state) {
    QTemporaryDir dir;
    MainWindowOptions options;
    options.appDir = dir.path().toStdString() + "/";
    options.media = MediaOptions::ToWavFile(dir.path().toStdString() + "/preview.wav");
    MainWindow window(std::move(options));
    const std::string bytes = ReadFileBytes(NAGISORA_EXAMPLES_DIR "/long-4096.txt");
    QString text;
    for (std::string_view line : SplitScoreFileLines(bytes))
        text += QString::fromStdString(DecodeCp932(line)) + u'\n';
    ScoreArea& area = window.Area();
    area.setPlainText(text);
    window.findChild<NotationEntry*>()->SetOn(state.range(0) != 0);
    QTextCursor caret(area.document()->findBlockByNumber(2)); // the first pitch line
    caret.setPosition(caret.position() + 20);
    area.setTextCursor(caret);
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, QStringLiteral("r"));
        QApplication::sendEvent(&area, &press);
        area.undo();
    }
    state.SetLabel(state.range(0) != 0 ? "typing mode" : "plain");
}
BENCHMARK(TypeKeyInLongScore)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
