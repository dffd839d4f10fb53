// The seams of the score session: its signals come when the window's state they name has changed, so that a
// feature that reads the session on the signal reads the new state.

#include "app/score_session.h"
#include "core/conversion.h"
#include "platform/cp932.h"
#include "window_harness.h"

#include <QCheckBox>
#include <QListWidget>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <functional>

using namespace nagisora;

namespace {

using Harness = test::WindowHarness;

constexpr char OneBeat[] = "\n\x83\x8D\n\x81\x7C\n"; // ロ for one beat, in code page 932

} // namespace

class ScoreSessionTest : public QObject {
    Q_OBJECT

  private slots:
    // Each control of the next conversion's settings; the session's settings are the new ones on the signal.
    void settingsChanged() {
        const Harness h;
        ScoreSession& session = h.window->Session();
        const struct {
            const char* control;
            std::function<void()> change;
            std::function<bool(const ConversionSettings&)> taken;
        } cases[] = {
            {"tempo", [&] { h.Get<QScrollBar>("scrTempo")->setValue(100); },
             [](const ConversionSettings& s) { return s.tempo == 100; }},
            {"transpose", [&] { h.Get<QScrollBar>("scrOntei")->setValue(-3); },
             [](const ConversionSettings& s) { return s.transpose == -3; }},
            {"volume", [&] { h.Get<QScrollBar>("scrOnryo")->setValue(40); },
             [](const ConversionSettings& s) { return s.volume == 40; }},
            {"instrument", [&] { h.Get<QListWidget>("lstGakki")->setCurrentRow(5); },
             [](const ConversionSettings& s) { return s.instrument == 5; }},
            {"timbres", [&] { h.Get<QCheckBox>("chkOnshoku")->toggle(); },
             [&](const ConversionSettings& s) {
                 return s.useScoreTimbres == h.Get<QCheckBox>("chkOnshoku")->isChecked();
             }},
        };
        for (const auto& c : cases) {
            bool taken = false;
            int emitted = 0;
            const QMetaObject::Connection seen = connect(&session, &ScoreSession::settingsChanged, this, [&] {
                ++emitted;
                taken = c.taken(session.Settings());
            });
            c.change();
            disconnect(seen);
            QVERIFY2(emitted == 1 && taken, c.control);
        }
    }

    // The music of ▶ and of a part of the score each end once; a part that cannot sound ends at once.
    void musicEnded() {
        const Harness h;
        h.SetScore(QString::fromStdString(DecodeCp932(OneBeat)));
        ScoreSession& session = h.window->Session();
        QSignalSpy ended(&session, &ScoreSession::musicEnded);

        session.PlayWork(); // converts first: nothing to play yet
        QCOMPARE(session.Mode(), MediaMode::Playing);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
        QCOMPARE(session.Mode(), MediaMode::Stopped);

        const std::vector<NoteEvent> part{NoteEvent{NoteEvent::NoProgram, 62, 120}};
        session.PlayPart(MidiImageOf(part, session.Settings()), Repeat::Once);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 2, 5000);
        QVERIFY(h.messages.empty());
    }
};

QTEST_MAIN(ScoreSessionTest)
#include "score_session_test.moc"
