#include "app/fingering_window.h"

#include "app/command_action.h"
#include "app/fonts.h"
#include "app/modeless_window.h"
#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/score_views.h"
#include "app/user_settings.h"
#include "app/window_scale.h"
#include "core/pipe_lengths.h"
#include "core/score_part.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <array>
#include <functional>

namespace nagisora {
namespace {

const QString PipeKey = QStringLiteral("fingering/pipeTenths");
const QString SevenKey = QStringLiteral("fingering/sevenHoles");

// Heights of the holes on the drawn pipe, as shares of its length from the foot: front holes a tenth of the
// length apart, the back hole half that above hole 4; the seven-hole pipe's small holes between them.
constexpr std::array<double, 5> FiveHeights{0.22, 0.32, 0.42, 0.52, 0.57};
constexpr std::array<double, 7> SevenHeights{0.22, 0.32, 0.37, 0.42, 0.47, 0.52, 0.57};
constexpr std::array<const char*, 7> SevenNumbers{"1", "2", "2½", "3", "3½", "4", "裏"};

QString BendText(Bend bend) {
    switch (bend) {
    case Bend::Kari:
        return QStringLiteral("カリ");
    case Bend::Meri:
        return QStringLiteral("メリ");
    case Bend::DaiMeri:
        return QStringLiteral("大メリ");
    case Bend::None:
        break;
    }
    return {};
}

// The note an event sounds: a hold (ー) sounds the note before it; a rest none.
std::optional<std::size_t> SoundingEvent(std::span<const NoteEvent> events, std::size_t event) {
    while (event < events.size() && events[event].IsHold()) {
        if (event == 0) return std::nullopt;
        --event;
    }
    if (event >= events.size() || !events[event].IsNote()) return std::nullopt;
    return event;
}

} // namespace

// --- the pipe ---

FingeringView::FingeringView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FingeringView"));
    setMinimumSize(120, 260);
}

QSize FingeringView::sizeHint() const {
    return {160, 340};
}

void FingeringView::SetFingering(std::optional<Fingering> fingering) {
    fingering_ = std::move(fingering);
    update();
}

void FingeringView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = palette().color(QPalette::Base);
    const QColor text = palette().color(QPalette::Text);
    painter.fillRect(rect(), base);

    const int margin = 12;
    const double pipeWidth = std::min(44.0, width() * 0.28);
    const double top = margin;
    const double bottom = height() - margin;
    const double length = bottom - top;
    const double x = width() / 2.0 - pipeWidth / 2.0;
    painter.setPen(QPen(Mixed(text, base, 0.6), 1.5));
    painter.setBrush(Mixed(QColor(0xC8, 0xA0, 0x50), base, 0.35)); // bamboo
    painter.drawRoundedRect(QRectF(x, top, pipeWidth, length), pipeWidth / 3, pipeWidth / 3);
    // The mouthpiece (歌口) at the top.
    painter.drawLine(QPointF(x + pipeWidth * 0.2, top + 6), QPointF(x + pipeWidth * 0.8, top + 6));
    if (!fingering_) return;

    const bool seven = fingering_->pipe == PipeKind::SevenHole;
    const std::size_t count = fingering_->HoleCount();
    for (std::size_t i = 0; i < count; ++i) {
        const bool back = i + 1 == count;
        const bool small = seven && (i == 2 || i == 4);
        const double share = seven ? SevenHeights[i] : FiveHeights[i];
        const double radius = pipeWidth * (small ? 0.2 : 0.3);
        // The back hole is drawn beside the pipe, on a stub of its own.
        const QPointF centre(back ? x + pipeWidth + radius * 2.2 : width() / 2.0, bottom - share * length);
        const QRectF hole(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        painter.setPen(QPen(text, 1.5));
        painter.setBrush(base);
        painter.drawEllipse(hole);
        painter.setPen(Qt::NoPen);
        painter.setBrush(text);
        switch (fingering_->holes[i]) {
        case Hole::Closed:
            painter.drawEllipse(hole);
            break;
        case Hole::Half:
            painter.drawPie(hole, 90 * 16, 180 * 16);
            break;
        case Hole::Open:
            break;
        }
        painter.setPen(text);
        const QString number = seven ? QString::fromUtf8(SevenNumbers[i])
                                     : (back ? QStringLiteral("裏") : QString::number(i + 1));
        const QRectF label(back ? centre.x() + radius + 3 : x - 34, centre.y() - 10, 30, 20);
        painter.drawText(label, (back ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, number);
    }
}

// --- the window ---

FingeringWindow::FingeringWindow(ScoreSession& session, PlayingCursor& cursor)
    : QWidget(&session.Window()), session_(session), model_(session.Model()), area_(session.Area()),
      cursor_(cursor), pipe_(new QComboBox(this)), sevenHoles_(new QCheckBox(QStringLiteral("7孔"), this)),
      view_(new FingeringView(this)), name_(new QLabel(this)), pitch_(new QLabel(this)),
      source_(new QLabel(this)) {
    const double scale =
        SetUpModelessWindow(*this, "FingeringF", QStringLiteral("運指"), WindowSize::Fixed, FontPixels);

    pipe_->setObjectName(QStringLiteral("cmbPipe"));
    for (const PipeLength& pipe : PipeLengths)
        pipe_->addItem(
            QStringLiteral("%1 尺管 (%2)")
                .arg(pipe.tenths / 10.0, 0, 'f', 1)
                .arg(QString::fromLatin1(pipe.note.data(), static_cast<qsizetype>(pipe.note.size()))),
            pipe.tenths);
    pipe_->setToolTip(QStringLiteral("管の長さ: 音高はこの管で吹いたときのもの"));
    sevenHoles_->setObjectName(QStringLiteral("chkSevenHoles"));
    sevenHoles_->setToolTip(QStringLiteral("七孔尺八の運指を表示します"));
    {
        const std::unique_ptr<QSettings> settings = UserSettings();
        const int at = pipe_->findData(settings->value(PipeKey, StandardPipeTenths).toInt());
        pipe_->setCurrentIndex(at >= 0 ? at : pipe_->findData(StandardPipeTenths));
        sevenHoles_->setChecked(settings->value(SevenKey, false).toBool());
    }
    name_->setObjectName(QStringLiteral("lblFingeringName"));
    QFont large = font();
    large.setPixelSize(Scaled(FontPixels * 2, scale));
    name_->setFont(large);
    name_->setAlignment(Qt::AlignCenter);
    pitch_->setObjectName(QStringLiteral("lblFingeringPitch"));
    pitch_->setAlignment(Qt::AlignCenter);
    source_->setObjectName(QStringLiteral("lblFingeringSource"));
    source_->setAlignment(Qt::AlignCenter);

    auto* options = new QHBoxLayout;
    options->addWidget(pipe_, 1);
    options->addWidget(sevenHoles_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(options);
    layout->addWidget(view_, 1);
    layout->addWidget(name_);
    layout->addWidget(pitch_);
    layout->addWidget(source_);

    const auto changed = [this] {
        KeepSettings();
        Refresh();
    };
    connect(pipe_, &QComboBox::currentIndexChanged, this, changed);
    connect(sevenHoles_, &QCheckBox::toggled, this, changed);
    connect(&area_, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        if (isVisible() && !hearing_) Refresh();
    });
    connect(&model_, &ScoreModel::Remapped, this, [this] {
        if (isVisible() && !hearing_) Refresh();
    });
    connect(&cursor_, &PlayingCursor::HeardAt, this, &FingeringWindow::Heard);
}

void FingeringWindow::ShowInFront() {
    ShowBeside(*this, session_.Window(), placed_);
}

void FingeringWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

void FingeringWindow::KeepSettings() const {
    const std::unique_ptr<QSettings> settings = UserSettings();
    settings->setValue(PipeKey, pipe_->currentData().toInt());
    settings->setValue(SevenKey, sevenHoles_->isChecked());
}

void FingeringWindow::Heard(qint64 tick) {
    const bool hearing = tick >= 0 && cursor_.Shown().has_value();
    if (!hearing && !hearing_) return;
    hearing_ = hearing;
    if (isVisible()) Refresh();
}

void FingeringWindow::Refresh() {
    if (hearing_)
        Show(BeingHeard(), QStringLiteral("再生中の音"));
    else
        Show(AtCaret(), QStringLiteral("カーソル位置の音"));
}

void FingeringWindow::Show(std::optional<Fingering> fingering, const QString& what) {
    // While the music plays this runs every frame: the pipe is drawn again only when the note changes.
    if (fingering == view_->Shown() && source_->text().startsWith(what)) return;
    if (fingering) {
        name_->setText(QString::fromStdString(fingering->name) + QStringLiteral("　") +
                       BendText(fingering->bend));
        pitch_->setText(QStringLiteral("%1  %2 Hz")
                            .arg(QString::fromStdString(PitchName(fingering->soundingKey)))
                            .arg(KeyHertz(fingering->soundingKey), 0, 'f', 1));
        source_->setText(what);
    } else {
        name_->setText(QStringLiteral("—"));
        pitch_->clear();
        source_->setText(what + QStringLiteral("がありません"));
    }
    view_->SetFingering(std::move(fingering));
}

namespace {

// The fingering of the note an event sounds, its symbol read from the line that lineText gives for a line of
// the places (empty when that line is gone or changed).
std::optional<Fingering> FingeringOfEvent(std::span<const NoteEvent> events,
                                          std::span<const EventPlace> places, std::size_t event,
                                          std::int32_t transposition, PipeKind pipe, std::int32_t tenths,
                                          const std::function<std::string_view(std::int32_t)>& lineText) {
    const std::optional<std::size_t> note = SoundingEvent(events, event);
    if (!note || *note >= places.size()) return std::nullopt;
    const EventPlace& place = places[*note];
    const std::string_view line = lineText(place.pitch.line);
    if (place.pitch.bytes < 2 || place.pitch.byte + 2 > line.size()) return std::nullopt;
    const Unit symbol = MakeUnit(static_cast<unsigned char>(line[place.pitch.byte]),
                                 static_cast<unsigned char>(line[place.pitch.byte + 1]));
    return FingeringOf(symbol, events[*note].key - transposition, place.accidental, pipe, tenths);
}

} // namespace

std::optional<Fingering> FingeringWindow::AtCaret() const {
    const ScoreMap& map = model_.Map();
    const std::size_t event = EventAtOrAfter(map, TextPointAt(model_, area_.textCursor().position()));
    const std::span<const std::string_view> lines = model_.Lines();
    return FingeringOfEvent(map.timed, map.events, event, model_.Transposition(),
                            sevenHoles_->isChecked() ? PipeKind::SevenHole : PipeKind::FiveHole,
                            pipe_->currentData().toInt(), [lines](std::int32_t line) {
                                return line >= 1 && static_cast<std::size_t>(line) <= lines.size()
                                           ? lines[static_cast<std::size_t>(line - 1)]
                                           : std::string_view{};
                            });
}

std::optional<Fingering> FingeringWindow::BeingHeard() const {
    const std::optional<std::size_t> shown = cursor_.Shown();
    if (!shown) return std::nullopt;
    const Performance& playing = cursor_.Playing();
    const std::span<const std::string_view> lines = model_.Lines();
    return FingeringOfEvent(playing.events, playing.places, *shown, model_.Transposition(),
                            sevenHoles_->isChecked() ? PipeKind::SevenHole : PipeKind::FiveHole,
                            pipe_->currentData().toInt(), [&](std::int32_t line) {
                                const std::optional<std::int32_t> now = playing.lines.LineNow(line);
                                return now && static_cast<std::size_t>(*now) <= lines.size()
                                           ? lines[static_cast<std::size_t>(*now - 1)]
                                           : std::string_view{};
                            });
}

void InstallFingering(ScoreSession& session, PlayingCursor& cursor) {
    auto* fingering = new FingeringWindow(session, cursor);
    AddCommand(session, CommandGroup::Views,
               {"actFingering",
                QStringLiteral("運指…"),
                {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)},
                QStringLiteral("カーソル位置と再生中の音の運指を表示します")},
               fingering, &FingeringWindow::ShowInFront);
}

} // namespace nagisora
