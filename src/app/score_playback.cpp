#include "score_playback.h"

#include "fMain.h"
#include "playing_cursor.h"
#include "score_area.h"
#include "score_model.h"
#include "score_views.h"

#include <QAction>
#include <QTextBlock>
#include <QToolTip>

namespace nagisora {
namespace {

constexpr int RefusedByConversion = 0;

} // namespace

ScorePlayback::ScorePlayback(TMainF& window, PlayingCursor& cursor)
    : QObject(&window), window_(window), model_(window.Model()), area_(window.ScoreArea()), cursor_(cursor),
      fromHere_(new QAction(QStringLiteral("ここから再生"), &window)),
      selection_(new QAction(QStringLiteral("選択範囲を再生"), &window)),
      loop_(new QAction(QStringLiteral("ループ再生"), &window)) {
    setObjectName(QStringLiteral("ScorePlayback"));
    const struct {
        QAction* action;
        QKeySequence keys;
        void (ScorePlayback::*slot)();
        const char* name;
        QString tip;
    } commands[] = {
        {fromHere_, QKeySequence(Qt::SHIFT | Qt::Key_F6), &ScorePlayback::PlayFromHere, "actPlayFromHere",
         QStringLiteral("カーソルの音から終わりまで再生します (Shift+F6)")},
        {selection_, QKeySequence(Qt::CTRL | Qt::Key_F6), &ScorePlayback::PlaySelection, "actPlaySelection",
         QStringLiteral("選択した範囲の音を再生します (Ctrl+F6)")},
        {loop_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F6), &ScorePlayback::PlayLoop, "actPlayLoop",
         QStringLiteral(
             "選択した範囲 (選択がなければカーソルから終わりまで) を ■ まで繰り返します (Ctrl+Shift+F6)")},
    };
    for (const auto& c : commands) {
        c.action->setObjectName(QString::fromLatin1(c.name));
        c.action->setShortcut(c.keys);
        c.action->setToolTip(c.tip);
        connect(c.action, &QAction::triggered, this, c.slot);
        area_.AddCommand(CommandGroup::Play, c.action);
        window.addAction(c.action);
    }
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
    const Conversion conversion = ConvertScore(model_.Lines(), window_.Settings());
    if (conversion.Refused()) return window_.ReportFailure(Failure(RefusedByConversion, conversion.refusal));
    const std::span<const TOnpu> events = conversion.Events();
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

    const ScorePart part = PartOfScore(events, range, window_.Settings());
    std::vector<EventPlace> places;
    if (map.events.size() == events.size())
        places.assign(map.events.begin() + static_cast<std::ptrdiff_t>(range.first),
                      map.events.begin() + static_cast<std::ptrdiff_t>(range.end));
    const std::string image = MidiImageOf(part.events, part.settings);
    cursor_.FollowPart(part.events, std::move(places), part.startTick);
    window_.PlayPart(image, repeat);
}

void ScorePlayback::SayAtCaret(const QString& text) const {
    const QRect at = area_.cursorRect();
    QToolTip::showText(area_.viewport()->mapToGlobal(at.bottomLeft()), text, area_.viewport());
}

} // namespace nagisora
