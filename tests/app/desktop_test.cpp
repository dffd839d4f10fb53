// The main window as a desktop program: a score named on the command line, the keyboard, recent scores, the
// characters of code page 932 shown as themselves, and Qt's Japanese texts.

#include "app/command_line.h"
#include "app/command_list.h"
#include "app/help_window.h"
#include "app/media_player.h"
#include "app/recent_scores.h"
#include "app/score_area.h"
#include "app/score_zoom.h"
#include "app/user_settings.h"
#include "window_harness.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextCursor>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

using namespace nagisora;
using test::ReadBytes;
using test::WriteBytes;

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void commandLineOpen_data();
    void commandLineOpen();
    void shortcutsReachHandlers();
    void extensionCharactersShownAndKept();
    void recentScores();
    void japaneseTexts();
    void settingsBoundedAndZoomKept();
    void commandListFromHelp();
};

void DesktopTest::commandLineOpen_data() {
    QTest::addColumn<QByteArray>("file"); // empty: no such file
    QTest::addColumn<QString>("shown");   // the score area after the start
    QTest::addColumn<QString>("message");
    QTest::newRow("a score") << QByteArray("\x89\xB3\x83\x8D\r\n\x81\x40\x81\x7B\r\n") << "乙ロ\n　＋\n"
                             << "";
    QTest::newRow("a missing file") << QByteArray() << ""
                                    << "ﾌｧｲﾙが見つかりません.";
    QTest::newRow("a UTF-8 file") << QByteArray("乙ロ\n　＋😀\n") << "乙ロ\n　＋?\n"
                                  << "コードページ 932 にない文字を ? にしました (2 行 3 列).";
}

// As "楽譜読込" loads it (the name a file manager gives): the text, a failure's message, and the open dialog
// proposing the file next.
void DesktopTest::commandLineOpen() {
    QFETCH(QByteArray, file);
    QFETCH(QString, shown);
    QFETCH(QString, message);
    test::WindowHarness h;
    const QString example = h.Get<QPlainTextEdit>("mem")->toPlainText();
    const QString path = QString::fromStdString(h.Path("kyoku.txt"));
    if (!file.isEmpty()) WriteBytes(path.toStdString(), file.toStdString());
    h.window->show();
    h.window->OpenScore(ScorePathOf(QUrl::fromLocalFile(path).toString())); // as a file manager gives it
    QCOMPARE(h.Get<QPlainTextEdit>("mem")->toPlainText(), shown.isEmpty() ? example : shown);
    QCOMPARE(h.messages, message.isEmpty() ? std::vector<QString>{} : std::vector<QString>{message});
    h.window->ChooseScoreToLoad();
    QCOMPARE(h.requests.back().proposedName, path);
}

// Each shortcut and Enter on a focused button reach the command; the tooltips name the shortcuts.
void DesktopTest::shortcutsReachHandlers() {
    test::WindowHarness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    QTRY_VERIFY(h.window->testAttribute(Qt::WA_KeyboardFocusChange)); // the first focus shows its frame
    auto* player = h.Get<MediaPlayer>("mPlay");
    QWidget* area = h.Get<QWidget>("mem");
    area->setFocus();
    QTest::keyClick(area, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(area, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(area, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier); // "MIDI 保存" still disabled
    QCOMPARE(h.requests.size(), std::size_t{2});
    QVERIFY(h.requests[0].kind == FileDialogRequest::Kind::Open);
    QVERIFY(h.requests[1].kind == FileDialogRequest::Kind::Save);
    QTest::keyClick(area, Qt::Key_F5);
    QVERIFY(h.Get<QPushButton>("btnMidSave")->isEnabled());
    QTest::keyClick(area, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(h.requests.back().filter, QStringLiteral("*mid (*.mid)"));
    QTest::keyClick(area, Qt::Key_F6);
    QCOMPARE(player->Mode(), MediaMode::Playing);
    QTest::keyClick(area, Qt::Key_F7);
    QVERIFY(player->IsAvailable(PlayerButton::Play));
    QTest::keyClick(area, Qt::Key_F6);
    QTest::keyClick(h.Get<QWidget>("lstGakki"), Qt::Key_Escape);
    QVERIFY(player->IsAvailable(PlayerButton::Play));
    QTest::keyClick(area, Qt::Key_F1);
    QTRY_VERIFY(h.window->Help().isVisible());
    h.window->Help().hide();
    auto* help = h.Get<QPushButton>("btnHelp");
    help->setFocus();
    QTest::keyClick(help, Qt::Key_Return);
    QVERIFY(h.window->Help().isVisible());
    QVERIFY(h.messages.empty());
    QCOMPARE(h.Get<QPushButton>("btnMidSave")->toolTip(),
             QStringLiteral("MIDI ファイルを保存 (Ctrl+Shift+S)"));
}

// The NEC-selected IBM characters and the other forms of a character show as one character each, and are
// saved as the bytes they were loaded from.
void DesktopTest::extensionCharactersShownAndKept() {
    test::WindowHarness h;
    const std::string bytes = "\xED\x95\xEE\xE0\x87\x9A\xFA\x5B\x81\xE6\x83\x8D\r\n";
    WriteBytes(h.Path("in.txt"), bytes);
    h.window->OpenScore(QString::fromStdString(h.Path("in.txt")));
    auto* area = h.Get<QPlainTextEdit>("mem");
    QCOMPARE(area->toPlainText(), QStringLiteral("﨑\uFE0C髙\uFE0C∵\uFE0C∵\uFE0D∵ロ\n"));
    QTextCursor cursor(area->document());
    int characters = 0;
    while (cursor.movePosition(QTextCursor::NextCharacter) && !cursor.atBlockEnd())
        ++characters;
    QCOMPARE(characters + 1, 6); // the cursor steps over a character and its selector at once
    h.answer = QString::fromStdString(h.Path("out.txt"));
    h.window->SaveScore();
    QCOMPARE(ReadBytes(h.Path("out.txt")), bytes);
    QVERIFY(h.messages.empty());
    cursor.setPosition(4); // after 髙 and its mark: Backspace takes both
    area->setTextCursor(cursor);
    QTest::keyClick(area, Qt::Key_Backspace);
    QCOMPARE(area->toPlainText(), QStringLiteral("﨑\uFE0C∵\uFE0C∵\uFE0D∵ロ\n"));
}

// Loads and saves put their file first; ten are kept, files that are gone are dropped, and the menu loads.
void DesktopTest::recentScores() {
    test::WindowHarness h;
    auto* recent = h.window->findChild<RecentScores*>();
    recent->Clear();
    const auto path = [&](int k) { return QString::fromStdString(h.Path(std::to_string(k) + ".txt")); };
    for (int k = 0; k < 12; ++k) {
        WriteBytes(path(k).toStdString(), k == 2 ? "\x83\x8D\r\n" : "\x83\x63\r\n");
        h.window->OpenScore(path(k));
    }
    h.answer = path(3);
    h.window->SaveScore();
    QFile::remove(path(10));
    QCOMPARE(recent->Scores(),
             (QStringList{path(3), path(11), path(9), path(8), path(7), path(6), path(5), path(4), path(2)}));
    emit recent->Menu().aboutToShow();
    const QList<QAction*> entries = recent->Menu().actions(); // the scores, a separator, clearing the list
    QCOMPARE(entries.size(), 9 + 2);
    entries[8]->trigger();
    QCOMPARE(h.Get<QPlainTextEdit>("mem")->toPlainText(), QStringLiteral("ロ\n"));
    QCOMPARE(recent->Scores().front(), path(2));
    recent->Clear();
}

void DesktopTest::japaneseTexts() {
    QVERIFY(InstallJapaneseTexts(*QCoreApplication::instance()));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
}

// A hand-made recent list is read as its newest ten, the text's size is kept and an oversized settings file
// is neither read nor replaced.
void DesktopTest::settingsBoundedAndZoomKept() {
    auto h = std::make_unique<test::WindowHarness>();
    const QString score = QString::fromStdString(h->Path("s.txt"));
    WriteBytes(score.toStdString(), "\x83\x8D\r\n");
    UserSettings()->setValue(QStringLiteral("recentScores"), QStringList(10000, score));
    QCOMPARE(h->window->findChild<RecentScores*>()->Scores().size(), RecentScores::Kept);

    ScoreArea& area = h->window->Area();
    const QSize windowSize = h->window->size();
    const int pixels = area.font().pixelSize();
    QWheelEvent wheel(QPointF(10, 10), area.mapToGlobal(QPointF(10, 10)), {}, QPoint(0, 2 * 120),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(area.viewport(), &wheel);
    QCOMPARE(area.font().pixelSize(), qRound(pixels * 1.25));
    QCOMPARE(h->window->size(), windowSize);
    h = std::make_unique<test::WindowHarness>(); // the next start takes the size
    QCOMPARE(h->window->Area().font().pixelSize(), qRound(pixels * 1.25));
    h->window->findChild<ScoreZoom*>()->ResetAction()->trigger();
    QCOMPARE(h->window->Area().font().pixelSize(), pixels);

    const QString file = UserSettings()->fileName();
    QFile big(file);
    QVERIFY(big.open(QIODevice::WriteOnly));
    const qint64 written = big.write("[view]\nscoreZoom=4\n" + QByteArray(SettingsLimit, '#'));
    big.close();
    QCOMPARE(UserSettings()->value(QStringLiteral("view/scoreZoom"), 0).toInt(), 0);
    UserSettings()->setValue(QStringLiteral("view/scoreZoom"), 1);
    QCOMPARE(QFileInfo(file).size(), written);
    QFile::remove(file);
}

// The help window's button opens the list of every command with its keys and place; the help text stays.
void DesktopTest::commandListFromHelp() {
    test::WindowHarness h;
    h.window->ShowHelp();
    QCOMPARE(h.window->Help().Memo1()->toPlainText(), HelpWindow::HelpText());
    h.window->Help().findChild<QToolButton*>(QStringLiteral("btnCommands"))->click();
    auto* page = h.window->findChild<CommandsWindow*>();
    QVERIFY(page->isVisible());
    QStringList rows;
    for (int r = 0; r < page->Table()->rowCount(); ++r)
        rows << page->Table()->item(r, 0)->text() + u'|' + page->Table()->item(r, 1)->text() + u'|' +
                    page->Table()->item(r, 2)->text();
    const QString menu = QStringLiteral("楽譜欄の右クリックメニュー");
    for (const QString& row :
         {QStringLiteral("楽譜読込…|Ctrl+O|") + menu, QStringLiteral("記譜入力モード|F9|") + menu,
          QStringLiteral("文字を大きく|Ctrl++、Ctrl+=|") + menu,
          QStringLiteral("乙: 低い音域 (以後の音)|z|") + menu +
              QStringLiteral(" > 記号を挿入 (記譜入力のキー) > 音域"),
          QStringLiteral("ヘルプ (ヘルプを表示)|F1|ボタン"), QStringLiteral("▶ 再生|F6|プレーヤー")})
        QVERIFY2(rows.contains(row), qPrintable(row + QStringLiteral(" in ") + rows.join(u'\n')));
}

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
