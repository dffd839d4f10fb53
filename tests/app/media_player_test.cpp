// The preview player widget over a media layer that plays into a WAV file (no sound card), offscreen.

#include "app/media_player.h"
#include "platform/media_errors.h"
#include "platform/media_layer.h"
#include "test_files.h"

#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>
#include <optional>
#include <vector>

namespace nagisora {
namespace {

// One note of 24 ticks at division 96: an eighth of a second of music.
std::string ShortMusic() {
    return std::string("MThd\0\0\0\x06\0\0\0\x01\0\x60"
                       "MTrk\0\0\0\x0F"
                       "\0\xC0\x00\0\x90\x45\x64\x18\x80\x45\x40\0\xFF\x2F\0",
                       37);
}

} // namespace

class MPlayTest : public QObject {
    Q_OBJECT

  private:
    std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

    std::string WriteMusic(const char* name) const {
        test::WriteBytes(Path(name), ShortMusic());
        return Path(name);
    }

    // Clicks with the mouse at the middle of a shown button.
    void MouseClick(PlayerButton button) {
        const QPoint at(button == PlayerButton::Play ? 14 : 42, 10);
        QTest::mouseClick(player_.get(), Qt::LeftButton, {}, at);
    }

    void WaitUntilStopped() { QTRY_VERIFY_WITH_TIMEOUT(player_->Mode() == MediaMode::Stopped, 5000); }

    static MPButtonSet Set(std::initializer_list<PlayerButton> buttons) {
        MPButtonSet set;
        for (const PlayerButton b : buttons)
            set.set(static_cast<std::size_t>(b));
        return set;
    }

    QTemporaryDir dir_;
    std::unique_ptr<MediaLayer> layer_;
    std::unique_ptr<MediaPlayer> player_;
    std::vector<PlayerButton> clicks_;
    std::vector<Failure> failures_;

  private slots:
    void init() {
        layer_ = std::make_unique<MediaLayer>(MediaOptions::ToWavFile(Path("out.wav")));
        player_ = std::make_unique<MediaPlayer>();
        player_->SetLayer(*layer_);
        clicks_.clear();
        failures_.clear();
        player_->SetClickHandler([this](MediaPlayer& player, PlayerButton button) {
            QCOMPARE(&player, player_.get());
            clicks_.push_back(button);
        });
        player_->SetErrorReporter([this](const Failure& failure) { failures_.push_back(failure); });
        player_->show();
    }

    void cleanup() {
        player_.reset();
        layer_.reset();
    }

    void startsWithoutFileAndIgnoresClicks() {
        QCOMPARE(player_->size(), QSize(57, 21));
        QCOMPARE(player_->focusPolicy(), Qt::NoFocus);
        QVERIFY(!player_->IsOpen());
        QVERIFY(player_->FileName().empty());
        QCOMPARE(player_->AvailableButtons(), MPButtonSet());
        MouseClick(PlayerButton::Play);
        MouseClick(PlayerButton::Stop);
        player_->Click(PlayerButton::Play);
        QVERIFY(clicks_.empty());
        QVERIFY(failures_.empty());
        QCOMPARE(player_->Mode(), MediaMode::Stopped);
        try {
            player_->Stop();
            QFAIL("no failure");
        } catch (const Failure& failure) {
            QCOMPARE(failure.Message(), std::string("MCI ﾃﾞﾊﾞｲｽがありません"));
        }
    }

    void availabilityFollowsOpenPlayStopAndClose() {
        player_->SetFileName(WriteMusic("work.mid"));
        player_->Open();
        QVERIFY(player_->IsOpen());
        QVERIFY(player_->CanPlay());
        QCOMPARE(player_->AvailableButtons(), Set({PlayerButton::Play}));
        QCOMPARE(player_->Mode(), MediaMode::Stopped);

        MouseClick(PlayerButton::Stop); // unavailable
        QVERIFY(clicks_.empty());

        MouseClick(PlayerButton::Play);
        QCOMPARE(clicks_.size(), std::size_t(1));
        QCOMPARE(clicks_[0], PlayerButton::Play);
        QCOMPARE(player_->Mode(), MediaMode::Playing);
        QCOMPARE(player_->AvailableButtons(), Set({PlayerButton::Stop}));

        MouseClick(PlayerButton::Play); // unavailable while playing
        QCOMPARE(clicks_.size(), std::size_t(1));

        MouseClick(PlayerButton::Stop);
        QCOMPARE(clicks_.size(), std::size_t(2));
        QCOMPARE(clicks_[1], PlayerButton::Stop);
        QCOMPARE(player_->Mode(), MediaMode::Stopped);
        QCOMPARE(player_->AvailableButtons(), Set({PlayerButton::Play}));

        player_->Close();
        QVERIFY(!player_->IsOpen());
        QCOMPARE(player_->AvailableButtons(), MPButtonSet());
        QVERIFY(failures_.empty());
    }

    // The end of the music, which the layer reports on its audio thread, reaches the user-interface thread
    // once per playback as musicEnded, Play available again by then; a playback that Stop ends has none.
    void endOfMusicIsSignalledOnceOnTheUserInterfaceThread() {
        std::vector<std::pair<QThread*, MPButtonSet>> ended;
        connect(player_.get(), &MediaPlayer::musicEnded, this,
                [&] { ended.emplace_back(QThread::currentThread(), player_->AvailableButtons()); });
        player_->SetFileName(WriteMusic("work.mid"));
        player_->Open();
        player_->Click(PlayerButton::Play);
        player_->Click(PlayerButton::Stop);
        QTest::qWait(400); // three times the music
        QVERIFY(ended.empty());

        for (std::size_t playback = 1; playback <= 2; ++playback) { // Play after the end plays again
            player_->Click(PlayerButton::Play);
            QCOMPARE(player_->Mode(), MediaMode::Playing);
            QCOMPARE(player_->AvailableButtons(), Set({PlayerButton::Stop}));
            QTRY_COMPARE_WITH_TIMEOUT(ended.size(), playback, 5000);
            QCOMPARE(ended.back().first, QCoreApplication::instance()->thread());
            QCOMPARE(ended.back().second, Set({PlayerButton::Play}));
            QCOMPARE(player_->Mode(), MediaMode::Stopped);
        }
        QTest::qWait(100);
        QCOMPARE(ended.size(), std::size_t(2));
    }

    void failingOpenInTheHandlerEndsTheClick() {
        player_->SetFileName(WriteMusic("work.mid"));
        player_->Open();
        player_->SetClickHandler([this](MediaPlayer& player, PlayerButton button) {
            clicks_.push_back(button);
            player.SetFileName(Path("gone.mid"));
            player.Open();
        });
        MouseClick(PlayerButton::Play);
        QCOMPARE(clicks_.size(), std::size_t(1));
        QCOMPARE(failures_.size(), std::size_t(1));
        QVERIFY(failures_[0].MediaErrorCode() == MediaCode::FileNotFound);
        QCOMPARE(failures_[0].Message(), MediaErrorText(MediaCode::FileNotFound));
        QVERIFY(!player_->IsOpen());
        QCOMPARE(player_->AvailableButtons(), MPButtonSet());
        QCOMPARE(player_->Mode(), MediaMode::Stopped); // no play happened
        MouseClick(PlayerButton::Play);
        QCOMPARE(clicks_.size(), std::size_t(1)); // and the buttons ignore clicks now
    }

    // An image from memory plays in place of the file, repeating until Stop; the buttons follow as for Play.
    void imageRepeatsUntilStop() {
        QSignalSpy ended(player_.get(), &MediaPlayer::musicEnded);
        player_->PlayImage(ShortMusic(), Repeat::UntilStop);
        QVERIFY(player_->IsOpen());
        QCOMPARE(player_->AvailableButtons(), Set({PlayerButton::Stop}));
        QTest::qWait(400); // three times the music
        QCOMPARE(player_->Mode(), MediaMode::Playing);
        QCOMPARE(ended.count(), 0);
        MouseClick(PlayerButton::Stop);
        QCOMPARE(player_->Mode(), MediaMode::Stopped);
        QCOMPARE(player_->AvailableButtons(), Set({PlayerButton::Play}));
        QVERIFY_EXCEPTION_THROWN(player_->PlayImage("no MIDI file"), Failure);
        QVERIFY(!player_->IsOpen());
        QCOMPARE(player_->AvailableButtons(), MPButtonSet());
    }

    void pressReleasedElsewhereIsNoClick() {
        player_->SetFileName(WriteMusic("work.mid"));
        player_->Open();
        QTest::mousePress(player_.get(), Qt::LeftButton, {}, QPoint(14, 10));
        QTest::mouseRelease(player_.get(), Qt::LeftButton, {}, QPoint(42, 10));
        QVERIFY(clicks_.empty());
        QCOMPARE(player_->Mode(), MediaMode::Stopped);
    }

    void unavailableSymbolsAreGreyed() {
        const auto symbolColour = [&](PlayerButton button) {
            const QImage image = player_->grab().toImage();
            return image.pixelColor(button == PlayerButton::Play ? 14 : 42, 10);
        };
        QVERIFY(symbolColour(PlayerButton::Play) != QColor(Qt::black));
        QVERIFY(symbolColour(PlayerButton::Stop) != QColor(Qt::black));
        player_->SetFileName(WriteMusic("work.mid"));
        player_->Open();
        QCOMPARE(symbolColour(PlayerButton::Play), QColor(Qt::black));
        QVERIFY(symbolColour(PlayerButton::Stop) != QColor(Qt::black));
        player_->Click(PlayerButton::Play);
        QVERIFY(symbolColour(PlayerButton::Play) != QColor(Qt::black));
        QCOMPARE(symbolColour(PlayerButton::Stop), QColor(Qt::black));
    }

    void playerGoneBeforeTheEndOfMusic() {
        player_->SetFileName(WriteMusic("work.mid"));
        player_->Open();
        player_->Click(PlayerButton::Play);
        player_.reset(); // the notification that follows finds no player
        QTRY_VERIFY_WITH_TIMEOUT(layer_->Mode() == MediaMode::Stopped, 5000);
        QTest::qWait(50);
    }
};

} // namespace nagisora

QTEST_MAIN(nagisora::MPlayTest)
#include "media_player_test.moc"
