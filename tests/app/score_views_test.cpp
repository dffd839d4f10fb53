// What the score area shows of the score and of the music: colours by role and symbol, recoloured where an
// edit changes them; the column guide; parts of the score played through the player's own states; the
// playing cursor; the piano roll and its clicks.

#include "app/column_guide.h"
#include "app/media_player.h"
#include "app/piano_roll_window.h"
#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"
#include "app/score_playback.h"
#include "app/score_views.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

using namespace nagisora;

namespace {

using Harness = test::WindowHarness;

ScoreViews& ViewsOf(const Harness& h) {
    return *h.window->findChild<ScoreViews*>();
}

// The colour the highlighter gives the character at a line (from 1) and column (from 1).
QColor ColourAt(const Harness& h, int line, int column) {
    const QTextBlock block = h.window->Area().document()->findBlockByNumber(line - 1);
    QColor colour = h.window->Area().palette().color(QPalette::Text);
    for (const QTextLayout::FormatRange& range : block.layout()->formats())
        if (range.start <= column - 1 && column - 1 < range.start + range.length &&
            range.format.hasProperty(QTextFormat::ForegroundBrush))
            colour = range.format.foreground().color();
    return colour;
}

using test::PutCaret;

// Types the text as one key would, at the caret.
void Type(const Harness& h, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(&h.window->Area(), &press);
}

} // namespace

class ScoreViewsTest : public QObject {
    Q_OBJECT

  private slots:
    // Each line in its role's colour, the symbols of the pitch lines in theirs; an edit that changes the
    // roles of the lines around it, or the units of every later set, recolours them, and one that changes
    // nothing else recolours its own line alone.
    void coloursFollowRolesAndUnits() {
        Harness h;
        ScoreColours& colours = ViewsOf(h).Colours();
        const auto colourOf = [&](auto what) { return colours.FormatOf(what).foreground().color(); };
        QCoreApplication::processEvents(); // the first colouring
        const struct {
            int line, column;
            QColor colour;
        } start[] = {
            {1, 1, colourOf(LineRole::Comment)},
            {3, 3, colourOf(LineRole::Timbre)},
            {4, 1, colourOf(UnitKind::RegisterMark)},
            {4, 4, colourOf(UnitKind::BarLine)},
            {5, 2, colourOf(LineRole::Duration)},
            {9, 3, colourOf(UnitKind::RestOrHold)},
            {9, 2, h.window->Area().palette().color(QPalette::Text)}, // a note
        };
        for (const auto& c : start)
            QVERIFY2(ColourAt(h, c.line, c.column) == c.colour,
                     qPrintable(QStringLiteral("%1:%2").arg(c.line).arg(c.column)));

        colours.TakeLinesColoured();
        PutCaret(h, 1, 3);
        Type(h, u"あ"_qs);
        QCOMPARE(colours.TakeLinesColoured(), 1);

        // A pitch line on the blank line 2: the comment over it becomes its timbre line, the old timbre line
        // its duration line.
        PutCaret(h, 2, 1);
        Type(h, u"ロ"_qs);
        QCOMPARE(ColourAt(h, 1, 1), colourOf(LineRole::Timbre));
        QCOMPARE(ColourAt(h, 3, 3), colourOf(LineRole::Duration));

        // A half-width letter in the first pitch line shifts the units of the second set's pitch line
        // (line 9): its symbols are no longer read.
        QVERIFY(ColourAt(h, 9, 2) != colourOf(UnitKind::Other));
        PutCaret(h, 4, 2);
        Type(h, u"a"_qs);
        QCOMPARE(ColourAt(h, 9, 2), colourOf(UnitKind::Other));
    }

    // On lines of thousands of characters a keystroke colours its own line, the later ones right after.
    void longLinesAreRecolouredAfterTheKeystroke() {
        Harness h;
        const QString set =
            u"\n"_qs + QString(u'ロ').repeated(1500) + u"\n"_qs + QString(u'－').repeated(1500);
        h.SetScore(set + u"\n"_qs + set); // pitch lines 2 and 5
        QCoreApplication::processEvents();
        ScoreColours& colours = ViewsOf(h).Colours();
        const QColor other = colours.FormatOf(UnitKind::Other).foreground().color();
        colours.TakeLinesColoured();
        PutCaret(h, 2, 3);
        Type(h, u"a"_qs); // moves the units of line 5
        QVERIFY(colours.TakeLinesColoured() <= 2 && ColourAt(h, 5, 2) != other);
        QTRY_COMPARE(ColourAt(h, 5, 2), other);
    }

    // Readable on a light and on a dark base.
    void coloursStandOutFromEitherBase() {
        for (const QColor base : {QColor(Qt::white), QColor(0x1E, 0x1F, 0x22)})
            for (const int hue : {0, 150, 215, 290})
                for (const int saturation : {0, 170}) {
                    const QColor colour = ReadableOn(base, hue, saturation);
                    const auto luminance = [](const QColor& c) {
                        const auto f = [](double x) {
                            return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
                        };
                        return 0.2126 * f(c.redF()) + 0.7152 * f(c.greenF()) + 0.0722 * f(c.blueF());
                    };
                    const double a = luminance(colour) + 0.05;
                    const double b = luminance(base) + 0.05;
                    QVERIFY(std::max(a, b) / std::min(a, b) >= 4.5);
                }
    }

    void guideMarksTheUnitsReadTogether() {
        Harness h;
        PutCaret(h, 5, 19); // the ５ under the third ハ
        std::vector<QString> marked;
        for (const QTextCursor& cursor : ViewsOf(h).Guide().Marked())
            marked.push_back(cursor.selectedText());
        QCOMPARE(marked, (std::vector<QString>{u"ハ"_qs, u"  "_qs, u"５"_qs}));
        QCOMPARE(h.window->Area().Marks(MarkLayer::Guide).size(), 3);
        PutCaret(h, 1, 3); // a comment pairs nothing
        QVERIFY(ViewsOf(h).Guide().Marked().empty());
    }

    // The parts go through the player's states as ▶ does and leave it as the last conversion left it; the
    // work file, MidiData and the caption stay, also at a practice tempo with the metronome and the count-in
    // on, which the settings keep for the next window and the shown caption names.
    void partsPlayLikeTheWorkFile() {
        Harness h;
        h.window->show();
        h.Get<QScrollBar>("scrTempo")->setValue(254);
        ScorePlayback& playback = ViewsOf(h).Playback();
        const std::string atScoreTempo =
            ConvertScore(h.window->Model().Lines(), h.window->Settings()).midiData;
        for (const char* name : {"actTempoFaster", "actTempoFaster", "actMetronome", "actCountIn"})
            h.Get<QAction>(name)->trigger();
        {
            Harness next;
            QCOMPARE(next.window->Media().Speed().percent, 110);
            QVERIFY(ViewsOf(next).Playback().MetronomeAction()->isChecked());
            QVERIFY(ViewsOf(next).Playback().CountInAction()->isChecked());
        }
        QCOMPARE(h.window->windowHandle()->title(), h.window->windowTitle() + u" — 練習テンポ 110%"_qs);
        auto* player = h.Get<MediaPlayer>("mPlay");
        auto* ok = h.Get<QPushButton>("btnOk");
        const QString caption = h.window->windowTitle();
        const auto playing = [&] { return player->Mode() == MediaMode::Playing && !ok->isEnabled(); };

        PutCaret(h, 9, 4); // ツ of the second set
        playback.PlayFromHere();
        QVERIFY(playing());
        QCOMPARE(ViewsOf(h).Cursor().Playing().events.size(), 14u);
        player->Click(PlayerButton::Stop);
        QTRY_VERIFY(!player->IsOpen()); // no conversion yet: no file, as before
        QVERIFY(ok->isEnabled() && !player->IsAvailable(PlayerButton::Play));

        h.window->MakeMidi();
        const std::string work = test::ReadBytes(h.window->WorkFilePath());
        const std::string midiData = h.window->MidiData();
        PutCaret(h, 4, 8, 3); // レレレ
        playback.PlaySelection();
        QVERIFY(playing());
        QCOMPARE(ViewsOf(h).Cursor().Playing().events.size(), 3u);
        QTRY_VERIFY_WITH_TIMEOUT(ok->isEnabled(), 5000); // the music ends: ready for ▶ again
        QVERIFY(player->IsAvailable(PlayerButton::Play));

        playback.PlayLoop(); // the same three notes, a third of a second, over and over
        QTest::qWait(1500);
        QVERIFY(playing());
        player->Click(PlayerButton::Stop);
        QTRY_VERIFY(ok->isEnabled() && player->IsAvailable(PlayerButton::Play));

        QCOMPARE(test::ReadBytes(h.window->WorkFilePath()), work);
        QCOMPARE(h.window->MidiData(), midiData);
        QCOMPARE(midiData, atScoreTempo);
        QCOMPARE(h.window->windowTitle(), caption);
        QVERIFY(h.messages.empty());
        for (const char* name : {"actTempoNormal", "actMetronome", "actCountIn"})
            h.Get<QAction>(name)->trigger();
        QCOMPARE(h.window->windowHandle()->title(), h.window->windowTitle());
    }

    // The note heard is marked, pitch symbol and duration unit; ■ leaves the mark where the music stopped.
    void cursorMarksTheNoteHeard() {
        Harness h;
        h.window->show();
        h.window->MakeMidi();
        h.Get<MediaPlayer>("mPlay")->Click(PlayerButton::Play);
        PlayingCursor& cursor = ViewsOf(h).Cursor();
        QTRY_VERIFY_WITH_TIMEOUT(cursor.Shown() && *cursor.Shown() >= 1, 5000);
        h.Get<MediaPlayer>("mPlay")->Click(PlayerButton::Stop);
        QTest::qWait(100);
        const std::size_t shown = *cursor.Shown();
        const QList<QTextEdit::ExtraSelection>& marks = h.window->Area().Marks(MarkLayer::Playing);
        QCOMPARE(marks.size(), 2);
        const EventPlace& place = h.window->Model().Map().events[shown];
        QCOMPARE(marks[0].cursor, h.window->Model().CursorFor(place.pitch));
        QCOMPARE(marks[1].cursor, h.window->Model().CursorFor(place.duration));
    }

    // Lines followed through edits: kept where they are, moved by lines added or removed above them, lost
    // when changed.
    void linesAreFollowedThroughEdits() {
        const std::vector<std::string_view> before = {"a", "b", "c", "d"};
        const struct {
            const char* name;
            int first, last, delta;
            std::vector<std::string_view> now;
            std::vector<std::optional<std::int32_t>> lines; // of a to d, from 1
        } cases[] = {
            {"line added above", 0, 1, 1, {"x", "a", "b", "c", "d"}, {2, 3, 4, 5}},
            {"line b changed", 1, 1, 0, {"a", "B", "c", "d"}, {1, std::nullopt, 3, 4}},
            {"line b removed", 1, 1, -1, {"a", "c", "d"}, {1, std::nullopt, 2, 3}},
            {"line break at the end of b", 1, 2, 1, {"a", "b", "", "c", "d"}, {1, 2, 4, 5}},
        };
        for (const auto& c : cases) {
            LineFollower follower;
            follower.Take(before);
            follower.Follow(c.first, c.last, c.delta, c.now);
            for (std::int32_t line = 1; line <= 4; ++line)
                QVERIFY2(follower.LineNow(line) == c.lines[static_cast<std::size_t>(line - 1)], c.name);
        }
    }

    // The notes of the score; a click on one puts the caret on its pitch symbol; selected text outlines its
    // notes.
    void pianoRollShowsAndFindsTheNotes() {
        Harness h;
        h.window->show();
        ViewsOf(h).PianoRollAction()->trigger();
        PianoRollWindow& rollF = ViewsOf(h).PianoRollF();
        QVERIFY(rollF.isVisible());
        PianoRoll& roll = rollF.Roll();
        QCOMPARE(roll.Notes().size(), 31u); // 41 events, less rests and holds
        const SoundingNote& note = roll.Notes()[20];
        QTest::mouseClick(roll.viewport(), Qt::LeftButton, {}, roll.NoteRect(note).center());
        const QTextCursor symbol =
            h.window->Model().CursorFor(h.window->Model().Map().events[note.event].pitch);
        QCOMPARE(h.window->Area().textCursor().position(), symbol.selectionStart());

        PutCaret(h, 4, 8, 3); // レレレ
        QCOMPARE(roll.Selected(), (EventRange{3, 6}));
    }
};

QTEST_MAIN(ScoreViewsTest)
#include "score_views_test.moc"
