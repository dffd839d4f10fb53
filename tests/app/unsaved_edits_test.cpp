// Edits that no file has: the edited state through loads, typing, undo, saves and clearing, the question when
// the window closes with edits, and the copy of the text that comes back after the program was killed.

#include "score_area.h"
#include "score_recovery.h"
#include "unsaved_edits.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <string_view>

using namespace nagisora;

namespace {

constexpr char ChildOption[] = "--recovery-child";
const QString ChildText = QStringLiteral("// 打ち込み中\nロツレ\n－－－\n");

// Clicks the button of that text in the next modal message box, and returns that box's text (empty when no
// box came before the events were processed).
class BoxAnswer {
  public:
    explicit BoxAnswer(QString button) : button_(std::move(button)) {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            text_ = box->text();
            defaultButton_ = box->defaultButton() != nullptr ? box->defaultButton()->text() : QString();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == button_) b->click();
        });
    }
    ~BoxAnswer() { QCoreApplication::processEvents(); } // the timer fires before the answer goes
    const QString& Text() const { return text_; }
    const QString& DefaultButton() const { return defaultButton_; }

  private:
    QString button_;
    QString text_;
    QString defaultButton_;
};

// The program as a crash finds it: a window with recovery on, the text typed, waiting to be killed.
int RecoveryChild(int argc, char** argv) {
    QApplication application(argc, argv);
    test::WindowHarness h;
    new ScoreRecovery(*h.window, QString::fromLocal8Bit(argv[2]));
    h.window->show();
    h.window->ScoreArea().selectAll();
    h.window->ScoreArea().insertPlainText(ChildText);
    return QApplication::exec();
}

} // namespace

class UnsavedEditsTest : public QObject {
    Q_OBJECT

  private slots:
    void editedState_data();
    void editedState();
    void closingWithEdits_data();
    void closingWithEdits();
    void killedWindowsTextComesBack_data();
    void killedWindowsTextComesBack();
};

void UnsavedEditsTest::editedState_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("edited");
    QTest::newRow("start") << QStringList{} << false;
    QTest::newRow("typed") << QStringList{"type"} << true;
    QTest::newRow("typed, undone") << QStringList{"type", "undo"} << false;
    QTest::newRow("typed, loaded") << QStringList{"type", "load"} << false;
    QTest::newRow("loaded, typed, undone") << QStringList{"load", "type", "undo"} << false;
    QTest::newRow("load undone") << QStringList{"load", "undo"} << true;
    QTest::newRow("typed, saved") << QStringList{"type", "save"} << false;
    QTest::newRow("saved, typed") << QStringList{"type", "save", "type"} << true;
    QTest::newRow("loaded, cleared") << QStringList{"load", "clear"} << true;
    QTest::newRow("clear undone") << QStringList{"load", "clear", "undo"} << false;
    QTest::newRow("typed, erased, paused") << QStringList{"type", "erase", "pause"} << false;
}

void UnsavedEditsTest::editedState() {
    QFETCH(QStringList, steps);
    QFETCH(bool, edited);
    test::WindowHarness h;
    test::WriteBytes(h.Path("score.txt"), "\x83\x8D\x83\x63\r\n\x81\x7C\x81\x7C\r\n"); // ロツ －－
    h.window->show();
    TScoreArea& mem = h.window->ScoreArea();
    auto* edits = h.window->findChild<UnsavedEdits*>();
    for (const QString& step : steps) {
        if (step == u"load") h.window->OpenScore(QString::fromStdString(h.Path("score.txt")));
        if (step == u"type") QTest::keyClicks(&mem, QStringLiteral("ab"));
        if (step == u"erase")
            QTest::keyClick(&mem, Qt::Key_Backspace), QTest::keyClick(&mem, Qt::Key_Backspace);
        if (step == u"undo") mem.undo();
        if (step == u"clear") h.window->btnCleatrClick();
        if (step == u"pause") QTRY_VERIFY_WITH_TIMEOUT(!edits->Edited(), 3 * UnsavedEdits::PauseMs);
        if (step == u"save") {
            h.answer = QString::fromStdString(h.Path("saved.txt"));
            h.window->btnSaveClick();
        }
    }
    QCOMPARE(edits->Edited(), edited);
    QCOMPARE(h.window->windowHandle()->title(),
             (edited ? QStringLiteral("*") : QString()) + h.window->windowTitle());
    QVERIFY(h.messages.empty());
}

void UnsavedEditsTest::closingWithEdits_data() {
    QTest::addColumn<bool>("typed");
    QTest::addColumn<QString>("answer");  // the button clicked in the question
    QTest::addColumn<bool>("saveChosen"); // whether 楽譜保存's dialog gives a file
    QTest::addColumn<bool>("closed");
    QTest::newRow("no edits") << false << "" << false << true;
    QTest::newRow("キャンセル") << true << "キャンセル" << false << false;
    QTest::newRow("保存しない") << true << "保存しない" << false << true;
    QTest::newRow("保存, dialog cancelled") << true << "保存" << false << false;
    QTest::newRow("保存") << true << "保存" << true << true;
}

void UnsavedEditsTest::closingWithEdits() {
    QFETCH(bool, typed);
    QFETCH(QString, answer);
    QFETCH(bool, saveChosen);
    QFETCH(bool, closed);
    test::WindowHarness h;
    h.window->show();
    if (typed) QTest::keyClicks(&h.window->ScoreArea(), QStringLiteral("ro"));
    const std::string saved = h.Path("saved.txt");
    if (saveChosen) h.answer = QString::fromStdString(saved);
    const BoxAnswer box(answer);
    h.window->close();
    QCOMPARE(!box.Text().isEmpty(), typed);
    if (typed) {
        QCOMPARE(box.Text(), QStringLiteral("楽譜が変更されています。保存しますか?"));
        QCOMPARE(box.DefaultButton(), QStringLiteral("キャンセル"));
    }
    QCOMPARE(h.window->isVisible(), !closed);
    QCOMPARE(QFile::exists(QString::fromStdString(saved)), saveChosen);
}

void UnsavedEditsTest::killedWindowsTextComesBack_data() {
    QTest::addColumn<QString>("answer");
    QTest::newRow("復元") << "復元";
    QTest::newRow("破棄") << "破棄";
}

// A program killed with edits leaves its copy; the next start offers it back, and a copy of a program that
// still runs is not offered.
void UnsavedEditsTest::killedWindowsTextComesBack() {
    QFETCH(QString, answer);
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
    const QString start = h.window->ScoreArea().toPlainText();
    {
        auto recovery = std::make_unique<ScoreRecovery>(*h.window, folder.path());
        const BoxAnswer none(QStringLiteral("破棄"));
        QVERIFY(!recovery->OfferLeftCopies()); // the child still runs
        QVERIFY(none.Text().isEmpty());
    }
    QVERIFY(QFile::exists(copy));

    child.kill(); // SIGKILL: nothing of the program's own runs
    QVERIFY(child.waitForFinished());
    QVERIFY(QFile::exists(copy));
    auto* recovery = new ScoreRecovery(*h.window, folder.path());
    bool restored = false;
    {
        const BoxAnswer offer(answer);
        restored = recovery->OfferLeftCopies();
        QVERIFY2(offer.Text().contains(QStringLiteral("復元しますか")), qPrintable(offer.Text()));
    }
    QCOMPARE(restored, answer == u"復元");
    QCOMPARE(h.window->ScoreArea().toPlainText(), restored ? ChildText : start);
    QCOMPARE(h.window->findChild<UnsavedEdits*>()->Edited(), restored);
    // The restored text is this program's copy now; a normal end removes it.
    QCOMPARE(copies(), restored ? QStringList{QFileInfo(recovery->CopyPath()).fileName()} : QStringList{});
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
