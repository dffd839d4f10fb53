#include "app/main_window.h"

#include "app/bench_trace.h"
#include "app/command_list.h"
#include "app/fonts.h"
#include "app/frame_extents.h"
#include "app/help_window.h"
#include "app/main_keys.h"
#include "app/media_player.h"
#include "app/notation_entry.h"
#include "app/recent_scores.h"
#include "app/score_area.h"
#include "app/score_checker.h"
#include "app/score_exports.h"
#include "app/score_importer.h"
#include "app/score_model.h"
#include "app/score_session.h"
#include "app/score_views.h"
#include "app/score_zoom.h"
#include "app/window_scale.h"
#include "core/instruments.h"
#include "core/score_file_lines.h"
#include "core/score_reader.h"
#include "platform/cp932.h"
#include "platform/file_io.h"
#include "platform/score_file.h"
#include "ui_main_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QShowEvent>
#include <QTextCursor>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>

namespace nagisora {

namespace {

constexpr int InstrumentRowPixels = 12;

// A folder without its closing "/", unless it is the root.
QString FolderForDialog(const std::string& dir) {
    QString folder = QFile::decodeName(QByteArray::fromStdString(dir));
    if (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

QString DecimalText(int value) {
    return QString::number(value);
}

// The first local file that a drag brings; none when it brings no file.
std::optional<QString> DraggedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return std::nullopt;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return std::nullopt;
}

// The keys of a scroll bar that has the focus: the arrows move by the small step, Page Up and Page Down by
// the large step (Up and Page Up towards the minimum), Home and End to the ends.
std::optional<QAbstractSlider::SliderAction> ScrollKeyAction(int key) {
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        return QAbstractSlider::SliderSingleStepSub;
    case Qt::Key_Right:
    case Qt::Key_Down:
        return QAbstractSlider::SliderSingleStepAdd;
    case Qt::Key_PageUp:
        return QAbstractSlider::SliderPageStepSub;
    case Qt::Key_PageDown:
        return QAbstractSlider::SliderPageStepAdd;
    case Qt::Key_Home:
        return QAbstractSlider::SliderToMinimum;
    case Qt::Key_End:
        return QAbstractSlider::SliderToMaximum;
    default:
        return std::nullopt;
    }
}

} // namespace

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), ui(std::make_unique<Ui::MainWindow>()),
      media_(options_.media) {
    ui->setupUi(this);
    MakeSession();
    SetUpControls();
    ConnectHandlers();
    InstallFeatures();
}

// The window's commands that the features reach through the session.
void MainWindow::MakeSession() {
    WindowHooks hooks{
        .settings = [this] { return Settings(); },
        .setSettings = [this](const ConversionSettings& settings) { SetSettings(settings); },
        .openScore = [this](const QString& fileName) { OpenScore(fileName); },
        .convert = [this] { MakeMidi(); },
        .saveScore = [this] { SaveScore(); },
        .workEvents = [this] { return WorkEvents(); },
        .playPart =
            [this](std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks) {
                PlayPart(image, repeat, std::move(clicks));
            },
    };
    session_ = new ScoreSession(
        *this, *ui->mem, *ui->mPlay, media_,
        SessionOptions{options_.appDir, options_.reportError, options_.fileDialog, options_.media.soundFont},
        std::move(hooks));
    model_ = &session_->Model();
}

// Each feature takes the narrowest owner it needs: the score's model and area, or the session.
void MainWindow::InstallFeatures() {
    ScoreSession& session = *session_;
    // Any control of the next conversion's settings, once the window has taken the change.
    for (QScrollBar* bar : {ui->scrTempo, ui->scrOntei, ui->scrOnryo})
        connect(bar, &QScrollBar::valueChanged, session_, &ScoreSession::settingsChanged);
    connect(ui->chkOnshoku, &QCheckBox::toggled, session_, &ScoreSession::settingsChanged);
    connect(ui->lstGakki, &QListWidget::currentRowChanged, session_, &ScoreSession::settingsChanged);
    InstallMainKeys(session, *ui);
    auto* recent = new RecentScores(session);
    help_ = std::make_unique<HelpWindow>();
    InstallNotationEntry(session);
    auto* checker = new ScoreChecker(session); // underlines of the findings, the problems window, F8
    new ScoreExports(session);
    importer_ = new ScoreImporter(session, *recent, *checker); // MIDI/MusicXML から読込, Ctrl+I, drops
    InstallScoreViews(session, *checker); // colours, column guide, playing cursor, play from here, piano roll
    new ScoreZoom(session);               // the size of the score's text
    InstallCommandList(session, *help_);  // the list of every command, from the help window; the first hint
}

MainWindow::~MainWindow() = default;

void MainWindow::SetUpControls() {
    setWindowFlags(WindowFrameFlags);

    ui->mPlay->SetLayer(media_);

    for (std::string_view row : InstrumentRows)
        ui->lstGakki->addItem(QString::fromUtf8(row.data(), row.size()));

    const double scale = LayoutScale(QGuiApplication::primaryScreen());
    ScaleChildren(*this, scale);
    setFixedSize(Scaled(width(), scale), Scaled(height(), scale));

    setFont(PGothicFont(Scaled(FontPixels, scale)));
    const QFont gothic = GothicFont(Scaled(FontPixels, scale));
    for (QWidget* w : {static_cast<QWidget*>(ui->lstGakki), static_cast<QWidget*>(ui->mem),
                       static_cast<QWidget*>(ui->Memo1)})
        w->setFont(gothic);
    const int rowHeight = Scaled(InstrumentRowPixels, scale);
    for (int row = 0; row < ui->lstGakki->count(); ++row) {
        QListWidgetItem* item = ui->lstGakki->item(row);
        item->setSizeHint(QSize(ui->lstGakki->fontMetrics().horizontalAdvance(item->text()), rowHeight));
    }

    ui->mem->SetSizeLimit(EditedScoreLimit, [this](const Failure& failure) { ReportFailure(failure); });

    // A file dropped on the window or on the score area is loaded; the area itself would insert its name.
    setAcceptDrops(true);
    ui->mem->viewport()->installEventFilter(this);

    ui->btnOk->setFocus();
    // Asked now, answered while the rest of the window is made, so that the first show centres it frame and
    // all.
    RequestFrameExtents(*this);
}

void MainWindow::ConnectHandlers() {
    connect(ui->btnOk, &QPushButton::clicked, this, &MainWindow::MakeMidi);
    connect(ui->btnMidSave, &QPushButton::clicked, this, &MainWindow::SaveMidi);
    connect(ui->scrTempo, &QScrollBar::valueChanged, this, &MainWindow::TempoChanged);
    connect(ui->scrOntei, &QScrollBar::valueChanged, this, &MainWindow::TransposeChanged);
    connect(ui->scrOnryo, &QScrollBar::valueChanged, this, &MainWindow::VolumeChanged);
    for (QScrollBar* bar : {ui->scrTempo, ui->scrOntei, ui->scrOnryo})
        bar->installEventFilter(this);
    connect(ui->Button1, &QPushButton::clicked, this, &MainWindow::ShowReadEvents);
    connect(ui->btnLoad, &QPushButton::clicked, this, &MainWindow::ChooseScoreToLoad);
    connect(ui->btnSave, &QPushButton::clicked, this, &MainWindow::SaveScore);
    connect(ui->btnCleatr, &QPushButton::clicked, this, &MainWindow::ClearScore);
    connect(ui->btnHelp, &QPushButton::clicked, this, &MainWindow::ShowHelp);
    ui->mPlay->SetClickHandler(
        [this](MediaPlayer& player, PlayerButton button) { PlayerButtonPressed(player, button); });
    ui->mPlay->SetErrorReporter([this](const Failure& failure) { ReportFailure(failure); });
    connect(ui->mPlay, &MediaPlayer::musicEnded, this, &MainWindow::EndPlay);
}

template <class Handler>
void MainWindow::Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const Failure& failure) {
        ReportFailure(failure);
    } catch (const std::bad_alloc&) {
        ReportFailure(Failure::File(IoCode::OutOfMemory));
    }
}

void MainWindow::ReportFailure(const Failure& failure) {
    session_->ReportFailure(failure);
}

std::optional<QString> MainWindow::ChooseFile(const FileDialogRequest& request) {
    return session_->ChooseFile(request);
}

const std::string& MainWindow::AppDir() const {
    return session_->AppDir();
}

std::string MainWindow::WorkFilePath() const {
    return session_->WorkFilePath();
}

std::vector<std::string> MainWindow::ScoreLines() const {
    return ScoreText().lines;
}

ScoreAreaText MainWindow::ScoreText() const {
    return ScoreAreaText{model_->LineBytes(), model_->Unmappable()};
}

ScoreArea& MainWindow::Area() const {
    return *ui->mem;
}

std::int32_t MainWindow::SelectedInstrument() const {
    const QList<QListWidgetItem*> selected = ui->lstGakki->selectedItems();
    return selected.isEmpty() ? 0 : ui->lstGakki->row(selected.front());
}

ConversionSettings MainWindow::Settings() const {
    return ConversionSettings{ui->scrTempo->value(), transpose_, ui->scrOnryo->value(), SelectedInstrument(),
                              ui->chkOnshoku->isChecked()};
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    SelectFirstInstrument();
    if (!centred_) {
        centred_ = true;
        CentreOnScreen(*this);
    }
}

// Qt's scroll bars take the arrow keys the other way round when their controls are inverted, as they are for
// scrolling; these scroll bars set values, so the keys work as the read-outs read.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->mem->viewport()) return TakeFileDrag(event) || QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const std::optional<QAbstractSlider::SliderAction> action =
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier ? ScrollKeyAction(key->key())
                                                                       : std::nullopt;
        if (action) {
            static_cast<QAbstractSlider*>(watched)->triggerAction(*action);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dragEnterEvent(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dragMoveEvent(event);
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dropEvent(event);
}

// A drag that brings a file is taken as a copy (never a move, which would have its source delete the file),
// and its drop loads the first file like "楽譜読込". Any other drag is left to the widget under it.
bool MainWindow::TakeFileDrag(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    auto* drop = static_cast<QDropEvent*>(event); // the drag enter and move events are drop events too
    const std::optional<QString> file = DraggedFile(drop->mimeData());
    if (!file || !(drop->possibleActions() & Qt::CopyAction)) return false;
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        // Loaded once the drop is over, so that a failure's message box does not hold up the program the
        // file came from.
        QMetaObject::invokeMethod(
            this, [this, name = *file] { LoadOrImport(name); }, Qt::QueuedConnection);
    }
    return true;
}

void MainWindow::SelectFirstInstrument() {
    if (ui->lstGakki->currentRow() != 0 || ui->lstGakki->selectedItems().isEmpty())
        ui->lstGakki->setCurrentRow(0);
}

void MainWindow::TempoChanged(int position) {
    ui->pnlTempo->setText(DecimalText(position));
}

void MainWindow::TransposeChanged(int position) {
    ui->pnlOntei->setText(DecimalText(position));
    transpose_ = position;
    model_->SetTransposition(transpose_);
}

void MainWindow::VolumeChanged(int position) {
    ui->pnlOnryo->setText(DecimalText(position));
}

void MainWindow::MakeMidi() {
    Guarded([&] {
        ui->mPlay->Close();
        workFileOpen_ = false;
        Conversion conversion = ConvertScore(model_->Lines(), Settings());
        if (conversion.Refused()) throw *conversion.refusal;
        midiData_ = std::move(conversion.midiData);
        eventCount_ = conversion.eventCount;
        WriteFileAtomically(WorkFilePath(), midiData_);
        workEvents_.assign(conversion.Events().begin(), conversion.Events().end());
        OpenWorkFileInPlayer();
        workFileOpen_ = true;
        ui->btnMidSave->setEnabled(true);
        emit session_->Converted();
    });
}

// The player plays the window's own image, the one the work file got at this window's last conversion:
// another window of the program converting meanwhile rewrites the work file, not what this one plays.
void MainWindow::OpenWorkFileInPlayer() {
    ui->mPlay->SetFileName(WorkFilePath());
    ui->mPlay->OpenImage(midiData_);
}

void MainWindow::SaveMidi() {
    Guarded([&] {
        const std::optional<QString> chosen = ChooseFile(FileDialogRequest{FileDialogRequest::Kind::Save,
                                                                           FolderForDialog(AppDir()),
                                                                           QStringLiteral("*mid (*.mid)"),
                                                                           {},
                                                                           {}});
        if (!chosen) return;
        setWindowTitle(QFileInfo(*chosen).fileName());
        WriteFileAtomically(QFile::encodeName(*chosen).toStdString(), midiData_);
    });
}

void MainWindow::ShowReadEvents() {
    Guarded([&] {
        const auto list = std::make_unique<NoteEventList>();
        const std::optional<std::int32_t> count = ReadScore(model_->Lines(), transpose_, *list);
        if (!count) throw Failure::Refused(std::string(TooManyNotesMessage));
        eventCount_ = *count;
        QStringList shown;
        for (std::int32_t k = 0; k < eventCount_; ++k) {
            const NoteEvent& noteEvent = (*list)[static_cast<std::size_t>(k)];
            shown.push_back(QStringLiteral("%1 / %2").arg(noteEvent.key).arg(noteEvent.ticks));
        }
        if (!shown.isEmpty()) ui->Memo1->appendPlainText(shown.join(u'\n'));
    });
}

std::optional<QString> MainWindow::Execute(ScoreFileDialog& dialog) {
    const std::optional<QString> chosen =
        ChooseFile(FileDialogRequest{dialog.kind, FolderForDialog(AppDir()), QStringLiteral("*.txt (*.txt)"),
                                     QStringLiteral("txt"), dialog.fileName});
    if (chosen) dialog.fileName = *chosen;
    return chosen;
}

void MainWindow::ChooseScoreToLoad() {
    if (const std::optional<QString> chosen = Execute(dlgOpen)) LoadScore(*chosen);
}

void MainWindow::OpenScore(const QString& fileName) {
    if (ScoreImporter::Imports(fileName)) return LoadOrImport(fileName);
    dlgOpen.fileName = fileName;
    LoadScore(fileName);
}

void MainWindow::LoadOrImport(const QString& fileName) {
    if (ScoreImporter::Imports(fileName))
        importer_->Import(fileName);
    else
        LoadScore(fileName);
}

// The file is read whole before the score area changes, so a failure leaves the area as it was; a file too
// large to be a score is named in the message. A UTF-8 file is loaded converted; the characters that became
// "?" are named once.
void MainWindow::LoadScore(const QString& fileName) {
    Guarded([&] {
        ScoreFileText text;
        try {
            text = LoadScoreFile(QFile::encodeName(fileName).toStdString(), EditedScoreLimit);
        } catch (const Failure& failure) {
            if (failure.FileCode() != IoCode::FileTooLarge) throw;
            throw failure.Within(QFileInfo(fileName).fileName().toStdString());
        }
        ReplaceScore(SplitScoreFileLines(text.bytes));
        emit session_->ScoreFileUsed(fileName);
        if (text.unmappableCount > 0)
            ReportFailure(Failure::Replaced("コードページ 932 にない文字を ? にしました", text.unmappable,
                                            text.unmappableCount));
    });
}

void MainWindow::ReplaceScore(std::span<const std::string_view> lines) {
    session_->ReplaceScore(lines);
}

void MainWindow::SetSettings(const ConversionSettings& settings) {
    ui->scrTempo->setValue(settings.tempo);
    ui->scrOntei->setValue(settings.transpose);
    ui->scrOnryo->setValue(settings.volume);
    ui->lstGakki->setCurrentRow(std::clamp(settings.instrument, 0, ui->lstGakki->count() - 1));
}

// A character that code page 932 lacks would be written as "?": the save is refused before any file is chosen
// or touched, naming where the character stands.
void MainWindow::SaveScore() {
    Guarded([&] {
        const ScoreAreaText score = ScoreText();
        if (!score.unmappable.empty()) throw Failure::Refused("保存できない文字があります", score.unmappable);
        const std::optional<QString> chosen = Execute(dlgSave);
        if (!chosen) return;
        WriteFileAtomically(QFile::encodeName(*chosen).toStdString(), JoinScoreFileLines(score.lines));
        emit session_->ScoreFileUsed(*chosen);
    });
}

void MainWindow::ClearScore() {
    ReplaceScore({});
}

void MainWindow::ShowHelp() {
    help_->ShowInFront();
}

// Play opens the image of the last conversion anew and, the first time, the audio output, which then stays
// open: a press that finds no sound device reports why, and the window is Ready again once the press has been
// handled. "MIDI 作成" is shown greyed as soon as the music has started, before anything else is drawn, and
// stays so until the player says that the music has ended, or ■.
void MainWindow::PlayerButtonPressed(MediaPlayer& player, PlayerButton button) {
    if (button == PlayerButton::Play) {
        Trace("play-click");
        ui->btnOk->setEnabled(false);
        QMetaObject::invokeMethod(ui->btnOk, qOverload<>(&QWidget::repaint), Qt::QueuedConnection);
        QMetaObject::invokeMethod(this, &MainWindow::EndUnlessPlaying, Qt::QueuedConnection);
        player.SetFileName(WorkFilePath());
        player.OpenImageForPlay(midiData_);
        emit session_->WorkFilePlaying();
    } else if (button == PlayerButton::Stop) {
        ui->btnOk->setEnabled(true);
        // Once the player has stopped a part.
        QMetaObject::invokeMethod(this, &MainWindow::EndPart, Qt::QueuedConnection);
    }
}

// A part of the score plays in the player as the work file does: "MIDI 作成" disabled until the music ends
// or ■.
void MainWindow::PlayPart(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks) {
    Guarded([&] {
        ui->btnOk->setEnabled(false);
        QMetaObject::invokeMethod(this, &MainWindow::EndUnlessPlaying, Qt::QueuedConnection);
        ui->mPlay->PlayImage(image, repeat, std::move(clicks));
    });
}

// After a part, or a Play that could not sound, the player is left as the last conversion left it: its image
// ready for ▶, or no file.
void MainWindow::EndPart() {
    if (ui->mPlay->Mode() == MediaMode::Playing) return;
    if (!workFileOpen_)
        ui->mPlay->Close();
    else if (!ui->mPlay->IsOpen())
        Guarded([&] { OpenWorkFileInPlayer(); });
}

// The music has ended by itself, or a playback never started: "MIDI 作成" can be used again.
void MainWindow::EndPlay() {
    ui->btnOk->setEnabled(true);
    Trace("ok-enabled");
    EndPart();
    emit session_->musicEnded();
}

// Runs once a press of ▶ or a part's play has been handled (and its failure reported): a playback that was
// refused or could not sound sends no end of the music, so it ends here.
void MainWindow::EndUnlessPlaying() {
    if (ui->mPlay->Mode() != MediaMode::Playing) EndPlay();
}

} // namespace nagisora
