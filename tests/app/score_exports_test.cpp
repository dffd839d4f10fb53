// The exports of the score area's context menu: MusicXML and WAV files through the save dialog, the WAV file
// rendered beside a window that goes on working.

#include "app/score_area.h"
#include "app/score_exports.h"
#include "app/score_model.h"
#include "core/musicxml.h"
#include "platform/cp932.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace nagisora;

class ScoreExportsTest : public QObject {
    Q_OBJECT

  private slots:
    void musicXmlOfTheTextAndSettingsInTheFolderLastChosen();
    void wavRenderedBesideTheWindowAndStoppedWithoutAFile();
    void wavWithThePreviewsSoundFontAndItsFailureReported();
    void exportsRefuseOpenFilesAndAskBeforeReplacing_data();
    void exportsRefuseOpenFilesAndAskBeforeReplacing();
};

void ScoreExportsTest::musicXmlOfTheTextAndSettingsInTheFolderLastChosen() {
    test::WindowHarness h;
    auto* action = h.Get<QAction>("actMusicXmlSave");
    QVERIFY(std::unique_ptr<QMenu>(h.window->Area().MakeContextMenu())->actions().contains(action));
    QVERIFY(h.window->actions().contains(action)); // the shortcut works anywhere in the window
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+X")));
    h.Get<QScrollBar>("scrOntei")->setValue(3);
    const std::span<const std::string_view> lines = h.window->Model().Lines();
    const std::string expected =
        ExportMusicXml(lines, h.window->Settings(), DecodeCp932(FirstCommentText(lines))).text;
    QVERIFY(expected.find("<alter>") != std::string::npos); // transposed: the start score has no alterations
    QVERIFY(QDir().mkpath(h.AppDirPath() + QStringLiteral("/out")));
    const std::string path = h.Path("out/score.musicxml");
    h.answer = QString::fromStdString(path);
    action->trigger();
    QCOMPARE(test::ReadBytes(path), expected);
    QCOMPARE(h.requests.back().folder, h.AppDirPath());

    // The next dialog starts where this one ended; a cancel writes nothing.
    test::WriteBytes(path, "kept");
    h.answer.reset();
    action->trigger();
    QCOMPARE(h.requests.back().folder, h.AppDirPath() + QStringLiteral("/out"));
    QCOMPARE(test::ReadBytes(path), std::string("kept"));
    QVERIFY(h.messages.empty());
}

void ScoreExportsTest::wavRenderedBesideTheWindowAndStoppedWithoutAFile() {
    test::WindowHarness h;
    auto* exports = h.window->findChild<ScoreExports*>(QStringLiteral("scoreExports"));
    auto* action = h.Get<QAction>("actWavSave");
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+W")));
    QSignalSpy ended(exports, &ScoreExports::WavEnded);
    h.answer = QString::fromStdString(h.Path("start.wav"));
    action->trigger();
    QVERIFY(exports->Rendering() && !action->isEnabled());
    QVERIFY(ended.wait(30000));
    const std::string wav = test::ReadBytes(h.Path("start.wav"));
    QCOMPARE(wav.substr(0, 4), std::string("RIFF"));
    // 2192 ticks at division 90 are 12.18 s of music: 44100 frames a second of 16-bit stereo.
    QVERIFY(wav.size() - 44 >= static_cast<std::size_t>(12.17 * 44100) * 4);
    QVERIFY(action->isEnabled());

    // A long score shows its progress; "中止" stops it and leaves no file, not even a temporary one, as does
    // closing the window.
    h.SetScore(QString::fromStdString(DecodeCp932(test::ReadBytes(NAGISORA_EXAMPLES_DIR "/long-4096.txt"))));
    h.answer = QString::fromStdString(h.Path("long.wav"));
    const auto longFiles = [&] {
        return QDir(h.AppDirPath())
            .entryList({QStringLiteral("long.wav"), QStringLiteral(".nagisora-*")},
                       QDir::Files | QDir::Hidden);
    };
    action->trigger();
    auto* progress = h.Get<QProgressDialog>("wavProgress");
    QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible() && progress->value() > 0, 10000);
    progress->findChild<QPushButton*>()->click();
    QVERIFY(ended.wait(10000));
    QCOMPARE(longFiles(), QStringList());
    action->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!longFiles().isEmpty(), 10000);
    h.window.reset();
    QCOMPARE(longFiles(), QStringList());
    QVERIFY(h.messages.empty());
}

void ScoreExportsTest::wavWithThePreviewsSoundFontAndItsFailureReported() {
    MediaOptions media = MediaOptions::ToWavFile(QDir::tempPath().toStdString() + "/nagisora-unused.wav");
    media.soundFont = "/nonexistent/missing.sf2";
    test::WindowHarness h({}, media);
    QSignalSpy ended(h.window->findChild<ScoreExports*>(QStringLiteral("scoreExports")),
                     &ScoreExports::WavEnded);
    h.answer = QString::fromStdString(h.Path("start.wav"));
    h.Get<QAction>("actWavSave")->trigger();
    QVERIFY(ended.wait(10000));
    QCOMPARE(h.messages.size(), std::size_t{1});
    QVERIFY2(h.messages.front().contains(QStringLiteral("missing.sf2")), qPrintable(h.messages.front()));
    QVERIFY(!QFile::exists(QString::fromStdString(h.Path("start.wav"))));
}

void ScoreExportsTest::exportsRefuseOpenFilesAndAskBeforeReplacing_data() {
    QTest::addColumn<QString>("target"); // a name in AppDir, or "work" for the work file
    QTest::addColumn<QString>("answer"); // the button clicked in the question
    QTest::addColumn<QString>("message");
    const QString refused = QStringLiteral("出力先が開いているファイルと同じです: %1 (%2).");
    QTest::newRow("the score") << "victim.txt"
                               << "" << refused.arg("victim.txt", "開いている楽譜");
    QTest::newRow("the work file") << "work"
                                   << "" << refused.arg("work.mid", "作成した MIDI");
    QTest::newRow("another file, kept") << "other.xml"
                                        << "キャンセル"
                                        << "";
    QTest::newRow("another file, replaced") << "other.xml"
                                            << "置き換える"
                                            << "";
}

// As the command line refuses an output that is an input, the exports refuse the files the window has open,
// and ask before replacing any other file.
void ScoreExportsTest::exportsRefuseOpenFilesAndAskBeforeReplacing() {
    QFETCH(QString, target);
    QFETCH(QString, answer);
    QFETCH(QString, message);
    test::WindowHarness h;
    test::WriteBytes(h.Path("victim.txt"), "\x83\x8D\r\n\x81\x7C\r\n");
    test::WriteBytes(h.Path("other.xml"), "kept");
    h.window->OpenScore(QString::fromStdString(h.Path("victim.txt")));
    h.window->MakeMidi();
    const std::string path = target == u"work" ? h.window->WorkFilePath() : h.Path(target.toStdString());
    const std::string before = test::ReadBytes(path);
    h.answer = QString::fromStdString(path);
    {
        test::BoxAnswer box(answer);
        h.Get<QAction>("actMusicXmlSave")->trigger();
        QCOMPARE(box.text,
                 answer.isEmpty() ? QString() : QStringLiteral("other.xml は既にあります。置き換えますか?"));
        QCOMPARE(box.defaultButton, answer.isEmpty() ? QString() : QStringLiteral("キャンセル"));
    }
    QCOMPARE(h.messages.empty() ? QString() : h.messages.front(), message);
    QCOMPARE(test::ReadBytes(path).starts_with("<?xml"), answer == u"置き換える");
    if (answer != u"置き換える") QCOMPARE(test::ReadBytes(path), before);
}

QTEST_MAIN(ScoreExportsTest)
#include "score_exports_test.moc"
