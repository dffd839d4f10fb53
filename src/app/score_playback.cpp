#include "app/score_playback.h"

#include "app/command_action.h"
#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/score_views.h"
#include "app/user_settings.h"
#include "core/metronome.h"
#include "core/midi_image.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QTextBlock>
#include <QToolTip>
#include <algorithm>

namespace nagisora {
namespace {

const QString TempoKey = QStringLiteral("playback/tempoPercent");
const QString LadderKey = QStringLiteral("playback/ladder");
const QString LadderFromKey = QStringLiteral("playback/ladderFrom");
const QString LadderStepKey = QStringLiteral("playback/ladderStep");
const QString CountInKey = QStringLiteral("playback/countIn");
const QString MetronomeKey = QStringLiteral("playback/metronome");

constexpr int TempoStep = 5;
constexpr int TempoPresets[] = {25, 50, 60, 70, 75, 80, 90, 100, 110, 125, 150, 200};
constexpr int LadderStarts[] = {50, 60, 70, 80, 90};
constexpr int LadderSteps[] = {2, 5, 10};

// The window property that the caption shows after the window's own caption (UnsavedEdits).
constexpr char CaptionNote[] = "captionNote";

} // namespace

ScorePlayback::ScorePlayback(ScoreSession& session, PlayingCursor& cursor)
    : QObject(&session.Window()), session_(session), model_(session.Model()), area_(session.Area()),
      cursor_(cursor), fromHere_(AddCommand(session, CommandGroup::Play,
                                            {"actPlayFromHere",
                                             QStringLiteral("ここから再生"),
                                             {QKeySequence(Qt::SHIFT | Qt::Key_F6)},
                                             QStringLiteral("カーソルの音から終わりまで再生します")},
                                            this, &ScorePlayback::PlayFromHere)),
      selection_(AddCommand(session, CommandGroup::Play,
                            {"actPlaySelection",
                             QStringLiteral("選択範囲を再生"),
                             {QKeySequence(Qt::CTRL | Qt::Key_F6)},
                             QStringLiteral("選択した範囲の音を再生します")},
                            this, &ScorePlayback::PlaySelection)),
      loop_(AddCommand(
          session, CommandGroup::Play,
          {"actPlayLoop",
           QStringLiteral("ループ再生"),
           {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F6)},
           QStringLiteral("選択した範囲 (選択がなければカーソルから終わりまで) を ■ まで繰り返します")},
          this, &ScorePlayback::PlayLoop)) {
    setObjectName(QStringLiteral("ScorePlayback"));
    MakePracticeCommands();
    connect(&session_, &ScoreSession::Converted, this,
            [this] { workBars_ = BarTicks(session_.WorkEvents()); });
    // ▶ has opened the work file and is about to play it: its clicks go with it.
    connect(&session_, &ScoreSession::WorkFilePlaying, this, &ScorePlayback::WorkPlaying);
    // A loop that gains speed names each pass's tempo in the caption.
    connect(&cursor_, &PlayingCursor::HeardAt, this, [this](qint64 tick) {
        const HeardPosition heard = session_.Heard();
        ShowSpeed(tick >= 0 && heard.sounding ? static_cast<int>(std::lround(heard.speed * 100))
                                              : tempoPercent_);
    });
}

// The practice commands: the metronome and the count-in beside the play commands, and the submenu of the
// practice tempo with the loop ladder, as the settings left them.
void ScorePlayback::MakePracticeCommands() {
    const std::unique_ptr<QSettings> settings = UserSettings();
    tempoPercent_ = std::clamp(settings->value(TempoKey, 100).toInt(), MinSpeedPercent, MaxSpeedPercent);
    ladderFrom_ =
        std::clamp(settings->value(LadderFromKey, ladderFrom_).toInt(), MinSpeedPercent, MaxSpeedPercent);
    ladderStep_ = std::clamp(settings->value(LadderStepKey, ladderStep_).toInt(), 1, MaxSpeedPercent);
    MakeClickCommands(*settings);
    MakeTempoMenu();
    MakeLadderCommands(*settings);
    area_.AddMenu(CommandGroup::Play, tempoMenu_);
    ApplySpeed();
}

void ScorePlayback::MakeClickCommands(const QSettings& settings) {
    metronome_ =
        AddCommand(session_, CommandGroup::Play,
                   {"actMetronome",
                    QStringLiteral("メトロノーム"),
                    {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K)},
                    QStringLiteral("再生中、拍ごとにクリックを鳴らします。小節線 ｜ の後の拍は強く")});
    countIn_ =
        AddCommand(session_, CommandGroup::Play,
                   {"actCountIn",
                    QStringLiteral("カウントイン"),
                    {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
                    QStringLiteral("再生の前に 1 小節 (小節線がなければ 4 拍) のクリックを鳴らします")});
    for (const auto& [action, key] : {std::pair{metronome_, MetronomeKey}, std::pair{countIn_, CountInKey}}) {
        action->setCheckable(true);
        action->setChecked(settings.value(key, false).toBool());
        connect(action, &QAction::toggled, this, [key](bool on) { UserSettings()->setValue(key, on); });
    }
}

// Slower, faster and back to the score's tempo, with keys, then the presets.
void ScorePlayback::MakeTempoMenu() {
    tempoMenu_ = new QMenu(&session_.Window());
    tempoMenu_->setObjectName(QStringLiteral("menuPracticeTempo"));
    tempoMenu_->setToolTipsVisible(true);
    const struct {
        const char* name;
        QString text;
        QKeySequence keys;
        QString tip;
        int change;
    } steps[] = {
        {"actTempoSlower", QStringLiteral("遅く (-5%)"), QKeySequence(Qt::ALT | Qt::Key_Down),
         QStringLiteral("練習テンポを 5% 遅くします"), -TempoStep},
        {"actTempoFaster", QStringLiteral("速く (+5%)"), QKeySequence(Qt::ALT | Qt::Key_Up),
         QStringLiteral("練習テンポを 5% 速くします"), TempoStep},
        {"actTempoNormal", QStringLiteral("楽譜のテンポ (100%)"), QKeySequence(Qt::ALT | Qt::Key_0),
         QStringLiteral("練習テンポを 100% に戻します"), 0},
    };
    for (const auto& step : steps) {
        QAction* action = MakeCommand(session_.Window(), {step.name, step.text, {step.keys}, step.tip});
        connect(action, &QAction::triggered, this, [this, change = step.change] {
            SetTempoPercent(change == 0 ? 100 : tempoPercent_ + change);
        });
        tempoMenu_->addAction(action);
    }
    tempoMenu_->addSeparator();
    tempoPresets_ = new QActionGroup(this);
    for (const int percent : TempoPresets) {
        QAction* preset = tempoMenu_->addAction(QStringLiteral("%1%").arg(percent));
        preset->setCheckable(true);
        preset->setData(percent);
        tempoPresets_->addAction(preset);
        connect(preset, &QAction::triggered, this, [this, percent] { SetTempoPercent(percent); });
    }
}

// The loop ladder on and off, and where it starts and by how much it climbs.
void ScorePlayback::MakeLadderCommands(const QSettings& settings) {
    tempoMenu_->addSeparator();
    ladder_ = MakeCommand(session_.Window(),
                          {"actLoopLadder",
                           QString(),
                           {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_J)},
                           QStringLiteral("ループ再生を 1 回ごとに速くし、練習テンポまで上げます")});
    ladder_->setCheckable(true);
    ladder_->setChecked(settings.value(LadderKey, false).toBool());
    connect(ladder_, &QAction::toggled, this, [this](bool on) {
        UserSettings()->setValue(LadderKey, on);
        ApplySpeed();
    });
    tempoMenu_->addAction(ladder_);
    const auto addChoices = [this](const QString& title, std::span<const int> values, int& value,
                                   const QString& key) {
        QMenu* menu = tempoMenu_->addMenu(title);
        auto* group = new QActionGroup(menu);
        for (const int v : values) {
            QAction* choice = menu->addAction(QStringLiteral("%1%").arg(v));
            choice->setCheckable(true);
            choice->setChecked(v == value);
            group->addAction(choice);
            connect(choice, &QAction::triggered, this, [this, v, &value, key] {
                value = v;
                UserSettings()->setValue(key, v);
                ApplySpeed();
            });
        }
    };
    addChoices(QStringLiteral("ループの開始テンポ"), LadderStarts, ladderFrom_, LadderFromKey);
    addChoices(QStringLiteral("ループごとの上げ幅"), LadderSteps, ladderStep_, LadderStepKey);
}

PlaybackSpeed ScorePlayback::Speed() const {
    return PlaybackSpeed{tempoPercent_, ladderFrom_, ladder_->isChecked() ? ladderStep_ : 0};
}

void ScorePlayback::SetTempoPercent(int percent) {
    tempoPercent_ = std::clamp(percent, MinSpeedPercent, MaxSpeedPercent);
    UserSettings()->setValue(TempoKey, tempoPercent_);
    ApplySpeed();
}

// The layer plays at the speed from now on; the menu and the caption say so.
void ScorePlayback::ApplySpeed() {
    session_.Media().SetSpeed(Speed());
    tempoMenu_->setTitle(QStringLiteral("練習テンポ (%1%)").arg(tempoPercent_));
    for (QAction* preset : tempoPresets_->actions())
        preset->setChecked(preset->data().toInt() == tempoPercent_);
    ladder_->setText(
        QStringLiteral("ループを 1 回ごとに速く (%1% から %2% ずつ)").arg(ladderFrom_).arg(ladderStep_));
    ShowSpeed(tempoPercent_);
}

// The caption names a practice tempo other than the score's own.
void ScorePlayback::ShowSpeed(int percent) {
    const QVariant note =
        percent == 100 ? QVariant() : QVariant(QStringLiteral(" — 練習テンポ %1%").arg(percent));
    QWidget& window = session_.Window();
    if (window.property(CaptionNote) != note) window.setProperty(CaptionNote, note);
}

std::vector<std::int64_t> ScorePlayback::BarTicks(std::span<const NoteEvent> events) const {
    const ScoreMap& map = model_.Map();
    std::vector<std::int64_t> bars;
    if (map.events.size() != events.size()) return bars; // the text no longer holds the music's notes
    const std::vector<std::int64_t> starts = EventStarts(events);
    for (const BarPlace& bar : map.bars)
        if (bar.eventsBefore >= 0 && static_cast<std::size_t>(bar.eventsBefore) < starts.size())
            bars.push_back(starts[static_cast<std::size_t>(bar.eventsBefore)]);
    return bars;
}

std::vector<MetronomeClick> ScorePlayback::ClicksOf(std::span<const std::int64_t> barTicks, std::int64_t from,
                                                    std::int64_t to) const {
    std::vector<MetronomeClick> clicks;
    if (!metronome_->isChecked() && !countIn_->isChecked()) return clicks;
    for (const BeatClick& click : MetronomeClicks(
             barTicks, MetronomeRequest{from, to, countIn_->isChecked(), metronome_->isChecked()}))
        clicks.push_back(MetronomeClick{click.tick - from + midi::LeadInDelta, click.accent});
    return clicks;
}

void ScorePlayback::WorkPlaying() {
    const std::span<const NoteEvent> events = session_.WorkEvents();
    const std::vector<std::int64_t> starts = EventStarts(events);
    session_.Media().SetClicks(ClicksOf(workBars_, 0, starts.back()));
}

void ScorePlayback::PlayFromHere() {
    Play(Notes::FromCaret, Repeat::Once);
}

void ScorePlayback::PlaySelection() {
    Play(Notes::Selected, Repeat::Once);
}

void ScorePlayback::PlayLoop() {
    Play(Notes::SelectedOrFromCaret, Repeat::UntilStop);
}

void ScorePlayback::Play(Notes notes, Repeat repeat) {
    const Conversion conversion = ConvertScore(model_.Lines(), session_.Settings());
    if (conversion.Refused()) return session_.ReportFailure(*conversion.refusal);
    const std::span<const NoteEvent> events = conversion.Events();
    const ScoreMap& map = model_.Map();
    const QTextCursor caret = area_.textCursor();

    EventRange range;
    if (caret.hasSelection() && notes != Notes::FromCaret)
        range = EventsBetween(map, TextPointAt(model_, caret.selectionStart()),
                              TextPointAt(model_, caret.selectionEnd()));
    else if (notes != Notes::Selected)
        range = EventRange{EventAtOrAfter(map, TextPointAt(model_, caret.position())), events.size()};
    if (range.Empty())
        return SayAtCaret(notes == Notes::Selected && !caret.hasSelection()
                              ? QStringLiteral("再生する範囲を選択してください")
                              : QStringLiteral("ここには再生する音がありません"));

    const ScorePart part = PartOfScore(events, range, session_.Settings());
    std::vector<EventPlace> places;
    if (map.events.size() == events.size())
        places.assign(map.events.begin() + static_cast<std::ptrdiff_t>(range.first),
                      map.events.begin() + static_cast<std::ptrdiff_t>(range.end));
    const std::string image = MidiImageOf(part.events, part.settings);
    const std::vector<std::int64_t> starts = EventStarts(part.events);
    std::vector<MetronomeClick> clicks =
        ClicksOf(BarTicks(events), part.startTick, part.startTick + starts.back());
    cursor_.FollowPart(part.events, std::move(places), part.startTick);
    session_.PlayPart(image, repeat, std::move(clicks));
}

void ScorePlayback::SayAtCaret(const QString& text) const {
    const QRect at = area_.cursorRect();
    QToolTip::showText(area_.viewport()->mapToGlobal(at.bottomLeft()), text, area_.viewport());
}

} // namespace nagisora
