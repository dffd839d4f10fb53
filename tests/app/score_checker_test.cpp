// The checker in the main window: typed pitfalls are underlined where they are, explained on the tooltip,
// listed in the problems window and reached with F8; the conversion is not held up by them.

#include "app/score_area.h"
#include "app/score_checker.h"
#include "window_harness.h"

#include <QApplication>
#include <QHelpEvent>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QToolTip>

using namespace nagisora;

namespace {

using Harness = test::WindowHarness;

ScoreChecker& CheckerOf(const Harness& h) {
    return *h.window->findChild<ScoreChecker*>();
}

// Puts the caret on a line (from 1) and column (from 1) of the score area and types the text.
void TypeAt(const Harness& h, int line, int column, const QString& text) {
    ScoreArea& area = h.window->Area();
    QTextCursor cursor(area.document()->findBlockByNumber(line - 1));
    cursor.setPosition(cursor.position() + column - 1);
    area.setTextCursor(cursor);
    area.setFocus();
    QTest::keyClicks(&area, text);
}

// Types text as the keyboard or an input method would send it, a key event per character.
void Type(QWidget& to, const QString& text) {
    for (const QChar c : text) {
        const int key = c == u'\n' ? Qt::Key_Return : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, &to, Qt::Key(key), c == u'\n' ? QString() : QString(c), {});
    }
}

void WaitForCheck(const Harness& h) {
    QSignalSpy checked(&CheckerOf(h), &ScoreChecker::Checked);
    QVERIFY(checked.wait(2000));
}

} // namespace

class ScoreCheckerTest : public QObject {
    Q_OBJECT

  private slots:
    void typedPitfallIsUnderlinedAndExplained() {
        Harness h;
        h.window->show();
        QVERIFY(CheckerOf(h).Findings().empty()); // the start score
        QVERIFY(h.window->Area().Marks(MarkLayer::Findings).isEmpty());

        TypeAt(h, 4, 6, u"a"_qs); // a half-width letter in the first pitch line, "ツaツ"
        WaitForCheck(h);
        const std::vector<Finding>& findings = CheckerOf(h).Findings();
        QCOMPARE(findings.size(), 1u);
        QCOMPARE(CodeName(findings[0].code), "half-width-in-pitch-line");
        QCOMPARE(findings[0].span, (SourceSpan{4, 6, 1}));

        const QList<QTextEdit::ExtraSelection>& marks = h.window->Area().Marks(MarkLayer::Findings);
        QCOMPARE(marks.size(), 1);
        QCOMPARE(marks[0].cursor.selectedText(), u"a"_qs);
        QCOMPARE(marks[0].format.underlineStyle(), QTextCharFormat::WaveUnderline);
        QCOMPARE(marks[0].format.underlineColor().red() > 0xC0, true); // an error is red

        // The message is the tooltip of the underlined character.
        ScoreArea& area = h.window->Area();
        const QPoint at = area.cursorRect(marks[0].cursor).center();
        QHelpEvent hover(QEvent::ToolTip, at, area.viewport()->mapToGlobal(at));
        QApplication::sendEvent(area.viewport(), &hover);
        QCOMPARE(QToolTip::text(), QString::fromStdString(findings[0].message));

        // Undone, the score is clean again.
        h.window->Area().undo();
        WaitForCheck(h);
        QVERIFY(CheckerOf(h).Findings().empty());
        QVERIFY(h.window->Area().Marks(MarkLayer::Findings).isEmpty());
    }

    // Text typed right after a finding is not underlined with it: each mark covers its finding's characters.
    void marksStayOnTheirFindingsAfterInsertionsAtTheirEnd() {
        const struct {
            const char* name;
            QString typed; // at the end of the text, after a ○ typed there first
        } cases[] = {
            {"a new line of text", u"\nmemo"_qs},
            {"more of the line", u"ロツ"_qs},
            {"a half-width letter", u"x"_qs},
        };
        for (const auto& c : cases) {
            Harness h;
            h.window->show();
            ScoreArea& area = h.window->Area();
            area.moveCursor(QTextCursor::End);
            area.setFocus();
            Type(area, u"○"_qs);
            WaitForCheck(h);
            Type(area, c.typed);
            WaitForCheck(h);
            const std::vector<Finding>& findings = CheckerOf(h).Findings();
            const QList<QTextEdit::ExtraSelection>& marks = area.Marks(MarkLayer::Findings);
            QVERIFY2(!findings.empty() && marks.size() == qsizetype(findings.size()), c.name);
            for (std::size_t f = 0; f < findings.size(); ++f) {
                const QTextCursor& mark = marks[qsizetype(f)].cursor;
                QCOMPARE(mark.blockNumber() + 1, findings[f].span.line);
                QCOMPARE(mark.selectedText().size(), qsizetype(findings[f].span.length));
            }
        }
    }

    // A long line scrolled to its end has the findings in view marked, and only those.
    void marksOfALongLineInView() {
        Harness h;
        h.window->show();
        h.SetScore(u"\n"_qs + u"ロa"_qs.repeated(1500) + u"\n"_qs); // each a is a finding
        ScoreArea& area = h.window->Area();
        area.horizontalScrollBar()->setValue(area.horizontalScrollBar()->maximum());
        CheckerOf(h).CheckNow();
        const QList<QTextEdit::ExtraSelection> inView = area.Marks(MarkLayer::Findings);
        const int lastX = area.cursorRect(inView.last().cursor).x();
        QVERIFY(inView.size() < 100 && lastX > 0 && lastX <= area.viewport()->width());
    }

    void f8AndTheProblemsWindowReachEachFinding() {
        Harness h;
        h.window->show();
        QVERIFY(QTest::qWaitForWindowActive(h.window.get())); // the shortcuts are the window's
        h.SetScore(u"\nロ♯ツ\n－　－\n\nレ\n"_qs); // ♯ (line 2), and a pitch line without durations (line 5)
        ScoreChecker& checker = CheckerOf(h);
        checker.CheckNow();
        QCOMPARE(checker.Findings().size(), 2u);
        ScoreArea& area = h.window->Area();
        area.moveCursor(QTextCursor::Start);
        area.setFocus();

        const auto caretAt = [&] {
            const QTextCursor caret = area.textCursor();
            return std::pair{caret.blockNumber() + 1, caret.positionInBlock() + 1};
        };
        QTest::keyClick(&area, Qt::Key_F8);
        QCOMPARE(caretAt(), (std::pair{2, 2}));
        QTest::keyClick(&area, Qt::Key_F8);
        QCOMPARE(caretAt(), (std::pair{5, 1}));
        QTest::keyClick(&area, Qt::Key_F8); // round to the first
        QCOMPARE(caretAt(), (std::pair{2, 2}));
        QTest::keyClick(&area, Qt::Key_F8, Qt::ShiftModifier);
        QCOMPARE(caretAt(), (std::pair{5, 1}));

        QTest::keyClick(&area, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
        ProblemsWindow& problems = checker.ProblemsF();
        QVERIFY(problems.isVisible());
        QCOMPARE(problems.List()->count(), 2);
        QVERIFY(problems.List()->item(0)->text().startsWith(u"2 行 2 列: ♯"_qs));
        area.moveCursor(QTextCursor::End);
        const QListWidgetItem* first = problems.List()->item(0);
        QTest::mouseClick(problems.List()->viewport(), Qt::LeftButton, {},
                          problems.List()->visualItemRect(first).center());
        QCOMPARE(caretAt(), (std::pair{2, 2}));

        // The open window follows the text: the ♯ made ＃, one row is left.
        QTextCursor sharp = area.textCursor();
        sharp.deleteChar();
        sharp.insertText(u"＃"_qs);
        WaitForCheck(h);
        QCOMPARE(problems.List()->count(), 1);
        QVERIFY(problems.List()->item(0)->text().startsWith(u"5 行 1 列: "_qs));

        // The commands are in the score area's context menu with their keys.
        const std::unique_ptr<QMenu> menu(area.MakeContextMenu());
        QStringList shown;
        for (const QAction* action : menu->actions())
            if (!action->shortcut().isEmpty()) shown.push_back(action->shortcut().toString());
        QVERIFY(shown.contains(u"F8"_qs) && shown.contains(u"Shift+F8"_qs) &&
                shown.contains(u"Ctrl+Shift+M"_qs));
    }

    // A score with errors is still converted as written, without a message.
    void conversionIsNotHeldUp() {
        Harness h;
        h.window->show();
        h.SetScore(u"\nロaツ\n－－\n"_qs);
        CheckerOf(h).CheckNow();
        QVERIFY(!CheckerOf(h).Findings().empty());
        h.Get<QPushButton>("btnOk")->click();
        QVERIFY(h.messages.empty());
        QVERIFY(!h.window->MidiData().empty());
    }
};

QTEST_MAIN(ScoreCheckerTest)
#include "score_checker_test.moc"
