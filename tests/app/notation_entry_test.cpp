// The notation typing mode and the palette, driven through the real score area offscreen.

#include "app/notation_entry.h"
#include "app/palette_window.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "core/conversion.h"
#include "platform/cp932.h"
#include "window_harness.h"

#include <QInputMethodEvent>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

using namespace nagisora;

namespace {

struct Fixture {
    Fixture() {
        harness.window->show();
        harness.window->activateWindow();
        if (!QTest::qWaitForWindowActive(harness.window.get())) qWarning("window not active");
        area().setFocus();
    }
    ScoreArea& area() const { return harness.window->Area(); }
    NotationEntry& entry() const { return *harness.window->findChild<NotationEntry*>(); }
    QString text() const { return area().toPlainText(); }
    void Start(const QString& score, int line, int column, bool on) {
        harness.SetScore(score);
        QTextCursor caret(area().document()->findBlockByNumber(line));
        caret.setPosition(caret.position() + column);
        area().setTextCursor(caret);
        entry().SetOn(on);
    }
    test::WindowHarness harness;
};

// The start score's notation, with its comments in ASCII: as text, and as keys of the typing mode.
const QString ScoreText = u"//sets\n\n  16    38    0c      15        2A          31    00      6B\n"
                          "乙ロ　｜ツツ｜レレレ｜チチチチ｜ハハハハハ｜ロロロロロロ｜ローー○｜\n"
                          "　－　｜＋＋｜＋３＋｜＝＝＝＝｜＝＝５＝＝｜＝３＝＝３＝｜　－＋＋\n\n//6B\n\n"
                          "　ローツ○レチ｜ーハピ大ツ大レー｜大チーー○｜\n"
                          "　＋３＋＋３＋　＋３＋　＋　３＋　　　－＋＋　\n"_qs;
const char* const ScoreKeys =
    "//sets\n\n  16    38    0c      15        2A          31    00      6B\n"
    "zr |tt|eee|cccc|hhhhh|rrrrrr|r--o|\n - |++|+3+|====|==5==|=3==3=| -++\n\n//6B\n\n"
    " r-toec|-hpdtde-|dc--o|\n +3++3+ +3+ + 3+   -++ ";

} // namespace

class NotationEntryTest : public QObject {
    Q_OBJECT

  private slots:
    void typedScoreConvertsLikeText() {
        Fixture f;
        f.Start({}, 0, 0, true);
        for (const QString& keys : QString::fromLatin1(ScoreKeys).split(u'\n')) {
            QTest::keyClicks(&f.area(), keys);
            QTest::keyClick(&f.area(), Qt::Key_Return);
        }
        const std::vector<std::string> typed = f.harness.window->ScoreLines();
        f.harness.SetScore(ScoreText);
        QCOMPARE(typed, f.harness.window->ScoreLines());
        const std::vector<std::string_view> views(typed.begin(), typed.end());
        const Conversion fromKeys = ConvertScore(views, {});
        const Conversion fromText = ConvertScore(f.harness.window->Model().Lines(), {});
        QCOMPARE(fromKeys.eventCount, 41);
        QVERIFY(std::ranges::equal(fromKeys.Events(), fromText.Events(),
                                   [](const NoteEvent& a, const NoteEvent& b) {
                                       return a.program == b.program && a.key == b.key && a.ticks == b.ticks;
                                   }));
    }

    // The columns under and over a pitch line follow one key, and one undo takes back the key and its edits.
    void keysKeepTheColumns() {
        struct Case {
            QString score;
            int line, column;
            int key;
            QString expected;
        } const cases[] = {
            {u"  10\nロツ\n－＋"_qs, 1, 1, 't', u"    10\nロツツ\n－　＋"_qs},
            {u"ロ｜ツ\n－｜＋"_qs, 0, 1, '|', u"ロ｜｜ツ\n－｜｜＋"_qs},
            {u"ロツ\n－"_qs, 0, 2, 'e', u"ロツレ\n－"_qs}, // at the end: nothing to keep in step
            // A deleted note's timbre number goes on to the next note, the units between moving along; it
            // goes with its note when the next has a number of its own; the last symbol takes nothing along.
            {u"  1020\nロツレ\n－＋＝"_qs, 1, 2, Qt::Key_Backspace, u"  20\nロレ\n－＝"_qs},
            {u"  10\nロツレ\n－＋＝"_qs, 1, 2, Qt::Key_Backspace, u"  10\nロレ\n－＝"_qs},
            {u"  10    20\nロツ｜レチ\n－＋｜＝－"_qs, 1, 2, Qt::Key_Backspace,
             u"    1020\nロ｜レチ\n－｜＝－"_qs},
            {u"    20\nロツレ\n－＋＝"_qs, 1, 3, Qt::Key_Backspace, u"    20\nロツ\n－＋＝"_qs},
            {u"  16    38    0c      15\n乙ロ　｜ツツ｜レ"_qs, 1, 8, Qt::Key_Backspace,
             u"  16    38    0c      15\n乙ロ　｜ツツ｜"_qs},
            {u"ロツレ\n－＋＝"_qs, 0, 0, Qt::Key_Delete, u"ツレ\n＋＝"_qs},
            {u"ロツ\n//ab"_qs, 0, 1, 'e', u"ロレツ\n//ab"_qs}, // a comment is left alone
            {u"  \n"_qs, 1, 0, 'r', u"  \nロ"_qs},             // a new line's first symbol
            {u"  "_qs, 0, 2, 'r', u"　　ロ"_qs},               // widens the spaces typed before it
        };
        for (const Case& c : cases) {
            Fixture f;
            f.Start(c.score, c.line, c.column, true);
            if (c.key < 128)
                QTest::keyClick(&f.area(), char(c.key));
            else
                QTest::keyClick(&f.area(), Qt::Key(c.key));
            QCOMPARE(f.text(), c.expected);
            f.area().undo();
            QCOMPARE(f.text(), c.score);
        }
    }

    // Enter at the end of a pitch line with its durations written goes on at their end; else it makes a line.
    void enterGoesOnInTheDurationLine() {
        Fixture f;
        f.Start(u"ロツレ\n－"_qs, 0, 3, true);
        QTest::keyClick(&f.area(), Qt::Key_Return);
        QCOMPARE(f.text(), u"ロツレ\n－"_qs);
        QCOMPARE(f.area().textCursor().blockNumber(), 1);
        QCOMPARE(f.area().textCursor().positionInBlock(), 1);
        f.Start(u"ロツレ\n\n//"_qs, 0, 3, true);
        QTest::keyClick(&f.area(), Qt::Key_Return);
        QCOMPARE(f.text(), u"ロツレ\n\n\n//"_qs);
    }

    // The palette inserts at the caret without taking the focus, with the columns kept in the typing mode.
    void paletteInserts() {
        Fixture f;
        PaletteWindow& palette = f.entry().Palette();
        f.entry().PaletteAction()->trigger();
        QVERIFY(palette.isVisible());
        for (const bool on : {false, true}) {
            f.Start(u"ロツ\n－＋"_qs, 0, 1, on);
            QToolButton* kan = palette.Button("甲");
            QVERIFY(kan != nullptr && kan->toolTip().contains(u"k (音高行)"_qs));
            QTest::mouseClick(kan, Qt::LeftButton);
            QCOMPARE(f.text(), on ? u"ロ甲ツ\n－　＋"_qs : u"ロ甲ツ\n－＋"_qs);
            QVERIFY(f.area().hasFocus());
        }
        QVERIFY(palette.Button("♯") == nullptr);
    }

    // Text that an input method commits reaches the score lines unchanged, in the typing mode too.
    void inputMethodCommitsPassThrough() {
        for (const bool on : {false, true}) {
            Fixture f;
            f.Start(u"ロ\n"_qs, 0, 1, on);
            QInputMethodEvent commit;
            commit.setCommitString(u"ツr－"_qs);
            QCoreApplication::sendEvent(&f.area(), &commit);
            QCOMPARE(f.harness.window->ScoreLines(), std::vector<std::string>{EncodeCp932("ロツr－").bytes});
        }
    }

    // F9 switches the mode; the menu shows it checked and the badge names the caret line's keys.
    void modeIsShown() {
        Fixture f;
        f.Start(u"ロ\n"_qs, 0, 1, false);
        QTest::keyClick(f.harness.window.get(), Qt::Key_F9);
        QVERIFY(f.entry().IsOn());
        auto* badge = f.area().viewport()->findChild<QLabel*>(u"notationBadge"_qs);
        QVERIFY(badge->isVisible() && badge->text().contains(u"音高行"_qs));
        QCOMPARE(f.area().cursorWidth(), 2);
        std::unique_ptr<QMenu> menu(f.area().MakeContextMenu());
        QVERIFY(menu->actions().contains(f.entry().ModeAction()) && f.entry().ModeAction()->isChecked());
        f.area().moveCursor(QTextCursor::End);
        QVERIFY(badge->text().contains(u"音長行"_qs));

        // It stays in the corner while the text scrolls sideways.
        const int x = badge->x();
        f.area().appendPlainText(QString(400, u'ロ'));
        f.area().horizontalScrollBar()->setValue(f.area().horizontalScrollBar()->maximum());
        QVERIFY(f.area().horizontalScrollBar()->value() > 0);
        QCOMPARE(badge->x(), x);
    }
};

QTEST_MAIN(NotationEntryTest)
#include "notation_entry_test.moc"
