#include "app/fonts.h"
#include "app/main_window.h"
#include "app/media_player.h"
#include "app/message_box.h"
#include "core/conversion.h"
#include "core/instruments.h"
#include "core/score_file_lines.h"
#include "core/score_reader.h"
#include "platform/cp932.h"
#include "platform/file_io.h"
#include "window_harness.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

using namespace nagisora;

namespace {

using test::ReadBytes;
using test::WriteBytes;

bool Exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::string Sjis(std::string_view utf8) {
    return EncodeCp932(utf8).bytes;
}

using Harness = test::WindowHarness;

std::vector<std::string> StartScoreLines() {
    const std::string bytes = ReadBytes(NAGISORA_EXAMPLES_DIR "/start-score.txt");
    const std::vector<std::string_view> views = SplitScoreFileLines(bytes);
    return {views.begin(), views.end()};
}

std::string ExpectedImage(const std::vector<std::string>& lines, const ConversionSettings& settings) {
    const std::vector<std::string_view> views(lines.begin(), lines.end());
    return ConvertScore(views, settings).midiData;
}

// A score of n notes ロ, each an eighth of a beat, in line sets of at most 1000 notes (a line is read at most
// 4096 bytes long).
QString ShortNotes(int n) {
    QString text;
    for (int done = 0; done < n; done += 1000) {
        const int count = std::min(1000, n - done);
        text += QString(count, u'ロ') + u'\n' + QString(count, u'＊') + u'\n';
    }
    return text;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void startState();
    void focusOrder();
    void scrollBars_data();
    void scrollBars();
    void thumbDragUpdatesReadOut();
    void scoreLines_data();
    void scoreLines();
    void conversionWritesWorkFile();
    void conversionUsesSelectedInstrument();
    void midiSaveWritesImageAndCaption();
    void midiSaveCancelChangesNothing();
    void midiSaveFailures_data();
    void midiSaveFailures();
    void conversionFailures();
    void refusedScoreChangesNoFile();
    void configFolderAtCreation();
    void diagnosticList();
    void failureBox();
    void gothicFontIsTwoColumnsWide();
    void playerStateTable();
    void failedPlay_data();
    void failedPlay();
};

void MainWindowTest::startState() {
    Harness h;
    h.window->show();
    QCOMPARE(h.Get<QLabel>("pnlTempo")->text(), QStringLiteral("90"));
    QCOMPARE(h.Get<QLabel>("pnlOntei")->text(), QStringLiteral("0"));
    QCOMPARE(h.Get<QLabel>("pnlOnryo")->text(), QStringLiteral("64"));
    QCOMPARE(h.Get<QListWidget>("lstGakki")->currentRow(), 0);
    QCOMPARE(h.Get<QListWidget>("lstGakki")->selectedItems().size(), 1);
    QVERIFY(h.Get<QCheckBox>("chkOnshoku")->isChecked());
    QVERIFY(!h.Get<QPushButton>("btnMidSave")->isEnabled());
    QVERIFY(h.Get<QPushButton>("btnOk")->isEnabled());
    QCOMPARE(h.window->windowTitle(), QStringLiteral(" ナギソラ を MIDI データに変換"));
    QCOMPARE(h.window->size(), QSize(815, 474)); // 96 dpi offscreen
    QCOMPARE(h.window->minimumSize(), h.window->maximumSize());
    QVERIFY(!(h.window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(h.Get<QWidget>("mPlay")->geometry(), QRect(114, 357, 57, 21));
    QCOMPARE(h.window->focusWidget(), h.Get<QWidget>("btnOk"));
    QCOMPARE(h.window->Transpose(), 0);
    QCOMPARE(h.window->EventCount(), 0);
    QVERIFY(h.window->MidiData().empty());
    QVERIFY(Exists(h.Path("config")));

    // The example score: eleven lines, the same bytes as the example file.
    QCOMPARE(h.window->ScoreLines(), StartScoreLines());
    QCOMPARE(h.window->ScoreLines().size(), std::size_t{11});

    // The instrument rows are the core's, typos included.
    auto* instrumentList = h.Get<QListWidget>("lstGakki");
    QCOMPARE(instrumentList->count(), 128);
    for (int row = 0; row < 128; ++row)
        QCOMPARE(instrumentList->item(row)->text().toStdString(),
                 std::string(InstrumentRows[static_cast<std::size_t>(row)]));
    QCOMPARE(instrumentList->item(0x0C)->text(), QStringLiteral("0C Marinmba"));
    QCOMPARE(instrumentList->item(0x51)->text(), QStringLiteral("51 Lead2(sawtooth"));

    // Controls the user never sees.
    for (const char* hidden : {"btnDefOnpu", "Button1", "Edit1", "Edit2"})
        QVERIFY2(!h.Get<QWidget>(hidden)->isVisible(), hidden);
    QCOMPARE(h.Get<QLineEdit>("Edit1")->text(), QStringLiteral("2097152"));
    QVERIFY(h.Get<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
    QVERIFY(h.Get<QPlainTextEdit>("mem")->lineWrapMode() == QPlainTextEdit::NoWrap);
}

void MainWindowTest::focusOrder() {
    Harness h;
    h.window->show();
    QApplication::setActiveWindow(h.window.get());
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    h.Get<QPushButton>("btnMidSave")->setEnabled(true);
    QCOMPARE(QApplication::focusWidget(), h.Get<QWidget>("btnOk"));
    const QStringList expected = {"scrTempo",   "lstGakki", "btnSave",  "mem",     "btnLoad",    "btnCleatr",
                                  "btnMidSave", "scrOntei", "scrOnryo", "btnHelp", "chkOnshoku", "btnOk"};
    QStringList seen;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(seen, expected);
}

void MainWindowTest::scrollBars_data() {
    QTest::addColumn<QString>("bar");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("changes"); // how often the change handler runs
    using A = QAbstractSlider;
    struct Row {
        const char* name;
        const char* bar;
        const char* panel;
        int start;
        A::SliderAction action;
        int expected;
        int changes;
    };
    const Row rows[] = {
        {"tempo small step to max", "scrTempo", "pnlTempo", 253, A::SliderSingleStepAdd, 254, 1},
        {"tempo at max stays", "scrTempo", "pnlTempo", 254, A::SliderSingleStepAdd, 254, 0},
        {"tempo large step clamps", "scrTempo", "pnlTempo", 35, A::SliderPageStepSub, 30, 1},
        {"ontei home", "scrOntei", "pnlOntei", 0, A::SliderToMinimum, -16, 1},
        {"ontei end", "scrOntei", "pnlOntei", 0, A::SliderToMaximum, 16, 1},
        {"onryo large step clamps", "scrOnryo", "pnlOnryo", 120, A::SliderPageStepAdd, 127, 1},
    };
    for (const Row& row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.bar) << QString::fromLatin1(row.panel) << row.start
                                << int(row.action) << row.expected << row.changes;
}

void MainWindowTest::scrollBars() {
    QFETCH(QString, bar);
    QFETCH(QString, panel);
    QFETCH(int, start);
    QFETCH(int, action);
    QFETCH(int, expected);
    QFETCH(int, changes);
    Harness h;
    auto* scroll = h.Get<QScrollBar>(bar.toLatin1().constData());
    auto* readOut = h.Get<QLabel>(panel.toLatin1().constData());
    scroll->setValue(start);
    QCOMPARE(readOut->text(), QString::number(start));
    readOut->setText(QStringLiteral("untouched"));
    QSignalSpy spy(scroll, &QScrollBar::valueChanged);
    scroll->triggerAction(static_cast<QAbstractSlider::SliderAction>(action));
    QCOMPARE(scroll->value(), expected);
    QCOMPARE(spy.count(), changes);
    QCOMPARE(readOut->text(), changes == 0 ? QStringLiteral("untouched") : QString::number(expected));
    if (bar == QLatin1String("scrOntei")) QCOMPARE(h.window->Transpose(), expected);
}

// The read-out follows the thumb while it is dragged, not only when it is let go; the arrow keys move the
// position by the small step.
void MainWindowTest::thumbDragUpdatesReadOut() {
    Harness h;
    auto* volumeBar = h.Get<QScrollBar>("scrOnryo");
    auto* readOut = h.Get<QLabel>("pnlOnryo");
    volumeBar->setSliderDown(true);
    volumeBar->setSliderPosition(100);
    QCOMPARE(readOut->text(), QStringLiteral("100"));
    volumeBar->setSliderPosition(127);
    QCOMPARE(readOut->text(), QStringLiteral("127"));
    volumeBar->setSliderDown(false);

    h.window->show();
    auto* tempo = h.Get<QScrollBar>("scrTempo");
    QTest::keyClick(tempo, Qt::Key_Right);
    QCOMPARE(h.Get<QLabel>("pnlTempo")->text(), QStringLiteral("92"));
    QTest::keyClick(tempo, Qt::Key_PageUp);
    QCOMPARE(h.Get<QLabel>("pnlTempo")->text(), QStringLiteral("82"));
    QTest::keyClick(tempo, Qt::Key_End);
    QCOMPARE(h.Get<QLabel>("pnlTempo")->text(), QStringLiteral("254"));
    QTest::keyClick(tempo, Qt::Key_Left);
    QCOMPARE(h.Get<QLabel>("pnlTempo")->text(), QStringLiteral("252"));
}

void MainWindowTest::scoreLines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines"); // UTF-8 form of the expected code page 932 lines
    QTest::newRow("empty area") << QString() << QStringList{};
    QTest::newRow("one line without break") << QStringLiteral("ロツ") << QStringList{"ロツ"};
    QTest::newRow("final break is no line") << QStringLiteral("ロツ\n") << QStringList{"ロツ"};
    QTest::newRow("empty lines inside and at the end")
        << QStringLiteral("a\n\n\nb\n\n") << QStringList{"a", "", "", "b", ""};
    QTest::newRow("unmappable becomes ?") << QStringLiteral("ロ😀ツ é") << QStringList{"ロ?ツ ?"};
    QTest::newRow("line separator breaks the line")
        << (QStringLiteral("ロ") + QChar(QChar::LineSeparator) + QStringLiteral("ツ"))
        << QStringList{"ロ", "ツ"};
    QTest::newRow("blanks kept") << QStringLiteral("  ロ　\t") << QStringList{"  ロ　\t"};
}

void MainWindowTest::scoreLines() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    Harness h;
    h.SetScore(text);
    std::vector<std::string> expected;
    for (const QString& line : lines)
        expected.push_back(Sjis(line.toStdString()));
    QCOMPARE(h.window->ScoreLines(), expected);
}

// Every setting of the controls reaches the image, and the work file holds exactly the image of the one
// conversion chain.
void MainWindowTest::conversionWritesWorkFile() {
    Harness h;
    h.window->show();
    h.Get<QScrollBar>("scrTempo")->setValue(120);
    h.Get<QScrollBar>("scrOntei")->setValue(-3);
    h.Get<QScrollBar>("scrOnryo")->setValue(100);
    h.Get<QListWidget>("lstGakki")->setCurrentRow(5);
    h.Get<QCheckBox>("chkOnshoku")->setChecked(false);
    h.Get<QPushButton>("btnOk")->click();
    QVERIFY2(h.messages.empty(), qPrintable(h.messages.empty() ? QString() : h.messages.front()));

    const std::string expected = ExpectedImage(StartScoreLines(), ConversionSettings{120, -3, 100, 5, false});
    QVERIFY(!expected.empty());
    QCOMPARE(h.window->MidiData(), expected);
    QCOMPARE(ReadBytes(h.window->WorkFilePath()), expected);
    QCOMPARE(h.window->WorkFilePath(), h.AppDir() + "config/work.mid");
    QVERIFY(h.Get<QPushButton>("btnMidSave")->isEnabled());
    QVERIFY(h.Get<MediaPlayer>("mPlay")->IsOpen());
    QCOMPARE(h.window->EventCount(), 41);

    // A second conversion replaces the work file and opens the player on it again.
    h.Get<QCheckBox>("chkOnshoku")->setChecked(true);
    h.Get<QPushButton>("btnOk")->click();
    const std::string second = ExpectedImage(StartScoreLines(), ConversionSettings{120, -3, 100, 5, true});
    QVERIFY(second != expected);
    QCOMPARE(ReadBytes(h.window->WorkFilePath()), second);
    QVERIFY(h.Get<MediaPlayer>("mPlay")->IsOpen());
}

void MainWindowTest::conversionUsesSelectedInstrument() {
    Harness h;
    h.window->show();
    auto* instrumentList = h.Get<QListWidget>("lstGakki");
    instrumentList->setCurrentRow(0x4D);
    QCOMPARE(instrumentList->currentItem()->text(), QStringLiteral("4D Shakuhachi"));
    h.window->MakeMidi();
    const std::string& image = h.window->MidiData();
    QVERIFY(image.size() > 24);
    QCOMPARE(static_cast<unsigned char>(image[23]), 0xC0);
    QCOMPARE(static_cast<int>(image[24]), 77);
}

void MainWindowTest::midiSaveWritesImageAndCaption() {
    Harness h;
    h.window->show();
    h.window->MakeMidi();
    const std::string target = h.Path("kyoku");
    WriteBytes(target, "old contents");
    h.answer = QString::fromStdString(target);
    h.Get<QPushButton>("btnMidSave")->click();
    QVERIFY(h.messages.empty());
    QCOMPARE(ReadBytes(target), h.window->MidiData());
    QCOMPARE(h.window->windowTitle(), QStringLiteral("kyoku"));

    QCOMPARE(h.requests.size(), std::size_t{1});
    const FileDialogRequest& request = h.requests.front();
    QVERIFY(request.kind == FileDialogRequest::Kind::Save);
    QCOMPARE(request.folder.toStdString() + "/", h.AppDir());
    QCOMPARE(request.filter, QStringLiteral("*mid (*.mid)"));
    QVERIFY(request.defaultSuffix.isEmpty());

    // Saving touches neither the image nor the work file.
    QCOMPARE(ReadBytes(h.window->WorkFilePath()), h.window->MidiData());
}

void MainWindowTest::midiSaveCancelChangesNothing() {
    Harness h;
    h.window->MakeMidi();
    const QString caption = h.window->windowTitle();
    h.answer.reset();
    h.window->SaveMidi();
    QCOMPARE(h.requests.size(), std::size_t{1});
    QCOMPARE(h.window->windowTitle(), caption);
    QVERIFY(h.messages.empty());
    QDir dir(QString::fromStdString(h.AppDir()));
    QCOMPARE(dir.entryList(QDir::Files), QStringList{});
}

void MainWindowTest::midiSaveFailures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("writeProtected");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("caption");
    QTest::newRow("missing folder") << "no-such-folder/a.mid" << false << "不正なﾌｧｲﾙ名です."
                                    << "a.mid";
    QTest::newRow("write-protected file") << "locked.mid" << true << "ﾌｧｲﾙへのｱｸｾｽが拒否されました."
                                          << "locked.mid";
    QTest::newRow("a folder") << "config" << false << "ﾌｧｲﾙへのｱｸｾｽが拒否されました."
                              << "config";
}

// The caption shows the chosen name before the file is written, so also when writing fails; the file is left
// as it was.
void MainWindowTest::midiSaveFailures() {
    QFETCH(QString, name);
    QFETCH(bool, writeProtected);
    QFETCH(QString, message);
    QFETCH(QString, caption);
    Harness h;
    h.window->MakeMidi();
    const std::string target = h.Path(name.toStdString());
    if (writeProtected) {
        WriteBytes(target, "keep me");
        ::chmod(target.c_str(), 0444);
    }
    h.answer = QString::fromStdString(target);
    h.window->SaveMidi();
    QCOMPARE(h.messages, std::vector<QString>{message});
    QCOMPARE(h.window->windowTitle(), caption);
    if (writeProtected) QCOMPARE(ReadBytes(target), std::string("keep me"));
}

// A failed write of the work file ends the conversion there: the image is kept, the player stays closed and
// "MIDI 保存" is not enabled.
void MainWindowTest::conversionFailures() {
    {
        Harness h;
        const std::string work = h.Path("config/work.mid");
        WriteBytes(work, "previous");
        ::chmod(work.c_str(), 0444);
        h.window->MakeMidi();
        QCOMPARE(h.messages, std::vector<QString>{QStringLiteral("ﾌｧｲﾙへのｱｸｾｽが拒否されました.")});
        QCOMPARE(ReadBytes(work), std::string("previous"));
        QVERIFY(!h.window->MidiData().empty());
        QVERIFY(!h.Get<QPushButton>("btnMidSave")->isEnabled());
        QVERIFY(!h.Get<MediaPlayer>("mPlay")->IsOpen());
    }
    {
        // The config folder vanished after start: a folder on the path is missing.
        Harness h;
        QVERIFY(QDir(QString::fromStdString(h.Path("config"))).removeRecursively());
        h.window->MakeMidi();
        QCOMPARE(h.messages, std::vector<QString>{QStringLiteral("不正なﾌｧｲﾙ名です.")});
        QVERIFY(!Exists(h.Path("config")));
    }
    {
        // A conversion after a good one closes the player first; failing later leaves it closed, and the
        // enabled "MIDI 保存" then saves the new image.
        Harness h;
        h.window->MakeMidi();
        QVERIFY(h.Get<MediaPlayer>("mPlay")->IsOpen());
        ::chmod(h.window->WorkFilePath().c_str(), 0444);
        h.Get<QScrollBar>("scrTempo")->setValue(200);
        h.window->MakeMidi();
        QCOMPARE(h.messages.size(), std::size_t{1});
        QVERIFY(!h.Get<MediaPlayer>("mPlay")->IsOpen());
        QVERIFY(h.Get<QPushButton>("btnMidSave")->isEnabled());
        QCOMPARE(h.window->MidiData(),
                 ExpectedImage(StartScoreLines(), ConversionSettings{200, 0, 64, 0, true}));
    }
}

// More notes than the event list holds: the core refuses the score, the message is shown and no file or state
// changes.
void MainWindowTest::refusedScoreChangesNoFile() {
    Harness h;
    h.window->MakeMidi();
    const std::string image = h.window->MidiData();
    h.SetScore(ShortNotes(4097));
    h.window->MakeMidi();
    QCOMPARE(h.messages,
             std::vector<QString>{QString::fromUtf8(TooManyNotesMessage.data(), TooManyNotesMessage.size()) +
                                  u'.'});
    QCOMPARE(h.window->MidiData(), image);
    QCOMPARE(ReadBytes(h.window->WorkFilePath()), image);

    // 4096 notes are still converted; the image is written whole although it is longer than 4096 bytes.
    h.messages.clear();
    h.SetScore(ShortNotes(4096));
    h.window->MakeMidi();
    QVERIFY(h.messages.empty());
    QCOMPARE(h.window->EventCount(), 4096);
    QVERIFY(h.window->MidiData().size() > 4096);
    QCOMPARE(ReadBytes(h.window->WorkFilePath()), h.window->MidiData());
}

void MainWindowTest::configFolderAtCreation() {
    {
        // An existing folder stays as it is.
        Harness h([](const std::string& dir) {
            QDir().mkpath(QString::fromStdString(dir + "config"));
            WriteBytes(dir + "config/work.mid", "left by an earlier run");
        });
        QVERIFY(h.messages.empty());
        QCOMPARE(ReadBytes(h.Path("config/work.mid")), std::string("left by an earlier run"));
    }
    {
        // A plain file named config: reported, and the window opens all the same.
        Harness h([](const std::string& dir) { WriteBytes(dir + "config", "plain"); });
        QCOMPARE(h.messages, std::vector<QString>{QStringLiteral("I/O ｴﾗｰ (183).")});
        h.window->show();
        QVERIFY(h.window->isVisible());
        h.window->MakeMidi();
        QCOMPARE(h.messages.size(), std::size_t{2});
        QCOMPARE(ReadBytes(h.Path("config")), std::string("plain"));
    }
}

// "Button1": the reader's events without the tuplet pass, appended to Memo1 as "key / ticks".
void MainWindowTest::diagnosticList() {
    Harness h;
    auto* memo = h.Get<QPlainTextEdit>("Memo1");
    h.SetScore(QStringLiteral("乙ロツ○\n　－＋３\n"));
    h.Get<QPushButton>("Button1")->click();
    QCOMPARE(memo->toPlainText(), QStringLiteral("50 / 120\n53 / 60\n0 / 3"));
    QCOMPARE(h.window->EventCount(), 3);

    h.Get<QScrollBar>("scrOntei")->setValue(2);
    h.window->ShowReadEvents();
    QCOMPARE(memo->toPlainText(), QStringLiteral("50 / 120\n53 / 60\n0 / 3\n52 / 120\n55 / 60\n0 / 3"));
    QVERIFY(h.window->MidiData().empty());
    QVERIFY(!Exists(h.window->WorkFilePath()));
}

// The application's message box: error icon, the application's title, the message and a full stop.
void MainWindowTest::failureBox() {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    ShowFailureBox(nullptr, Failure::File(IoCode::FileInUse));
    QCOMPARE(title, QStringLiteral("ナギソラ"));
    QCOMPARE(text, QStringLiteral("I/O ｴﾗｰ (32)."));
    QCOMPARE(icon, QMessageBox::Critical);
}

// In the score area a full-width character is exactly two half-width columns wide, so timbre numbers stand
// over the pitch symbols.
void MainWindowTest::gothicFontIsTwoColumnsWide() {
    QPlainTextEdit edit;
    for (int pixels = 12; pixels <= 24; ++pixels) {
        edit.setFont(GothicFont(pixels));
        const QFontMetricsF metrics(edit.font());
        const qreal half = metrics.horizontalAdvance(QString(80, u'0'));
        const qreal full = metrics.horizontalAdvance(QString(40, u'ロ'));
        QVERIFY2(half > 0 && qFuzzyCompare(full, half),
                 qPrintable(QStringLiteral("%1 px: %2 against %3").arg(pixels).arg(full).arg(half)));
        QCOMPARE(metrics.horizontalAdvance(QStringLiteral("  16    38")),
                 metrics.horizontalAdvance(QStringLiteral("乙ロ　｜ツ")));
    }
    QCOMPARE(QFontInfo(GothicFont(12)).family(), QStringLiteral("IPAGothic"));
    QCOMPARE(QFontInfo(PGothicFont(12)).family(), QStringLiteral("IPAPGothic"));
    QCOMPARE(QFontInfo(GothicFont(12)).pixelSize(), 12);
}

// The preview's state as the window shows it, named as the player's state table names it.
QString PlayerState(const Harness& h) {
    auto* player = h.Get<MediaPlayer>("mPlay");
    const bool ok = h.Get<QPushButton>("btnOk")->isEnabled();
    const MPButtonSet buttons = player->AvailableButtons();
    const auto only = [](std::initializer_list<PlayerButton> set) {
        MPButtonSet result;
        for (const PlayerButton b : set)
            result.set(static_cast<std::size_t>(b));
        return result;
    };
    if (!player->IsOpen() && buttons.none() && ok) return QStringLiteral("No file");
    if (player->IsOpen() && buttons == only({PlayerButton::Play}) && ok &&
        player->Mode() == MediaMode::Stopped)
        return QStringLiteral("Ready");
    if (player->IsOpen() && buttons == only({PlayerButton::Stop}) && !ok &&
        player->Mode() == MediaMode::Playing)
        return QStringLiteral("Playing");
    return QStringLiteral("none of them");
}

// The player's state table, walked through its transitions. Every Play after the first swaps the new music
// into the output the first one opened: the preview's WAV file goes on growing instead of starting anew. The
// window is Ready as the player says that the music has ended, not some poll later.
void MainWindowTest::playerStateTable() {
    Harness h;
    h.window->show();
    auto* player = h.Get<MediaPlayer>("mPlay");
    QCOMPARE(player->focusPolicy(), Qt::NoFocus);
    std::vector<QString> statesAtEnd;
    const QObject listener;
    connect(player, &MediaPlayer::musicEnded, &listener, [&] { statesAtEnd.push_back(PlayerState(h)); });
    // Two beats at tempo 254: half a second, time enough to see it playing.
    h.SetScore(QStringLiteral("ロ\n　\n"));
    h.Get<QScrollBar>("scrTempo")->setValue(254);
    const auto previewBytes = [&] { return QFileInfo(QString::fromStdString(h.PreviewPath())).size(); };
    qint64 previewBefore = 0;
    qint64 previewAfter = 0;
    const struct {
        const char* step;
        std::function<void()> act;
        QString state;
    } steps[] = {
        {"start", [] {}, "No file"},
        {"Play before any conversion does nothing", [&] { player->Click(PlayerButton::Play); }, "No file"},
        {"MIDI 作成", [&] { h.window->MakeMidi(); }, "Ready"},
        {"Play", [&] { player->Click(PlayerButton::Play); }, "Playing"},
        {"Stop", [&] { player->Click(PlayerButton::Stop); }, "Ready"},
        {"MIDI 作成 again", [&] { h.window->MakeMidi(); }, "Ready"},
        {"Play again",
         [&] {
             QTRY_VERIFY(previewBytes() > 44); // the output has written audio
             previewBefore = previewBytes();
             player->Click(PlayerButton::Play);
             previewAfter = previewBytes(); // an output opened anew would have started the file again
         },
         "Playing"},
        {"the music ends", [&] { QTRY_COMPARE_WITH_TIMEOUT(PlayerState(h), QStringLiteral("Ready"), 5000); },
         "Ready"},
        {"MIDI 作成 fails after closing the player",
         [&] {
             ::chmod(h.window->WorkFilePath().c_str(), 0444);
             h.window->MakeMidi();
         },
         "No file"},
    };
    for (const auto& step : steps) {
        step.act();
        QVERIFY2(PlayerState(h) == step.state, step.step);
    }
    QVERIFY2(previewAfter >= previewBefore, "the output was opened anew");
    QCOMPARE(statesAtEnd, std::vector<QString>{QStringLiteral("Ready")});
    QCOMPARE(h.messages.size(), std::size_t{1}); // the failed conversion's
}

void MainWindowTest::failedPlay_data() {
    QTest::addColumn<bool>("soundless");
    QTest::addColumn<QString>("message");
    QTest::newRow("work file rewritten by another window") << false << QString();
    QTest::newRow("no sound server") << true
                                     << QStringLiteral(
                                            "音を出せません: サウンド デバイスが使えません (pulseaudio: ");
}

// Without a sound server the window converts and saves MIDI files without a message; Play, which opens the
// window's image anew and the audio output, reports once why it cannot sound, and the window is Ready again
// once the press has been handled. Another window converting into the same work file changes nothing that
// this one plays.
void MainWindowTest::failedPlay() {
    QFETCH(bool, soundless);
    QFETCH(QString, message);
    QTemporaryDir noServer;
    qputenv("PULSE_SERVER", "unix:" + noServer.filePath(QStringLiteral("socket")).toUtf8());
    MediaOptions pulseOnly;
    pulseOnly.audioDrivers = {"pulseaudio"};
    Harness h({}, soundless ? std::optional(pulseOnly) : std::nullopt);
    h.window->MakeMidi();
    h.answer = QString::fromStdString(h.Path("saved.mid"));
    h.window->SaveMidi();
    QCOMPARE(h.messages, std::vector<QString>{});
    QCOMPARE(ReadBytes(h.Path("saved.mid")), h.window->MidiData());
    QCOMPARE(PlayerState(h), QStringLiteral("Ready"));
    const std::int64_t length = h.window->Media().Length();

    const std::string other = ExpectedImage({"", "\x83\x8D", "\x81\x7C"}, {}); // ロ, one beat
    if (!soundless) WriteBytes(h.window->WorkFilePath(), other);
    auto* player = h.Get<MediaPlayer>("mPlay");
    player->Click(PlayerButton::Play);
    if (!soundless) {
        QCOMPARE(h.messages, std::vector<QString>{});
        QCOMPARE(PlayerState(h), QStringLiteral("Playing"));
        QCOMPARE(h.window->Media().Length(), length);
        QCOMPARE(ReadBytes(h.window->WorkFilePath()), other);
        player->Click(PlayerButton::Stop);
    } else {
        QCOMPARE(h.messages.size(), std::size_t{1});
        QVERIFY2(h.messages.front().startsWith(message), qPrintable(h.messages.front()));
        QVERIFY(h.messages.front().endsWith(u'.'));
        QVERIFY(!h.messages.front().contains(QStringLiteral(".;")));
        QVERIFY(!player->IsOpen());
        QVERIFY(player->AvailableButtons().none());
        QVERIFY(!h.Get<QPushButton>("btnOk")->isEnabled());
    }
    QTRY_COMPARE_WITH_TIMEOUT(PlayerState(h), QStringLiteral("Ready"), 2000);
    qunsetenv("PULSE_SERVER");
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
