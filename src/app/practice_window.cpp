#include "app/practice_window.h"

#include "app/bench_trace.h"
#include "app/command_action.h"
#include "app/fonts.h"
#include "app/modeless_window.h"
#include "app/playing_cursor.h"
#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/user_settings.h"
#include "app/window_scale.h"
#include "core/failure.h"
#include "core/pipe_lengths.h"
#include "platform/practice_loader.h"
#include "platform/sound_input.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

constexpr int WindowWidth = 640;
constexpr int WindowHeight = 520;
constexpr std::int32_t KeyMargin = 2;
constexpr double ShownCents = 50.0; // a point further from its note is drawn at this distance
// A take begins with the sound of this long before the music: a player who comes in a little early, or a
// take whose source runs ahead of the preview, keeps its first note.
constexpr double PreRollSeconds = 1.0;
const QString SourceKey = QStringLiteral("practice/source");
const QString PipeKey = QStringLiteral("fingering/pipeTenths"); // the 運指 window's pipe

QString ProblemText(InputProblem problem, const std::string& message) {
    switch (problem) {
    case InputProblem::NoServer:
        return QStringLiteral("音声入力がありません: サウンドサーバーに接続できません");
    case InputProblem::NoSource:
        return QStringLiteral("音声入力がありません: マイクなどの入力が見つかりません");
    case InputProblem::NoPermission:
        return QStringLiteral("音声入力の使用が許可されていません");
    case InputProblem::Failed:
        return QStringLiteral("音声入力を開けません: ") + QString::fromStdString(message);
    case InputProblem::None:
        break;
    }
    return {};
}

std::int32_t PipeSemitones() {
    const std::optional<PipeLength> pipe =
        PipeOfLength(UserSettings()->value(PipeKey, StandardPipeTenths).toInt());
    return pipe ? pipe->semitones : 0;
}

QString KeyText(double midi) {
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const auto key = static_cast<int>(std::lround(midi));
    const double cents = (midi - key) * 100.0;
    return QStringLiteral("%1%2 %3%4 セント")
        .arg(QString::fromLatin1(names[((key % 12) + 12) % 12]))
        .arg(key / 12 - 1)
        .arg(cents >= 0 ? QStringLiteral("+") : QString())
        .arg(cents, 0, 'f', 0);
}

} // namespace

// --- the trace ---

PracticeTrace::PracticeTrace(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PracticeTrace"));
    setMinimumHeight(160);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize PracticeTrace::sizeHint() const {
    return {600, 240};
}

void PracticeTrace::SetNotes(std::vector<SoundingNote> notes, std::int64_t length) {
    notes_ = std::move(notes);
    length_ = std::max<std::int64_t>(length, 1);
    points_.clear();
    playhead_ = -1;
    const auto [low, high] = KeyRangeOf(notes_, {60, 72});
    lowKey_ = low - KeyMargin;
    highKey_ = high + KeyMargin;
    update();
}

const SoundingNote* PracticeTrace::NoteAt(std::int64_t tick) const {
    const auto after = std::upper_bound(notes_.begin(), notes_.end(), tick,
                                        [](std::int64_t t, const SoundingNote& n) { return t < n.start; });
    if (after == notes_.begin()) return nullptr;
    const SoundingNote& note = *(after - 1);
    return tick < note.end ? &note : nullptr;
}

std::optional<double> PracticeTrace::CentsAt(std::int64_t tick, double midi) const {
    const SoundingNote* note = NoteAt(tick);
    if (note == nullptr || midi <= 0) return std::nullopt;
    return (midi - note->key) * 100.0;
}

void PracticeTrace::AddPoint(Point point) {
    points_.push_back(point);
    // Only the stretch of the new points is drawn again.
    const int x = static_cast<int>(X(point.tick));
    dirty_ = dirty_.united(QRect(x - 4, 0, 8, height()));
}

void PracticeTrace::DrawNow() {
    if (dirty_.isEmpty()) return;
    repaint(dirty_);
    dirty_ = {};
}

void PracticeTrace::SetPlayhead(std::int64_t tick) {
    if (tick == playhead_) return;
    const int before = static_cast<int>(X(playhead_));
    playhead_ = tick;
    update(QRect(before - 2, 0, 5, height()));
    update(QRect(static_cast<int>(X(tick)) - 2, 0, 5, height()));
}

double PracticeTrace::X(std::int64_t tick) const {
    return 4.0 + static_cast<double>(tick) * (width() - 8) / static_cast<double>(length_);
}

std::int64_t PracticeTrace::TickAt(double x) const {
    return static_cast<std::int64_t>((x - 4.0) * static_cast<double>(length_) / std::max(1, width() - 8));
}

double PracticeTrace::Y(double key) const {
    const double row = static_cast<double>(height()) / (highKey_ - lowKey_ + 1);
    return (highKey_ + 0.5 - key) * row;
}

void PracticeTrace::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QColor base = palette().color(QPalette::Base);
    const QColor text = palette().color(QPalette::Text);
    painter.fillRect(event->rect(), base);
    const double row = static_cast<double>(height()) / (highKey_ - lowKey_ + 1);
    // The written notes, with the band of ±30 cents around each.
    for (const SoundingNote& n : notes_) {
        const QRectF bar(X(n.start), Y(n.key) - row / 2, std::max(1.0, X(n.end) - X(n.start) - 1), row);
        if (!bar.intersects(event->rect())) continue;
        painter.fillRect(bar, Mixed(text, base, 0.10));
        const double band = FarOutCents / 100.0 * row;
        painter.fillRect(QRectF(bar.left(), Y(n.key) - band, bar.width(), 2 * band), Mixed(text, base, 0.22));
        painter.setPen(Mixed(text, base, 0.5));
        painter.drawLine(QPointF(bar.left(), Y(n.key)), QPointF(bar.right(), Y(n.key)));
    }
    // The player's pitch: a point at the written note's row, moved by its cents.
    const QColor inTune = ReadableOn(base, 120, 200, 3.0);
    const QColor outOfTune = ReadableOn(base, 0, 220, 3.0);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // The points come in the order of the music: only those of the stretch drawn are looked at.
    const auto first = std::lower_bound(points_.begin(), points_.end(), TickAt(event->rect().left() - 3),
                                        [](const Point& p, std::int64_t tick) { return p.tick < tick; });
    for (auto it = first; it != points_.end(); ++it) {
        const Point& p = *it;
        const double x = X(p.tick);
        if (x > event->rect().right() + 3) break;
        const SoundingNote* note = NoteAt(p.tick);
        if (note == nullptr || p.midi <= 0) continue;
        const double cents = (p.midi - note->key) * 100.0;
        const double shown = std::clamp(cents, -ShownCents, ShownCents);
        painter.setBrush(std::abs(cents) <= FarOutCents ? inTune : outOfTune);
        painter.drawEllipse(QPointF(x, Y(note->key + shown / 100.0)), 1.8, 1.8);
    }
    if (playhead_ >= 0) {
        painter.setPen(QPen(ReadableOn(base, 210, 200, 3.0), 1.5));
        painter.drawLine(QPointF(X(playhead_), 0), QPointF(X(playhead_), height()));
    }
}

// --- the window ---

PracticeWindow::PracticeWindow(ScoreSession& session, PlayingCursor& cursor)
    : QWidget(&session.Window()), session_(session), model_(session.Model()), area_(session.Area()),
      cursor_(cursor), sources_(new QComboBox(this)), refresh_(new QPushButton(QStringLiteral("更新"), this)),
      listen_(new QPushButton(QStringLiteral("聴く"), this)),
      play_(new QPushButton(QStringLiteral("▶ 吹く"), this)), status_(new QLabel(this)),
      now_(new QLabel(this)), trace_(new PracticeTrace(this)), table_(new QTableWidget(0, 6, this)) {
    const double scale =
        SetUpModelessWindow(*this, "PracticeF", QStringLiteral("練習"), WindowSize::Resizable, FontPixels);
    resize(Scaled(WindowWidth, scale), Scaled(WindowHeight, scale));

    sources_->setObjectName(QStringLiteral("cmbSource"));
    sources_->setToolTip(QStringLiteral("聴き取る音声入力"));
    refresh_->setObjectName(QStringLiteral("btnSources"));
    refresh_->setToolTip(QStringLiteral("音声入力の一覧を取り直します"));
    listen_->setObjectName(QStringLiteral("btnListen"));
    listen_->setCheckable(true);
    listen_->setToolTip(QStringLiteral("選んだ音声入力を聴き取ります"));
    play_->setObjectName(QStringLiteral("btnPracticePlay"));
    play_->setToolTip(QStringLiteral("聴き取りを始めて楽譜を再生します。終わると一音ずつの結果を表示します"));
    status_->setObjectName(QStringLiteral("lblPracticeStatus"));
    status_->setWordWrap(true);
    now_->setObjectName(QStringLiteral("lblPracticeNow"));
    table_->setObjectName(QStringLiteral("tblPracticeReport"));
    table_->setHorizontalHeaderLabels({QStringLiteral("音"), QStringLiteral("行:列"), QStringLiteral("キー"),
                                       QStringLiteral("セント"), QStringLiteral("タイミング (ms)"),
                                       QStringLiteral("判定")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* controls = new QHBoxLayout;
    controls->addWidget(sources_, 1);
    controls->addWidget(refresh_);
    controls->addWidget(listen_);
    controls->addWidget(play_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(controls);
    layout->addWidget(status_);
    layout->addWidget(now_);
    layout->addWidget(trace_, 3);
    layout->addWidget(table_, 2);

    connect(refresh_, &QPushButton::clicked, this, &PracticeWindow::FindSources);
    connect(listen_, &QPushButton::toggled, this, &PracticeWindow::Listen);
    connect(play_, &QPushButton::clicked, this, &PracticeWindow::PlayAndListen);
    connect(sources_, &QComboBox::activated, this, [this] {
        UserSettings()->setValue(SourceKey, sources_->currentData().toString());
        if (Listening()) {
            Listen(false);
            Listen(true);
        }
    });
    connect(&cursor_, &PlayingCursor::HeardAt, this, &PracticeWindow::Heard);
    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) { GoToNote(row); });
}

PracticeWindow::~PracticeWindow() {
    input_.reset(); // stops the input's thread before the tracker it feeds goes
}

void PracticeWindow::ShowInFront() {
    if (sources_->count() == 0) FindSources();
    ShowBeside(*this, session_.Window(), placed_);
}

void PracticeWindow::closeEvent(QCloseEvent* event) {
    listen_->setChecked(false);
    QWidget::closeEvent(event);
}

QString PracticeWindow::Status() const {
    return status_->text();
}

void PracticeWindow::Say(const QString& text) {
    status_->setText(text);
}

void PracticeWindow::FindSources() {
    const SourceList list = ListSoundSources();
    const QString kept = UserSettings()->value(SourceKey).toString();
    sources_->clear();
    for (const SoundSource& s : list.sources)
        sources_->addItem(QString::fromStdString(s.description.empty() ? s.name : s.description) +
                              (s.monitor ? QStringLiteral(" (出力の音)") : QString()),
                          QString::fromStdString(s.name));
    const int at = sources_->findData(kept.isEmpty() ? QString::fromStdString(list.defaultSource) : kept);
    if (at >= 0) sources_->setCurrentIndex(at);
    listen_->setEnabled(list.problem == InputProblem::None);
    Say(list.problem == InputProblem::None
            ? QStringLiteral("音声入力を選んで「聴く」か「▶ 吹く」を押してください")
            : ProblemText(list.problem, list.message));
}

void PracticeWindow::Listen(bool on) {
    if (!on) {
        input_.reset();
        tracker_.reset();
        recent_.clear();
        if (listen_->isChecked()) listen_->setChecked(false);
        now_->clear();
        return;
    }
    if (input_) return;
    pipeSemitones_ = PipeSemitones(); // read once: the frames come many times a second
    try {
        tracker_ = std::make_unique<LivePitchTracker>(SoundInput::Rate);
    } catch (const Failure& failure) {
        listen_->setChecked(false);
        return Say(QString::fromStdString(failure.Message()));
    }
    LivePitchTracker* tracker = tracker_.get();
    input_ = std::make_unique<SoundInput>(
        sources_->currentData().toString().toStdString(),
        [this, tracker, frames = std::vector<PitchFrame>()](std::span<const float> samples, double) mutable {
            // On the input's thread: the frames go to the window's thread as soon as they are found.
            frames.clear();
            tracker->Feed(samples, frames);
            if (frames.empty()) return;
            const auto arrived = std::chrono::steady_clock::now();
            QMetaObject::invokeMethod(
                this, [this, found = frames, arrived]() mutable { TakeFrames(std::move(found), arrived); },
                Qt::QueuedConnection);
        });
    if (input_->Problem() != InputProblem::None) {
        const QString problem = ProblemText(input_->Problem(), input_->Message());
        input_.reset();
        tracker_.reset();
        listen_->setChecked(false);
        return Say(problem);
    }
    nagisora::Trace("practice-input-latency " + std::to_string(input_->LatencyMicroseconds()));
    if (!listen_->isChecked()) listen_->setChecked(true);
    Say(QStringLiteral("聴いています: ") + sources_->currentText());
}

void PracticeWindow::PlayAndListen() {
    Listen(true);
    session_.PlayWork();
    // Without sound output the preview says why; the window goes on listening.
    if (!session_.Media().IsOutputOpen())
        Say(status_->text() + (Listening() ? QStringLiteral("\n音を出せません: 伴奏なしで聴き取りを続けます")
                                           : QStringLiteral("\n音を出せません")));
}

void PracticeWindow::Heard(qint64 tick) {
    // A loop that starts again ends one take and begins the next.
    const bool again = inTake_ && tick >= 0 && tick < heardTick_;
    heardTick_ = tick;
    if (!isVisible()) return;
    if (again) {
        EndTake();
        StartTake();
    }
    trace_->SetPlayhead(tick);
    if (tick >= 0 && !inTake_ && Listening()) StartTake();
    if (tick < 0 && inTake_) EndTake();
}

void PracticeWindow::BeginTake() {
    StartTake();
}

void PracticeWindow::ReportTake(TakeAnalysis take) {
    inTake_ = false;
    MoveTakeToKeys(take, events_, pipeSemitones_);
    // At a practice tempo the take is held against the music's own time: its seconds are stretched by the
    // speed it was heard at, and the lateness is given back in the player's seconds.
    for (PitchFrame& f : take.frames)
        f.seconds *= takeSpeed_;
    ScoreMap placed;
    placed.events = places_;
    report_ = PracticeReport(events_, session_.Settings(), placed, model_.Lines(), take);
    for (PlayedNote& n : report_)
        if (n.lateMs) *n.lateMs /= takeSpeed_;
    ShowReport();
}

void PracticeWindow::StartTake() {
    inTake_ = true;
    pipeSemitones_ = PipeSemitones();
    const HeardPosition heard = session_.Heard();
    takeSpeed_ = heard.speed > 0 ? heard.speed : 1.0;
    takeStart_ = lastSeconds_;
    take_ = {};
    for (const PitchFrame& f : recent_)
        take_.frames.push_back(PitchFrame{f.seconds - takeStart_, f.midi});
    report_.clear();
    table_->setRowCount(0);
    const Performance& playing = cursor_.Playing();
    events_ = playing.events;
    places_ = playing.places;
    const std::vector<std::int64_t> starts = EventStarts(events_);
    // The trace counts ticks of the whole piece, as the playing cursor reports them.
    std::vector<SoundingNote> notes = NotesSounding(events_, session_.Settings());
    for (SoundingNote& n : notes) {
        n.start += playing.startTick;
        n.end += playing.startTick;
    }
    trace_->SetNotes(std::move(notes), playing.startTick + starts.back());
}

void PracticeWindow::EndTake() {
    ReportTake(std::move(take_));
    take_ = {};
}

void PracticeWindow::TakeFrames(std::vector<PitchFrame> frames,
                                std::chrono::steady_clock::time_point arrived) {
    if (frames.empty()) return;
    lastSeconds_ = frames.back().seconds;
    const std::int32_t pipe = pipeSemitones_;
    recent_.insert(recent_.end(), frames.begin(), frames.end());
    while (!recent_.empty() && recent_.front().seconds < lastSeconds_ - PreRollSeconds)
        recent_.pop_front();
    for (const PitchFrame& f : frames) {
        if (inTake_) take_.frames.push_back(PitchFrame{f.seconds - takeStart_, f.midi});
        if (inTake_ && heardTick_ >= 0) {
            // Drawn against the note written now, in the octave nearest it.
            double midi = f.midi > 0 ? f.midi - pipe : 0.0;
            if (const std::optional<double> cents = trace_->CentsAt(heardTick_, midi))
                midi -= 12.0 * std::round(*cents / 1200.0);
            trace_->AddPoint(PracticeTrace::Point{heardTick_, midi});
        }
    }
    const PitchFrame& last = frames.back();
    now_->setText(last.midi > 0 ? QStringLiteral("今の音: ") + KeyText(last.midi)
                                : QStringLiteral("今の音: —"));
    if (inTake_) {
        trace_->DrawNow(); // drawn now, not on the next pass of the event loop, for the trace's latency
        const auto drawn = std::chrono::steady_clock::now();
        nagisora::Trace(
            "practice-drawn " +
            std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(drawn - arrived).count()));
    }
}

void PracticeWindow::ShowReport() {
    table_->setRowCount(static_cast<int>(report_.size()));
    int far = 0;
    for (std::size_t i = 0; i < report_.size(); ++i) {
        const PlayedNote& n = report_[i];
        const int row = static_cast<int>(i);
        const auto cell = [&](int column, const QString& text) {
            auto* item = new QTableWidgetItem(text);
            if (n.farOut) item->setForeground(ReadableOn(table_->palette().color(QPalette::Base), 0, 220));
            table_->setItem(row, column, item);
        };
        cell(0, QString::number(n.number));
        cell(1,
             n.at.IsNone() ? QStringLiteral("—") : QStringLiteral("%1:%2").arg(n.at.line).arg(n.at.column));
        cell(2, QString::number(n.key));
        cell(3, n.cents ? QString::asprintf("%+.0f", *n.cents) : QStringLiteral("聞こえず"));
        cell(4, n.lateMs ? QString::asprintf("%+.0f", *n.lateMs) : QStringLiteral("—"));
        cell(5, n.farOut ? QStringLiteral("外れ") : QStringLiteral("良"));
        far += n.farOut ? 1 : 0;
    }
    table_->resizeColumnsToContents();
    Say(QStringLiteral("%1 音中 %2 音が外れています (±%3 セント、または %4 ms "
                       "かつ八分の一拍を超えるずれ)。行をクリックするとその音へ移ります")
            .arg(report_.size())
            .arg(far)
            .arg(FarOutCents, 0, 'f', 0)
            .arg(FarOutMs, 0, 'f', 0));
}

void PracticeWindow::GoToNote(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= report_.size()) return;
    const SourceSpan at = report_[static_cast<std::size_t>(row)].at;
    if (at.IsNone()) return;
    const std::span<const std::string_view> lines = model_.Lines();
    if (static_cast<std::size_t>(at.line) > lines.size()) return;
    const QTextBlock block = area_.document()->findBlockByNumber(at.line - 1);
    const std::size_t byte = ByteOfColumn(lines[static_cast<std::size_t>(at.line - 1)], at.column);
    QTextCursor caret = area_.textCursor();
    caret.setPosition(block.position() + model_.PositionOf(at.line - 1, byte));
    area_.setTextCursor(caret);
    area_.ensureCursorVisible();
}

void InstallPractice(ScoreSession& session, PlayingCursor& cursor) {
    auto* practice = new PracticeWindow(session, cursor);
    AddCommand(session, CommandGroup::Views,
               {"actPractice",
                QStringLiteral("練習 (聴き取り)…"),
                {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)},
                QStringLiteral("吹いた音の高さを楽譜の音と比べます")},
               practice, &PracticeWindow::ShowInFront);
}

} // namespace nagisora
