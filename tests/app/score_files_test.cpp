// The score file commands of the main window ("楽譜読込", "楽譜保存", "楽譜欄消去"), file drops, the editing
// of the score area, and the open dialog itself.

#include "app/file_dialog.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "platform/cp932.h"
#include "window_harness.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using namespace nagisora;

namespace {

using Bytes = std::string;

using test::ReadBytes;
using test::WriteBytes;

QString Name(const std::string& path) {
    return QString::fromStdString(path);
}

// Every byte pair that can stand inside a line (neither CR, LF nor 1A), each pair followed by a space, in
// lines of 256 pairs: every code page 932 character, the NEC and IBM duplicates, lone lead bytes,
// user-defined characters and bytes that are no text at all.
Bytes AllBytePairs() {
    Bytes file;
    const auto usable = [](int b) { return b != 0x0D && b != 0x0A && b != 0x1A; };
    for (int lead = 0; lead < 256; ++lead) {
        if (!usable(lead)) continue;
        for (int trail = 0; trail < 256; ++trail)
            if (usable(trail)) file += {static_cast<char>(lead), static_cast<char>(trail), ' '};
        file += "\r\n";
    }
    return file;
}

// The window with the score area at hand and the score file commands answered by a path.
class Harness : public test::WindowHarness {
  public:
    Harness() : mem(Get<QPlainTextEdit>("mem")) {}

    void Load(const std::string& path) {
        answer = Name(path);
        window->ChooseScoreToLoad();
    }
    void Save(const std::string& path) {
        answer = Name(path);
        window->SaveScore();
    }
    QStringList FilesInAppDir() const { return QDir(AppDirPath()).entryList(QDir::Files | QDir::Hidden); }

    QPlainTextEdit* mem;
};

// A drag of the files entering the widget and dropped there: the application delivers a drop to the widget
// that took the drag's entry. Returns whether the entry was taken, and as what.
std::optional<Qt::DropAction> DragAndDrop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return std::nullopt;
    QDropEvent drop(QPointF(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.dropAction();
}

} // namespace

class ScoreFilesTest : public QObject {
    Q_OBJECT

  private slots:
    void saveStartScore();
    void loadThenSave_data();
    void loadThenSave();
    void missingFileAndCancel();
    void saveFailures_data();
    void saveFailures();
    void unsavableCharacterRefused();
    void utf8FileLoads();
    void clearAndUndo();
    void dropLoadsFirstFile();
    void standardEditing();
    void openDialogTakesMissingName();
};

// The example score unchanged: eleven lines, the file ending with the tenth line, CR LF, CR LF. The dialogs
// start in AppDir, show one type "*.txt", add ".txt" and propose the name chosen in them last.
void ScoreFilesTest::saveStartScore() {
    Harness h;
    const std::string target = h.Path("kyoku.txt");
    WriteBytes(target, "an older score, replaced without a question");
    h.Save(target);
    QVERIFY(h.messages.empty());
    QCOMPARE(ReadBytes(target), ReadBytes(NAGISORA_EXAMPLES_DIR "/start-score.txt"));

    h.Save(h.Path("second.txt"));
    h.answer.reset();
    h.window->ChooseScoreToLoad();
    QCOMPARE(h.requests.size(), std::size_t{3});
    const QString folder = QDir(Name(h.Path(""))).absolutePath();
    for (const FileDialogRequest& request : h.requests) {
        QCOMPARE(request.folder, folder);
        QCOMPARE(request.filter, QStringLiteral("*.txt (*.txt)"));
        QCOMPARE(request.defaultSuffix, QStringLiteral("txt"));
    }
    QVERIFY(h.requests[0].kind == FileDialogRequest::Kind::Save);
    QVERIFY(h.requests[0].proposedName.isEmpty());
    QCOMPARE(h.requests[1].proposedName, Name(target));
    QVERIFY(h.requests[2].kind == FileDialogRequest::Kind::Open);
    QVERIFY(h.requests[2].proposedName.isEmpty()); // each dialog keeps its own name
}

void ScoreFilesTest::loadThenSave_data() {
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<Bytes>("saved");   // what saving the loaded score writes
    QTest::addColumn<QString>("shown"); // the score area after the load; empty: not checked
    for (const QString& example : QDir(QStringLiteral(NAGISORA_EXAMPLES_DIR)).entryList({"*.txt"})) {
        const Bytes bytes = ReadBytes(NAGISORA_EXAMPLES_DIR "/" + example.toStdString());
        QTest::newRow(qPrintable(example)) << bytes << bytes << QString();
    }
    const Bytes pairs = AllBytePairs();
    QTest::newRow("every byte pair") << pairs << pairs << QString();
    // NEC row 13 and NEC-selected IBM characters against their IBM twins: 纊 ED40/FA5C, Ⅰ 8754/FA4A,
    // ∵ 81E6/879A/FA5B, ￢ 81CA/EEF9/FA54.
    const Bytes twins =
        "\xED\x40\xFA\x5C\r\n\x87\x54\xFA\x4A\r\n\x81\xE6\x87\x9A\xFA\x5B\r\n\x81\xCA\xEE\xF9\xFA\x54\r\n";
    QTest::newRow("NEC and IBM duplicates") << twins << twins << QString();
    QTest::newRow("empty lines in runs and at the end")
        << Bytes("a\r\n\r\n\r\nb\r\n\r\n\r\n") << Bytes("a\r\n\r\n\r\nb\r\n\r\n\r\n")
        << QStringLiteral("a\n\n\nb\n\n\n");
    QTest::newRow("last line without line end") << Bytes("a\r\nb") << Bytes("a\r\nb\r\n") << "a\nb\n";
    QTest::newRow("CR alone") << Bytes("a\rb\r\rc\r") << Bytes("a\r\nb\r\n\r\nc\r\n") << "a\nb\n\nc\n";
    QTest::newRow("LF alone") << Bytes("a\nb\n\nc") << Bytes("a\r\nb\r\n\r\nc\r\n") << "a\nb\n\nc\n";
    QTest::newRow("1A ends the text") << Bytes("a\r\nbc\x1A"
                                               "d\r\ne\r\n")
                                      << Bytes("a\r\nbc\r\n") << "a\nbc\n";
    QTest::newRow("1A at the start") << Bytes("\x1A"
                                              "a\r\n")
                                     << Bytes() << QString();
    QTest::newRow("empty file") << Bytes() << Bytes() << QString();
    QTest::newRow("code page 932 text")
        << Bytes("\x89\xB3\x83\x8D\x81\x40\x81\x62\r\n") << Bytes("\x89\xB3\x83\x8D\x81\x40\x81\x62\r\n")
        << QStringLiteral("乙ロ　｜\n");
}

// Loading replaces the whole score, each line ended by a line break; saving writes every line with CR LF.
void ScoreFilesTest::loadThenSave() {
    QFETCH(Bytes, file);
    QFETCH(Bytes, saved);
    QFETCH(QString, shown);
    Harness h;
    WriteBytes(h.Path("in.txt"), file);
    h.Load(h.Path("in.txt"));
    QVERIFY2(h.messages.empty(), qPrintable(h.messages.empty() ? QString() : h.messages.front()));
    const QString text = h.mem->toPlainText();
    if (!shown.isEmpty() || saved.empty()) QCOMPARE(text, shown);
    QVERIFY(text.isEmpty() || text.endsWith(u'\n'));
    h.Save(h.Path("out.txt"));
    QVERIFY(h.messages.empty());
    QCOMPARE(ReadBytes(h.Path("out.txt")), saved);
    QCOMPARE(ReadBytes(h.Path("in.txt")), file);
}

// A name that does not exist, a folder, a file or paste too large to edit, and cancelled dialogs: the score
// area and the files stay as they were.
void ScoreFilesTest::missingFileAndCancel() {
    Harness h;
    const QString start = h.mem->toPlainText();
    h.Load(h.Path("no-such-score.txt"));
    QCOMPARE(h.messages, std::vector<QString>{QStringLiteral("ﾌｧｲﾙが見つかりません.")});
    WriteBytes(h.Path("huge.txt"), std::string(1024 * 1024 + 1, '\n'));
    h.Load(h.Path("huge.txt"));
    QCOMPARE(h.messages.back(), QStringLiteral("huge.txt: ﾌｧｲﾙが大きすぎます (上限 1 MiB)."));
    // A paste is held to the same limit, counted as the score file would hold it (a line break as CR LF).
    QApplication::clipboard()->setText(QString(512 * 1024, u'\n'));
    h.mem->paste();
    QCOMPARE(h.messages.back(), QStringLiteral("ﾌｧｲﾙが大きすぎます (上限 1 MiB)."));
    QCOMPARE(h.mem->toPlainText(), start);
    h.mem->selectAll();
    QApplication::clipboard()->setText(QString(512 * 1024 - 1, u'\n'));
    h.mem->paste();
    QCOMPARE(h.mem->blockCount(), 512 * 1024);
    h.mem->undo();
    h.Load(h.Path(""));
    QCOMPARE(h.messages.back(), QStringLiteral("ﾌｧｲﾙへのｱｸｾｽが拒否されました."));
    QCOMPARE(h.mem->toPlainText(), start);
    // The open dialog proposes the name chosen last, also when opening it failed.
    h.answer.reset();
    h.window->ChooseScoreToLoad();
    QCOMPARE(h.requests.back().proposedName, Name(h.Path("")));

    WriteBytes(h.Path("old.txt"), "old");
    h.window->SaveScore();
    QCOMPARE(h.messages.size(), std::size_t{4});
    QCOMPARE(h.mem->toPlainText(), start);
    QCOMPARE(h.FilesInAppDir(), (QStringList{"huge.txt", "old.txt"}));
    QCOMPARE(ReadBytes(h.Path("old.txt")), Bytes("old"));
}

enum class Before { Nothing, ProtectedFile, ReadOnlyFolder };
Q_DECLARE_METATYPE(Before)

void ScoreFilesTest::saveFailures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<Before>("before");
    QTest::addColumn<QString>("message");
    const QString denied = QStringLiteral("ﾌｧｲﾙへのｱｸｾｽが拒否されました.");
    QTest::newRow("write-protected file") << "locked.txt" << Before::ProtectedFile << denied;
    QTest::newRow("read-only folder") << "ro/score.txt" << Before::ReadOnlyFolder << denied;
    QTest::newRow("a folder") << "config" << Before::Nothing << denied;
    QTest::newRow("missing folder") << "no-such-folder/score.txt" << Before::Nothing << "不正なﾌｧｲﾙ名です.";
}

// A failed save reports the code's message and leaves an existing file as it was.
void ScoreFilesTest::saveFailures() {
    QFETCH(QString, name);
    QFETCH(Before, before);
    QFETCH(QString, message);
    Harness h;
    std::string target = h.Path(name.toStdString());
    bool existing = before != Before::Nothing;
    if (before == Before::ReadOnlyFolder && ::geteuid() == 0) {
        // Root writes into any folder whatever its mode; sysfs takes no new files even from root.
        if (!QDir(QStringLiteral("/sys")).exists()) QSKIP("running as root without /sys");
        target = "/sys/nagisora-score.txt";
        existing = false;
    } else if (before == Before::ReadOnlyFolder) {
        QVERIFY(QDir().mkpath(Name(h.Path("ro"))));
    }
    if (existing) WriteBytes(target, "keep me");
    if (before == Before::ProtectedFile) ::chmod(target.c_str(), 0444);
    if (existing && before == Before::ReadOnlyFolder) ::chmod(h.Path("ro").c_str(), 0555);
    h.Save(target);
    ::chmod(h.Path("ro").c_str(), 0755);
    QCOMPARE(h.messages, std::vector<QString>{message});
    if (existing) QCOMPARE(ReadBytes(target), Bytes("keep me"));
    QCOMPARE(QDir(Name(h.Path("ro"))).entryList(QDir::Files | QDir::Hidden),
             existing && before == Before::ReadOnlyFolder ? QStringList{"score.txt"} : QStringList{});
}

// A character that code page 932 lacks is never written as "?": the save is refused before the dialog, naming
// where the character stands (lines and columns from 1, a character counted once however it is stored).
void ScoreFilesTest::unsavableCharacterRefused() {
    Harness h;
    const QString text = QStringLiteral("ロ\nツ😀レ é\n");
    h.mem->setPlainText(text);
    h.Save(h.Path("out.txt"));
    QCOMPARE(h.messages,
             std::vector<QString>{QStringLiteral("保存できない文字があります (2 行 2 列、2 行 5 列).")});
    QVERIFY(h.requests.empty());
    QCOMPARE(h.FilesInAppDir(), QStringList{});
    QCOMPARE(h.mem->toPlainText(), text);

    h.mem->setPlainText(QStringLiteral("ééé\n\né😀"));
    h.Save(h.Path("out.txt"));
    QCOMPARE(h.messages.back(),
             QStringLiteral("保存できない文字があります (1 行 1 列、1 行 2 列、1 行 3 列 ほか 2 文字)."));
    QCOMPARE(h.FilesInAppDir(), QStringList{});
}

// A UTF-8 file is converted; characters code page 932 lacks become "?" and are named in one warning.
void ScoreFilesTest::utf8FileLoads() {
    Harness h;
    WriteBytes(h.Path("clean.txt"), "\xEF\xBB\xBF乙ロ\r\n　＋\r\n");
    h.Load(h.Path("clean.txt"));
    QVERIFY(h.messages.empty());
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("乙ロ\n　＋\n"));
    QCOMPARE(h.window->ScoreLines(), (std::vector<std::string>{"\x89\xB3\x83\x8D", "\x81\x40\x81\x7B"}));

    WriteBytes(h.Path("lossy.txt"), "ロツ\n\n　＋😀é\n");
    h.Load(h.Path("lossy.txt"));
    QCOMPARE(h.messages, std::vector<QString>{QStringLiteral(
                             "コードページ 932 にない文字を ? にしました (3 行 3 列、3 行 4 列).")});
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("ロツ\n\n　＋??\n"));
}

// Clearing empties the area without a question, an empty area saves 0 bytes, and both a clear and a load can
// be undone.
void ScoreFilesTest::clearAndUndo() {
    Harness h;
    const QString start = h.mem->toPlainText();
    h.window->findChild<QPushButton*>(QStringLiteral("btnCleatr"))->click();
    QVERIFY(h.mem->toPlainText().isEmpty());
    QVERIFY(h.window->ScoreLines().empty());
    h.Save(h.Path("empty.txt"));
    QVERIFY(h.messages.empty());
    QCOMPARE(ReadBytes(h.Path("empty.txt")), Bytes());
    h.mem->undo();
    QCOMPARE(h.mem->toPlainText(), start);

    WriteBytes(h.Path("one.txt"), "a\r\n");
    h.Load(h.Path("one.txt"));
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("a\n"));
    QCOMPARE(h.mem->textCursor().position(), 0);
    h.mem->undo();
    QCOMPARE(h.mem->toPlainText(), start);
    h.mem->redo();
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("a\n"));
}

// A file dropped on the score area or anywhere on the window loads like "楽譜読込", the first file of
// several; its name is not inserted, and a failure is reported the same way.
void ScoreFilesTest::dropLoadsFirstFile() {
    Harness h;
    h.window->show();
    WriteBytes(h.Path("first.txt"), "\x83\x8D\r\n");
    WriteBytes(h.Path("second.txt"), "\x83\x63\r\n");
    const QUrl first = QUrl::fromLocalFile(Name(h.Path("first.txt")));
    const QUrl second = QUrl::fromLocalFile(Name(h.Path("second.txt")));

    // Taken as a copy, never a move, which would have the file manager delete the file.
    QCOMPARE(
        DragAndDrop(h.mem->viewport(), {QUrl(QStringLiteral("https://example.org/x.txt")), first, second}),
        Qt::CopyAction);
    QTRY_COMPARE(h.mem->toPlainText(), QStringLiteral("ロ\n"));
    QCOMPARE(DragAndDrop(h.window.get(), {second}), Qt::CopyAction);
    QTRY_COMPARE(h.mem->toPlainText(), QStringLiteral("ツ\n"));
    QVERIFY(h.messages.empty());
    QCOMPARE(ReadBytes(h.Path("first.txt")), Bytes("\x83\x8D\r\n"));

    QVERIFY(DragAndDrop(h.window.get(), {QUrl::fromLocalFile(Name(h.Path("gone.txt")))}));
    QTRY_COMPARE(h.messages.size(), std::size_t{1});
    QCOMPARE(h.messages.front(), QStringLiteral("ﾌｧｲﾙが見つかりません."));
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("ツ\n"));
    QVERIFY(h.requests.empty());
}

// What the score area gives as a text editor is left working: input methods, undo, dragged text.
void ScoreFilesTest::standardEditing() {
    Harness h;
    QVERIFY(h.mem->testAttribute(Qt::WA_InputMethodEnabled));
    QVERIFY(h.mem->isUndoRedoEnabled());
    QCOMPARE(h.mem->contextMenuPolicy(), Qt::DefaultContextMenu); // cut, copy, paste, select all
    h.mem->setPlainText(QString());
    QInputMethodEvent compose(QStringLiteral("ろ"), {});
    QApplication::sendEvent(h.mem, &compose);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("ロツ"));
    QApplication::sendEvent(h.mem, &commit);
    QCOMPARE(h.mem->toPlainText(), QStringLiteral("ロツ"));
    QTest::keySequence(h.mem, QKeySequence::Undo);
    QVERIFY(h.mem->toPlainText().isEmpty());

    // Dragged text, also with a link, is the score area's to insert; the window takes no such drag.
    QMimeData data;
    data.setText(QStringLiteral("ロツ"));
    data.setUrls({QUrl(QStringLiteral("https://example.org/x.txt"))});
    for (QWidget* target : {static_cast<QWidget*>(h.window.get()), h.mem->viewport()}) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(target, &enter);
        QCOMPARE(enter.isAccepted(), target == h.mem->viewport());
    }
}

// The open dialog itself takes the name of a file that does not exist, adds ".txt" to it, and shows the one
// file type as "*.txt".
void ScoreFilesTest::openDialogTakesMissingName() {
    QTemporaryDir dir;
    QString shownType;
    QString shownFolder;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        shownType = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->currentText();
        shownFolder = dialog->directory().absolutePath();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("missing"));
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, which checks the name
    });
    const std::optional<QString> chosen =
        RunFileDialog(nullptr, FileDialogRequest{FileDialogRequest::Kind::Open,
                                                 dir.path(),
                                                 QStringLiteral("*.txt (*.txt)"),
                                                 QStringLiteral("txt"),
                                                 {}});
    QVERIFY(chosen.has_value());
    QCOMPARE(*chosen, dir.path() + QStringLiteral("/missing.txt"));
    QCOMPARE(shownType, QStringLiteral("*.txt"));
    QCOMPARE(shownFolder, QDir(dir.path()).absolutePath());
}

QTEST_MAIN(ScoreFilesTest)
#include "score_files_test.moc"
