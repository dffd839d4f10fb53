// The practice windows of the main window: the fingering of the note under the caret and of the note heard;
// the report of a take in the 練習 window.

#include "app/fingering_window.h"
#include "app/media_player.h"
#include "app/playing_cursor.h"
#include "app/practice_window.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "app/score_views.h"
#include "window_harness.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>

using namespace nagisora;

namespace {

using Harness = test::WindowHarness;

using test::PutCaret;

bool InMenu(const QMenu& menu, const QAction* action) {
    for (const QAction* item : menu.actions())
        if (item == action || (item->menu() && InMenu(*item->menu(), action))) return true;
    return false;
}

// Opens the window through its command, which the score area's context menu holds.
FingeringWindow& OpenFingering(const Harness& h) {
    h.window->show();
    const std::unique_ptr<QMenu> menu(h.window->Area().MakeContextMenu());
    QAction* action = h.Get<QAction>("actFingering");
    if (!InMenu(*menu, action)) qFatal("運指 is not in the context menu");
    action->trigger();
    return *h.window->findChild<FingeringWindow*>();
}

} // namespace

class PracticeWindowsTest : public QObject {
    Q_OBJECT

  private slots:
    // The note under the caret, its register taken from the reader's key (R1 raises the ロ after ハハハハハ);
    // a hold shows the note it holds, a rest nothing.
    void fingeringFollowsTheCaret() {
        Harness h;
        FingeringWindow& window = OpenFingering(h);
        QVERIFY(window.isVisible());
        const struct {
            int line, column;
            const char* name;
        } cases[] = {
            {4, 1, "乙ロ"}, {4, 5, "乙ツ"},  {4, 23, "甲ロ"}, {9, 2, "甲ロ"},   {9, 6, "甲レ"},
            {9, 11, "ピ"},  {9, 13, "大ツ"}, {9, 16, "大レ"}, {9, 22, nullptr},
        };
        for (const auto& c : cases) {
            PutCaret(h, c.line, c.column);
            const std::optional<Fingering>& shown = window.View().Shown();
            QVERIFY2(shown.has_value() == (c.name != nullptr), qPrintable(QString::number(c.column)));
            if (c.name) QCOMPARE(QString::fromStdString(shown->name), QString::fromUtf8(c.name));
        }

        // The pipe and the seven holes are the player's choice, kept for the next window.
        PutCaret(h, 4, 2);
        QVERIFY(h.Get<QLabel>("lblFingeringPitch")->text().startsWith(QStringLiteral("D4")));
        auto* pipe = h.Get<QComboBox>("cmbPipe");
        pipe->setCurrentIndex(pipe->findData(24));
        QVERIFY(h.Get<QLabel>("lblFingeringPitch")->text().startsWith(QStringLiteral("A3")));
        h.Get<QCheckBox>("chkSevenHoles")->setChecked(true);
        QCOMPARE(window.View().Shown()->HoleCount(), 7u);
        Harness again;
        OpenFingering(again);
        QCOMPARE(again.Get<QComboBox>("cmbPipe")->currentData().toInt(), 24);
        QVERIFY(again.Get<QCheckBox>("chkSevenHoles")->isChecked());
        again.Get<QComboBox>("cmbPipe")->setCurrentIndex(pipe->findData(18));
        again.Get<QCheckBox>("chkSevenHoles")->setChecked(false);
    }

    // While the music plays the note heard is shown; once it ends, the note under the caret again.
    void fingeringFollowsTheNoteHeard() {
        Harness h;
        FingeringWindow& window = OpenFingering(h);
        PutCaret(h, 9, 22); // a rest: nothing shown
        h.window->MakeMidi();
        h.Get<MediaPlayer>("mPlay")->Click(PlayerButton::Play);
        PlayingCursor& cursor = h.window->findChild<ScoreViews*>()->Cursor();
        auto* source = h.Get<QLabel>("lblFingeringSource");
        QTRY_VERIFY_WITH_TIMEOUT(cursor.Shown() && *cursor.Shown() >= 2 && window.View().Shown(), 5000);
        QCOMPARE(source->text(), QStringLiteral("再生中の音"));
        const std::size_t heard = *cursor.Shown();
        const Fingering shown = *window.View().Shown();
        const NoteEvent& event = h.window->Model().Map().timed[heard];
        if (event.IsNote()) QCOMPARE(shown.soundingKey, event.key + 12);
        h.Get<MediaPlayer>("mPlay")->Click(PlayerButton::Stop);
        QTRY_COMPARE_WITH_TIMEOUT(source->text(), QStringLiteral("カーソル位置の音がありません"), 5000);
    }

    // Without a sound server the window says so and cannot listen. A take of the score an octave up (as the
    // pipe sounds it) with one note 50 cents sharp: that note alone is far out, and a click on its row puts
    // the caret on its pitch symbol.
    void practiceReportsATakeAndFindsItsNotes() {
        qputenv("PULSE_SERVER", "unix:/nonexistent/native");
        Harness h;
        h.window->show();
        h.Get<QAction>("actPractice")->trigger();
        PracticeWindow& practice = *h.window->findChild<PracticeWindow*>();
        QVERIFY(practice.Status().startsWith(QStringLiteral("音声入力がありません")));
        QVERIFY(!h.Get<QPushButton>("btnListen")->isEnabled());

        h.window->MakeMidi();
        practice.BeginTake();
        const ScoreMap& map = h.window->Model().Map();
        const std::vector<SoundingNote> notes = NotesSounding(map.timed, h.window->Settings());
        const double secondsPerTick = 0.5 / h.window->Settings().tempo;
        const std::size_t sharp = 10;
        TakeAnalysis take;
        for (std::size_t k = 0; k < notes.size(); ++k) {
            const double end = static_cast<double>(notes[k].end) * secondsPerTick + 0.4;
            for (double t = static_cast<double>(notes[k].start) * secondsPerTick + 0.4; t < end; t += 0.006)
                take.frames.push_back(
                    PitchFrame{t, t < end - 0.03 ? notes[k].key + 12 + (k == sharp ? 0.5 : 0) : 0});
        }
        practice.ReportTake(take);
        QCOMPARE(practice.Report().size(), notes.size());
        for (std::size_t k = 0; k < notes.size(); ++k)
            QVERIFY2(practice.Report()[k].farOut == (k == sharp), qPrintable(QString::number(k)));

        auto* table = h.Get<QTableWidget>("tblPracticeReport");
        table->scrollToItem(table->item(static_cast<int>(sharp), 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(static_cast<int>(sharp), 0)).center());
        QCOMPARE(h.window->Area().textCursor().position(),
                 h.window->Model().CursorFor(map.events[notes[sharp].event].pitch).selectionStart());
    }
};

QTEST_MAIN(PracticeWindowsTest)
#include "practice_windows_test.moc"
