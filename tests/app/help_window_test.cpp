#include "app/fonts.h"
#include "app/help_window.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "platform/cp932.h"

#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

namespace nagisora {

class FHelpTest : public QObject {
    Q_OBJECT

  private:
    static QStringList Lines() {
        QStringList lines = HelpWindow::HelpText().split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast(); // after the last line break
        return lines;
    }

    // A main window on a fresh AppDir whose failures are recorded, and its help window.
    struct MainWindowFixture {
        QTemporaryDir dir;
        std::vector<QString> messages;
        std::unique_ptr<MainWindow> window;

        MainWindowFixture() {
            MainWindowOptions options;
            options.appDir = dir.path().toStdString() + "/";
            options.reportError = [this](const Failure& failure) {
                messages.push_back(QString::fromStdString(FailureText(failure)));
            };
            options.media = MediaOptions::ToWavFile(dir.path().toStdString() + "/preview.wav");
            window = std::make_unique<MainWindow>(std::move(options));
        }
        void PressHelp() const { window->findChild<QPushButton*>(QStringLiteral("btnHelp"))->click(); }
    };

    static int HelpWindowCount() {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<HelpWindow*>(widget) != nullptr) ++count;
        return count;
    }

  private slots:
    void TextHasItsFortySevenLines() {
        const QStringList lines = Lines();
        QCOMPARE(lines.size(), 47);
        QVERIFY(HelpWindow::HelpText().endsWith(QLatin1Char('\n')));
        for (int n : {1, 3, 7, 11, 15, 18, 25, 29, 35, 39, 47})
            QVERIFY2(lines[n - 1].isEmpty(), qPrintable(QString::number(n)));
        QCOMPARE(lines[1], QStringLiteral("   --------- テキスト楽譜をMIDIファイルに変換するソフト"));
        QCOMPARE(lines[3], QStringLiteral("■ 変換できる楽譜の形式"));
        QCOMPARE(lines[29], QStringLiteral("　　・ ロ、ツ、レ、ウ、チ、ヰ、ハ、リ、ヒ、ピ、タ、四"));
        QCOMPARE(lines[39], QStringLiteral("　　・ [　]（全角の空白で、２拍）"));
        QCOMPARE(lines[44], QStringLiteral("　　・ ３（３連符）、５（５連符）、７（７連符）"));
    }

    void TextIsTheFortySevenLines() {
        const QStringList expected{
            "",
            "   --------- テキスト楽譜をMIDIファイルに変換するソフト",
            "",
            "■ 変換できる楽譜の形式",
            "今のところは、都山流系の楽譜の変換しかできませんが、ゆくゆくは、",
            "「楽譜の定義」によって、琴古流系や琴、三味線の楽譜にも対応の予定です。",
            "",
            "■ 楽譜の構造",
            "ソフトを立ち上げると、楽譜欄に例が書いてあります。",
            "次の３つの行が１セットになっています。",
            "",
            "１）音色の設定（必須でない／半角数字）",
            "２）音高（必須／全角文字）",
            "３）音長（必須／全角文字）",
            "",
            "この順番で、間に空行があってはいけません。",
            "それぞれ、説明します。",
            "",
            "１）音色の設定（必須ではありません）",
            "　　全て半角数字で、音高の真上に音色番号(00～7Fの16進数)を書きます。",
            "　　ソフト上で音色リストの音色番号を切り替えてMIDIを作成し、",
            "　　「＞」ボタンで聞けば、どのような音色かわかります。",
            "　　この行が無い場合、あるいは「楽譜の音色を使う」の",
            "　　チェックを外せば、選択された音色でMIDIが作成されます。",
            "",
            "２）音高（必須／全角文字）",
            "　　文字は全て ＞＞全角＜＜ でなければなりません。",
            "　　半角が混じると正常に動作しません。",
            "",
            "　　・ ロ、ツ、レ、ウ、チ、ヰ、ハ、リ、ヒ、ピ、タ、四",
            "　　・ 乙、甲、大（＝大甲）,",
            "　　・ ♭（半音下）、♯（半音↑）、↓（一音下）,",
            "　　・ ー（前の音を伸ばす）、○（休符）",
            "　　・ ｜（小節線、区切り線）",
            "",
            "３）音長（必須／全角文字）",
            "　　文字は全て ＞＞全角＜＜ でなければなりません。",
            "　　半角が混じると正常に動作しません。",
            "",
            "　　・ [　]（全角の空白で、２拍）",
            "　　・ －、―（１拍、４分音符）",
            "　　・ ＋（１／２拍、８分音符）",
            "　　・ ＝（１／４拍、１６分音符）",
            "　　・ ＊（１／１６拍、３２分音符）",
            "　　・ ３（３連符）、５（５連符）、７（７連符）",
            "　　・ ｜（小節線、区切り線）",
            "",
        };
        QCOMPARE(Lines(), expected);
        QCOMPARE(HelpWindow::HelpText(), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }

    void IndentsWithIdeographicSpaces() {
        const QStringList lines = Lines();
        QCOMPARE(lines.size(), 47); // the lines below are indexed
        const QList<int> indented{20, 21, 22, 23, 24, 27, 28, 30, 31, 32, 33,
                                  34, 37, 38, 40, 41, 42, 43, 44, 45, 46};
        for (int n = 1; n <= 47; ++n) {
            const bool expected = indented.contains(n);
            QCOMPARE(lines[n - 1].startsWith(QStringLiteral("　　")), expected);
        }
        QVERIFY(lines[30].endsWith(QLatin1Char(',')));
        QVERIFY(lines[31].endsWith(QLatin1Char(',')));
    }

    // The characters whose forms differ between Shift-JIS tables are the code page 932 ones.
    void UsesTheCodePage932Forms() {
        const std::string bytes = EncodeCp932(HelpWindow::HelpText().toStdString()).bytes;
        QVERIFY(EncodeCp932(HelpWindow::HelpText().toStdString()).unmappable.empty());
        QVERIFY(bytes.find("(00\x81\x60"
                           "7F") != std::string::npos);                       // ～
        QVERIFY(bytes.find("\x81\x7C\x81\x41\x81\x5C") != std::string::npos); // －、―
    }

    void WindowIsFixedReadOnlyAndOutOfTheTabOrder() {
        HelpWindow help;
        QCOMPARE(help.windowTitle(), QStringLiteral("HelpF"));
        QVERIFY(!help.isVisible());
        QCOMPARE(help.minimumSize(), help.maximumSize());
        QVERIFY(!(help.windowFlags() & Qt::WindowMaximizeButtonHint));
        QPlainTextEdit* memo = help.Memo1();
        QVERIFY(memo->isReadOnly());
        QVERIFY(!(memo->focusPolicy() & Qt::TabFocus));
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(memo->toPlainText(), HelpWindow::HelpText());
        help.ShowInFront();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        QCOMPARE(memo->geometry(), help.rect());
        QTest::keyClicks(memo, QStringLiteral("abc"));
        QCOMPARE(memo->toPlainText(), HelpWindow::HelpText());
    }

    void KeepsItsPlaceAfterClosing() {
        HelpWindow help;
        help.ShowInFront();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        help.move(help.pos() + QPoint(37, 23));
        const QPoint moved = help.pos();
        help.Memo1()->verticalScrollBar()->setValue(5);
        QVERIFY(help.close());
        QVERIFY(!help.isVisible());
        help.ShowInFront();
        QVERIFY(help.isVisible());
        QCOMPARE(help.pos(), moved);
        QCOMPARE(help.Memo1()->toPlainText(), HelpWindow::HelpText());
        QCOMPARE(help.Memo1()->verticalScrollBar()->value(), 5);
    }

    void SizeFontAndScrollBar() {
        HelpWindow help;
        QCOMPARE(help.size(), QSize(472, 570)); // 96 dpi offscreen
        QPlainTextEdit* memo = help.Memo1();
        QCOMPARE(QFontInfo(memo->font()).family(), QStringLiteral("IPAGothic"));
        QCOMPARE(QFontInfo(memo->font()).pixelSize(), 12);
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!help.testAttribute(Qt::WA_QuitOnClose));
    }

    // The main window creates its help window hidden; "ヘルプ" shows it, centred the first time, and shows
    // the same window again, where the user left it.
    void HelpButtonShowsTheOneHelpWindow() {
        MainWindowFixture main;
        main.window->show();
        QCOMPARE(HelpWindowCount(), 1);
        HelpWindow& help = main.window->Help();
        QVERIFY(!help.isVisible());
        main.PressHelp();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        const QRect screen = help.screen()->geometry();
        QVERIFY(qAbs(help.frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(help.frameGeometry().center().y() - screen.center().y()) <= 1);
        main.PressHelp();
        QCOMPARE(HelpWindowCount(), 1);
        help.move(help.pos() + QPoint(-50, 40));
        const QPoint moved = help.pos();
        QVERIFY(help.close());
        main.PressHelp();
        QVERIFY(help.isVisible());
        QCOMPARE(help.pos(), moved);
        QCOMPARE(HelpWindowCount(), 1);
        QVERIFY(main.window->isVisible()); // modeless: the main window stays usable
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(main.messages.empty());
    }

    // Closing the main window ends the program's event loop, also while the help window is open. Runs last:
    // it runs the application's own loop.
    void ClosingTheMainWindowEndsTheProgram() {
        MainWindowFixture main;
        main.window->show();
        main.PressHelp();
        QVERIFY(main.window->Help().isVisible());
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QTimer::singleShot(0, main.window.get(), &QWidget::close);
        QTimer guard;
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        guard.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(lastClosed.count(), 1);
    }
};

} // namespace nagisora

QTEST_MAIN(nagisora::FHelpTest)
#include "help_window_test.moc"
