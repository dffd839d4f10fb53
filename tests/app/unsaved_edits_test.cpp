// Edits that no file has: the edited state through loads, typing, undo, saves and clearing, the question when
// the window closes with edits, and the copy of the text that comes back after the program was killed.

#include "app/score_area.h"
#include "app/score_recovery.h"
#include "app/unsaved_edits.h"
#include "window_harness.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTest>
#include <QWindow>
#include <string_view>

using namespace nagisora;

namespace {

constexpr char ChildOption[] = "--recovery-child";
const QString ChildText = QStringLiteral("// 打ち込み中\nロツレ\n－－－\n");

// The program as a crash finds it: a window with recovery on, the text typed, waiting to be killed.
int RecoveryChild(int argc, char** argv) {
    QApplication application(argc, argv);
    test::WindowHarness h;
    new ScoreRecovery(h.window->Session(), QString::fromLocal8Bit(argv[2]));
    h.window->show();
    h.window->Area().selectAll();
    h.window->Area().insertPlainText(ChildText);
    return QApplication::exec();
}

} // namespace

class UnsavedEditsTest : public QObject {
    Q_OBJECT

  private slots:
    void editedState_data();
    void editedState();
    void killedWindowsTextComesBack();
};

// The steps: load, type, erase (what was typed), undo, clear, pause (until the text is compared), choose (the
// file 楽譜保存's dialog gives), save, close:ANSWER (the button clicked in the question, if one comes).
void UnsavedEditsTest::editedState_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("edited");
    QTest::addColumn<bool>("closed");
    QTest::newRow("typed, undone") << QStringList{"type", "undo"} << false << false;
    QTest::newRow("typed, loaded") << QStringList{"type", "load"} << false << false;
    QTest::newRow("loaded, typed, undone") << QStringList{"load", "type", "undo"} << false << false;
    QTest::newRow("load undone") << QStringList{"load", "undo"} << true << false;
    QTest::newRow("saved, typed") << QStringList{"type", "choose", "save", "type"} << true << false;
    QTest::newRow("loaded, cleared") << QStringList{"load", "clear"} << true << false;
    QTest::newRow("clear undone") << QStringList{"load", "clear", "undo"} << false << false;
    QTest::newRow("typed, erased, paused") << QStringList{"type", "erase", "pause"} << false << false;
    QTest::newRow("closed, no edits") << QStringList{"close:"} << false << true;
    QTest::newRow("キャンセル") << QStringList{"type", "close:キャンセル"} << true << false;
    QTest::newRow("保存しない") << QStringList{"type", "close:保存しない"} << true << true;
    QTest::newRow("保存, dialog cancelled") << QStringList{"type", "close:保存"} << true << false;
    QTest::newRow("保存") << QStringList{"type", "choose", "close:保存"} << false << true;
}

void UnsavedEditsTest::editedState() {
    QFETCH(QStringList, steps);
    QFETCH(bool, edited);
    QFETCH(bool, closed);
    test::WindowHarness h;
    test::WriteBytes(h.Path("score.txt"), "\x83\x8D\x83\x63\r\n\x81\x7C\x81\x7C\r\n"); // ロツ －－
    h.window->show();
    ScoreArea& mem = h.window->Area();
    auto* edits = h.window->findChild<UnsavedEdits*>();
    for (const QString& step : steps) {
        if (step == u"load") h.window->OpenScore(QString::fromStdString(h.Path("score.txt")));
        if (step == u"type") QTest::keyClicks(&mem, QStringLiteral("ab"));
        if (step == u"erase")
            QTest::keyClick(&mem, Qt::Key_Backspace), QTest::keyClick(&mem, Qt::Key_Backspace);
        if (step == u"undo") mem.undo();
        if (step == u"clear") h.window->ClearScore();
        if (step == u"pause") QTRY_VERIFY_WITH_TIMEOUT(!edits->Edited(), 3 * UnsavedEdits::PauseMs);
        if (step == u"choose") h.answer = QString::fromStdString(h.Path("saved.txt"));
        if (step == u"save") h.window->SaveScore();
        if (step.startsWith(u"close:")) {
            const bool asked = edits->Edited();
            test::BoxAnswer box(step.mid(6));
            h.window->close();
            QCOMPARE(box.text, asked ? QStringLiteral("楽譜が変更されています。保存しますか?") : QString());
            QCOMPARE(box.defaultButton, asked ? QStringLiteral("キャンセル") : QString());
        }
    }
    QCOMPARE(edits->Edited(), edited);
    QCOMPARE(h.window->windowHandle()->title(),
             (edited ? QStringLiteral("*") : QString()) + h.window->windowTitle());
    QCOMPARE(h.window->isVisible(), !closed);
    QVERIFY(h.messages.empty());
}

// A program killed with edits leaves its copy; the next start offers it back, and a copy of a program that
// still runs is not offered.
void UnsavedEditsTest::killedWindowsTextComesBack() {
    QTemporaryDir folder;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ChildOption), folder.path()});
    QVERIFY(child.waitForStarted());
    const auto copies = [&] {
        return QDir(folder.path()).entryList({QStringLiteral("score-*.txt")}, QDir::Files);
    };
    QTRY_COMPARE_WITH_TIMEOUT(copies().size(), 1, 20000);
    const QString copy = folder.path() + u'/' + copies().front();
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(test::ReadBytes(copy.toStdString())), ChildText, 5000);

    test::WindowHarness h;
    {
        auto recovery = std::make_unique<ScoreRecovery>(h.window->Session(), folder.path());
        test::BoxAnswer none(QStringLiteral("破棄")); // would remove the copy
        QVERIFY(!recovery->OfferLeftCopies());        // the child still runs
    }
    QVERIFY(QFile::exists(copy));

    child.kill(); // SIGKILL: nothing of the program's own runs
    QVERIFY(child.waitForFinished());
    QVERIFY(QFile::exists(copy));
    auto* recovery = new ScoreRecovery(h.window->Session(), folder.path());
    {
        test::BoxAnswer offer(QStringLiteral("復元"));
        QVERIFY(recovery->OfferLeftCopies());
        QVERIFY2(offer.text.contains(QStringLiteral("復元しますか")), qPrintable(offer.text));
    }
    QCOMPARE(h.window->Area().toPlainText(), ChildText);
    QVERIFY(h.window->findChild<UnsavedEdits*>()->Edited());
    // The restored text is this program's copy now; a normal end removes it.
    QCOMPARE(copies(), QStringList{QFileInfo(recovery->CopyPath()).fileName()});
    h.window.reset();
    QCOMPARE(copies(), QStringList{});
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == ChildOption) return RecoveryChild(argc, argv);
    QApplication application(argc, argv);
    UnsavedEditsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "unsaved_edits_test.moc"
