// "MIDI/MusicXML から読込…" in the main window: the dialog of the pipe and the part, the text and settings it
// leaves, the import's findings in the problems window, the recent scores, drops, and files refused.

#include "app/main_window.h"
#include "app/recent_scores.h"
#include "app/score_checker.h"
#include "app/score_importer.h"
#include "app/unsaved_edits.h"
#include "core/conversion.h"
#include "core/score_file_lines.h"
#include "platform/cp932.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

using namespace nagisora;

namespace {

// The example score, played with other settings than the window's own.
const ConversionSettings TuneSettings{120, 0, 100, 5, true};

std::string TuneMidi() {
    const std::string score = test::ReadBytes(NAGISORA_EXAMPLES_DIR "/start-score.txt");
    return ConvertScore(SplitScoreFileLines(score), TuneSettings).midiData;
}

// Two parts, the first with a chord.
constexpr char TwoParts[] =
    "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list>"
    "<score-part id=\"P1\"><part-name>Flute</part-name></score-part>"
    "<score-part id=\"P2\"><part-name>Koto</part-name></score-part></part-list>"
    "<part id=\"P1\"><measure number=\"1\"><attributes><divisions>1</divisions></attributes>"
    "<note><pitch><step>A</step><octave>4</octave></pitch><duration>2</duration></note>"
    "<note><chord/><pitch><step>D</step><octave>4</octave></pitch><duration>2</duration></note>"
    "<note><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration></note></measure></part>"
    "<part id=\"P2\"><measure number=\"1\"><attributes><divisions>1</divisions></attributes>"
    "<note><pitch><step>F</step><octave>4</octave></pitch><duration>4</duration></note></measure></part>"
    "</score-partwise>";

// Answers the next import dialog once it is shown: the pipe and the part by their values (none: as
// proposed), or キャンセル. Keeps what it proposed.
struct DialogAnswer {
    DialogAnswer(std::optional<int> pipe, std::optional<int> part, bool accept = true) {
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [=, this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->objectName() != u"importDialog") return;
            poll.stop();
            shown = true;
            auto* pipeBox = dialog->findChild<QComboBox*>(QStringLiteral("cmbPipe"));
            auto* partBox = dialog->findChild<QComboBox*>(QStringLiteral("cmbPart"));
            proposedPipe = pipeBox->currentData().toInt();
            if (partBox) proposedPart = partBox->currentData().toInt();
            if (pipe) pipeBox->setCurrentIndex(pipeBox->findData(*pipe));
            if (part) partBox->setCurrentIndex(partBox->findData(*part));
            accept ? dialog->accept() : dialog->reject();
        });
        poll.start();
    }
    QTimer poll;
    bool shown = false;
    int proposedPipe = -1;
    std::optional<int> proposedPart;
};

class Harness : public test::WindowHarness {
  public:
    Harness() : mem(Get<QPlainTextEdit>("mem")) {}
    std::string Write(const std::string& name, std::string_view bytes) const {
        test::WriteBytes(Path(name), bytes);
        return Path(name);
    }
    void Import(const std::string& path) {
        answer = QString::fromStdString(path);
        Get<QAction>("actImport")->trigger();
    }
    QStringList ProblemRows() const {
        QStringList rows;
        const QListWidget* list = window->findChild<ScoreChecker*>()->ProblemsF().List();
        for (int r = 0; r < list->count(); ++r)
            rows.push_back(list->item(r)->text());
        return rows;
    }
    QPlainTextEdit* mem;
};

} // namespace

class ScoreImportTest : public QObject {
    Q_OBJECT

  private slots:
    void midiComesBackAsItWasConverted();
    void partPipeAndFindings();
    void refusedFilesChangeNothing_data();
    void refusedFilesChangeNothing();
};

// The text the import leaves converts with the window's settings, now those of the file, to the very MIDI
// file it came from; the step can be undone, counts as edits that no file has, and the file joins the recent
// scores, from which it is imported again, as when it is dropped.
void ScoreImportTest::midiComesBackAsItWasConverted() {
    Harness h;
    const QAction* action = h.Get<QAction>("actImport");
    QCOMPARE(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_I));
    QVERIFY(action->toolTip().endsWith(QStringLiteral("(Ctrl+I)")));
    h.SetScore(QStringLiteral("ロ\n"));
    const std::string midi = h.Write("tune.mid", TuneMidi());
    DialogAnswer answer(18, std::nullopt);
    h.Import(midi);
    QVERIFY(answer.shown);
    QVERIFY(h.messages.empty());
    QCOMPARE(h.requests.back().kind, FileDialogRequest::Kind::Open);
    QVERIFY(h.mem->toPlainText().contains(QStringLiteral("テンポ 120")));
    h.window->MakeMidi();
    QCOMPARE(h.window->MidiData(), test::ReadBytes(midi));
    QVERIFY(h.window->findChild<UnsavedEdits*>()->Edited());
    QCOMPARE(h.window->findChild<RecentScores*>()->Scores().front(), QString::fromStdString(midi));

    const QString imported = h.mem->toPlainText();
    h.mem->undo();
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("ロ\n"));
    {
        DialogAnswer again(std::nullopt, std::nullopt);
        h.window->OpenScore(QString::fromStdString(midi));
        QVERIFY(again.shown);
    }
    QCOMPARE(h.mem->toPlainText(), imported);

    h.mem->undo();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(midi))});
    DialogAnswer dropped(std::nullopt, std::nullopt);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(h.mem->viewport(), &enter); // a drop goes to the widget that took the entry
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(h.mem->viewport(), &drop);
    QTRY_VERIFY(dropped.shown);
    QCOMPARE(h.mem->toPlainText(), imported);
}

// Of two parts the dialog proposes the first and lists both; the pipe chosen is written for and remembered,
// and the findings stand in the problems window, first, until the next score replaces the text.
void ScoreImportTest::partPipeAndFindings() {
    Harness h;
    const std::string xml = h.Write("two.musicxml", TwoParts);
    {
        DialogAnswer answer(20, std::nullopt);
        h.Import(xml);
        QCOMPARE(answer.proposedPart, std::optional<int>(1));
    }
    QCOMPARE(ScoreImporter::RememberedPipe(), 20);
    QCOMPARE(h.window->Settings().transpose, -2);
    const QStringList rows = h.ProblemRows();
    QVERIFY(h.window->findChild<ScoreChecker*>()->ProblemsF().isVisible());
    QCOMPARE(rows.size(), 2); // the other part and the chord, and no finding of the checker
    QVERIFY(rows[0].contains(QStringLiteral(": 読込: パート 1 だけを読み込みました")));
    QVERIFY(rows[1].contains(QStringLiteral("和音")) &&
            rows[1].contains(QStringLiteral("（元の 1 小節 1 拍）")));

    // Lines typed before the findings move them down with their notes.
    QTextCursor start(h.mem->document());
    start.insertText(QStringLiteral("\n\n"));
    h.window->findChild<ScoreChecker*>()->CheckNow();
    QVERIFY(h.ProblemRows()[1].startsWith(QString::number(rows[1].split(u' ').front().toInt() + 2) + u' '));

    {
        DialogAnswer answer(std::nullopt, 2);
        h.Import(xml);
        QCOMPARE(answer.proposedPipe, 20);
    }
    QCOMPARE(h.ProblemRows().size(), 1); // the other part only
    h.window->ClearScore();
    QCOMPARE(h.ProblemRows(), QStringList{QStringLiteral("問題は見つかりません")});
}

void ScoreImportTest::refusedFilesChangeNothing_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");
    const std::string midi = TuneMidi();
    QTest::newRow("truncated") << QByteArray::fromStdString(midi.substr(0, midi.size() / 2)) << QString();
    QTest::newRow("no notes") << QByteArray("<score-partwise><part-list/></score-partwise>")
                              << QStringLiteral("音符がありません");
    QTest::newRow("not XML") << QByteArray("<score-partwise><part") << QString();
}

void ScoreImportTest::refusedFilesChangeNothing() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);
    Harness h;
    h.SetScore(QStringLiteral("ロ\n"));
    const std::string path = h.Write("bad.xml", bytes.toStdString());
    DialogAnswer answer(std::nullopt, std::nullopt);
    h.Import(path);
    QCOMPARE(h.messages.size(), std::size_t{1});
    QVERIFY2(h.messages[0].contains(QStringLiteral("bad.xml を読み込めません: ") + problem),
             qPrintable(h.messages[0]));
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("ロ\n"));
    QVERIFY(h.window->findChild<RecentScores*>()->Scores().isEmpty());
}

QTEST_MAIN(ScoreImportTest)
#include "score_import_test.moc"
