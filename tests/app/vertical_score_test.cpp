// The 縦譜 window: made only when first opened; it follows the text, the caret and the music heard, a click
// on a note puts the caret on its pitch symbol, and PDF 保存… writes the pages through the file writer.

#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_checker.h"
#include "app/score_model.h"
#include "app/score_views.h"
#include "app/vertical_score_window.h"
#include "window_harness.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTest>
#include <QTextBlock>

using namespace nagisora;

namespace {

using Harness = test::WindowHarness;

using test::PutCaret;

} // namespace

class VerticalScoreTest : public QObject {
    Q_OBJECT

  private slots:
    void followsTextCaretAndMusic() {
        Harness h;
        h.window->show();
        QVERIFY(h.window->findChild<VerticalScoreWindow*>() == nullptr); // nothing made at the start
        h.Get<QAction>("actVerticalScore")->trigger();
        auto* vertical = h.window->findChild<VerticalScoreWindow*>();
        QVERIFY(vertical != nullptr && vertical->isVisible());
        QCOMPARE(vertical->Score().cellOfEvent.size(), 41u);
        QCOMPARE(vertical->Score().pages, 1);
        VerticalView& view = vertical->View();

        // The caret on a symbol of a pitch line, its duration or its timbre marks that note.
        const struct {
            int line, column;
            std::int32_t event;
        } carets[] = {{4, 2, 0}, {4, 5, 1}, {5, 9, 4}, {9, 3, 26}};
        for (const auto& c : carets) {
            PutCaret(h, c.line, c.column);
            QCOMPARE(view.CaretEvent(), c.event);
        }

        // A click on a note puts the caret on its pitch symbol.
        for (const std::int32_t event : {3, 20, 40}) {
            QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.EventRect(event).center());
            const QTextCursor symbol =
                h.window->Model().CursorFor(h.window->Model().Map().events[event].pitch);
            QCOMPARE(h.window->Area().textCursor().position(), symbol.selectionStart());
            QCOMPARE(view.CaretEvent(), event);
        }

        // The note heard: the one that begins at or before the tick, none after the music.
        PlayingCursor& cursor = h.window->findChild<ScoreViews*>()->Cursor();
        const std::pair<qint64, std::int32_t> heard[] = {{0, 0}, {125, 1}, {240, 3}, {-1, -1}};
        for (const auto& [tick, event] : heard) {
            emit cursor.HeardAt(tick);
            QCOMPARE(view.HeardEvent(), event);
        }

        // An edit is laid out again; the checker's errors are marked at their notes, its warnings not.
        h.SetScore(QStringLiteral("//題\nロツ\n－－"));
        QTRY_COMPARE(vertical->Score().cellOfEvent.size(), 2u);
        QVERIFY(view.FlaggedEvents().empty());
        h.SetScore(QStringLiteral("ロツレチaハ\n－－－－－－"));
        QTRY_COMPARE(view.FlaggedEvents(), (std::vector<std::int32_t>{3}));

        h.answer = QString::fromStdString(h.Path("score.pdf"));
        vertical->findChild<QAction*>("actPdfSave")->trigger();
        QVERIFY(h.messages.empty());
        QVERIFY(test::ReadBytes(h.Path("score.pdf")).starts_with("%PDF-"));

        // The paper, font size and margins are kept for the next window.
        vertical->findChild<QComboBox*>("cmbPaper")->setCurrentIndex(1);
        vertical->findChild<QDoubleSpinBox*>("spnFontSize")->setValue(18);
        vertical->findChild<QDoubleSpinBox*>("spnMargin")->setValue(22);
        const VerticalScoreWindow next(h.window->Session(), cursor, *h.window->findChild<ScoreChecker*>());
        QCOMPARE(next.PageSettings(), (VerticalPageSettings{VerticalPaper::B5, 22, 18}));
    }
};

QTEST_MAIN(VerticalScoreTest)
#include "vertical_score_test.moc"
