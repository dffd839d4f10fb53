#include "fMain.h"

#include "bench_trace.h"
#include "command_list.h"
#include "cp932.h"
#include "fHelp.h"
#include "file_io.h"
#include "fonts.h"
#include "frame_extents.h"
#include "instruments.h"
#include "mPlay.h"
#include "main_keys.h"
#include "notation_entry.h"
#include "recent_scores.h"
#include "score_area.h"
#include "score_checker.h"
#include "score_exports.h"
#include "score_file.h"
#include "score_file_lines.h"
#include "score_importer.h"
#include "score_model.h"
#include "score_reader.h"
#include "score_session.h"
#include "score_views.h"
#include "score_zoom.h"
#include "ui_fMain.h"
#include "window_scale.h"

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

constexpr int GakkiRowPixels = 12;

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

TMainF::TMainF(MainWindowOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), ui(std::make_unique<Ui::TMainF>()),
      media_(options_.media) {
    ui->setupUi(this);
    MakeSession();
    SetUpControls();
    ConnectHandlers();
    InstallFeatures();
}

// The window's commands that the features reach through the session.
void TMainF::MakeSession() {
    WindowHooks hooks{
        .settings = [this] { return Settings(); },
        .setSettings = [this](const ConversionSettings& settings) { SetSettings(settings); },
        .openScore = [this](const QString& fileName) { OpenScore(fileName); },
        .convert = [this] { btnOkClick(); },
        .saveScore = [this] { btnSaveClick(); },
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
void TMainF::InstallFeatures() {
    ScoreSession& session = *session_;
    // Any control of the next conversion's settings, once the window has taken the change.
    for (QScrollBar* bar : {ui->scrTempo, ui->scrOntei, ui->scrOnryo})
        connect(bar, &QScrollBar::valueChanged, session_, &ScoreSession::settingsChanged);
    connect(ui->chkOnshoku, &QCheckBox::toggled, session_, &ScoreSession::settingsChanged);
    connect(ui->lstGakki, &QListWidget::currentRowChanged, session_, &ScoreSession::settingsChanged);
    InstallMainKeys(session, *ui);
    auto* recent = new RecentScores(session);
    helpF_ = std::make_unique<THelpF>();
    InstallNotationEntry(session);
    auto* checker = new TScoreChecker(session); // underlines of the findings, the problems window, F8
    new ScoreExports(session);
    importer_ = new ScoreImporter(session, *recent, *checker); // MIDI/MusicXML から読込, Ctrl+I, drops
    InstallScoreViews(session, *checker); // colours, column guide, playing cursor, play from here, piano roll
    new ScoreZoom(session);               // the size of the score's text
    InstallCommandList(session, *helpF_); // the list of every command, from the help window; the first hint
}

TMainF::~TMainF() = default;

void TMainF::SetUpControls() {
    setWindowFlags(WindowFrameFlags);

    ui->mPlay->SetLayer(media_);

    for (std::string_view row : GakkiRows)
        ui->lstGakki->addItem(QString::fromUtf8(row.data(), row.size()));

    const double scale = LayoutScale(QGuiApplication::primaryScreen());
    ScaleChildren(*this, scale);
    setFixedSize(Scaled(width(), scale), Scaled(height(), scale));

    setFont(PGothicFont(Scaled(FontPixels, scale)));
    const QFont gothic = GothicFont(Scaled(FontPixels, scale));
    for (QWidget* w : {static_cast<QWidget*>(ui->lstGakki), static_cast<QWidget*>(ui->mem),
                       static_cast<QWidget*>(ui->Memo1)})
        w->setFont(gothic);
    const int rowHeight = Scaled(GakkiRowPixels, scale);
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

void TMainF::ConnectHandlers() {
    connect(ui->btnOk, &QPushButton::clicked, this, &TMainF::btnOkClick);
    connect(ui->btnMidSave, &QPushButton::clicked, this, &TMainF::btnMidSaveClick);
    connect(ui->scrTempo, &QScrollBar::valueChanged, this, &TMainF::scrTempoChange);
    connect(ui->scrOntei, &QScrollBar::valueChanged, this, &TMainF::scrOnteiChange);
    connect(ui->scrOnryo, &QScrollBar::valueChanged, this, &TMainF::scrOnryoChange);
    for (QScrollBar* bar : {ui->scrTempo, ui->scrOntei, ui->scrOnryo})
        bar->installEventFilter(this);
    connect(ui->Button1, &QPushButton::clicked, this, &TMainF::Button1Click);
    connect(ui->btnLoad, &QPushButton::clicked, this, &TMainF::btnLoadClick);
    connect(ui->btnSave, &QPushButton::clicked, this, &TMainF::btnSaveClick);
    connect(ui->btnCleatr, &QPushButton::clicked, this, &TMainF::btnCleatrClick);
    connect(ui->btnHelp, &QPushButton::clicked, this, &TMainF::btnHelpClick);
    ui->mPlay->SetClickHandler([this](TMediaPlayer& player, MPButton button) { mPlayClick(player, button); });
    ui->mPlay->SetErrorReporter([this](const Failure& failure) { ReportFailure(failure); });
    connect(ui->mPlay, &TMediaPlayer::musicEnded, this, &TMainF::EndPlay);
}

template <class Handler>
void TMainF::Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const Failure& failure) {
        ReportFailure(failure);
    } catch (const std::bad_alloc&) {
        ReportFailure(Failure::File(IoCode::OutOfMemory));
    }
}

void TMainF::ReportFailure(const Failure& failure) {
    session_->ReportFailure(failure);
}

std::optional<QString> TMainF::ChooseFile(const FileDialogRequest& request) {
    return session_->ChooseFile(request);
}

const std::string& TMainF::AppDir() const {
    return session_->AppDir();
}

std::string TMainF::WorkFilePath() const {
    return session_->WorkFilePath();
}

std::vector<std::string> TMainF::ScoreLines() const {
    return ScoreText().lines;
}

ScoreAreaText TMainF::ScoreText() const {
    return ScoreAreaText{model_->LineBytes(), model_->Unmappable()};
}

TScoreArea& TMainF::ScoreArea() const {
    return *ui->mem;
}

std::int32_t TMainF::SelectedGakki() const {
    const QList<QListWidgetItem*> selected = ui->lstGakki->selectedItems();
    return selected.isEmpty() ? 0 : ui->lstGakki->row(selected.front());
}

ConversionSettings TMainF::Settings() const {
    return ConversionSettings{ui->scrTempo->value(), onteiOffset_, ui->scrOnryo->value(), SelectedGakki(),
                              ui->chkOnshoku->isChecked()};
}

void TMainF::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    FormShow();
    if (!centred_) {
        centred_ = true;
        CentreOnScreen(*this);
    }
}

// Qt's scroll bars take the arrow keys the other way round when their controls are inverted, as they are for
// scrolling; these scroll bars set values, so the keys work as the read-outs read.
bool TMainF::eventFilter(QObject* watched, QEvent* event) {
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

void TMainF::dragEnterEvent(QDragEnterEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dragEnterEvent(event);
}

void TMainF::dragMoveEvent(QDragMoveEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dragMoveEvent(event);
}

void TMainF::dropEvent(QDropEvent* event) {
    if (!TakeFileDrag(event)) QWidget::dropEvent(event);
}

// A drag that brings a file is taken as a copy (never a move, which would have its source delete the file),
// and its drop loads the first file like "楽譜読込". Any other drag is left to the widget under it.
bool TMainF::TakeFileDrag(QEvent* event) {
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

void TMainF::FormShow() {
    if (ui->lstGakki->currentRow() != 0 || ui->lstGakki->selectedItems().isEmpty())
        ui->lstGakki->setCurrentRow(0);
}

void TMainF::scrTempoChange(int position) {
    ui->pnlTempo->setText(DecimalText(position));
}

void TMainF::scrOnteiChange(int position) {
    ui->pnlOntei->setText(DecimalText(position));
    onteiOffset_ = position;
    model_->SetTransposition(onteiOffset_);
}

void TMainF::scrOnryoChange(int position) {
    ui->pnlOnryo->setText(DecimalText(position));
}

void TMainF::btnOkClick() {
    Guarded([&] {
        ui->mPlay->Close();
        workFileOpen_ = false;
        Conversion conversion = ConvertScore(model_->Lines(), Settings());
        if (conversion.Refused()) throw *conversion.refusal;
        midiData_ = std::move(conversion.midiData);
        onpuCount_ = conversion.onpuCount;
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
void TMainF::OpenWorkFileInPlayer() {
    ui->mPlay->SetFileName(WorkFilePath());
    ui->mPlay->OpenImage(midiData_);
}

void TMainF::btnMidSaveClick() {
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

void TMainF::Button1Click() {
    Guarded([&] {
        const auto list = std::make_unique<OnpuList>();
        const std::optional<std::int32_t> count = ReadScore(model_->Lines(), onteiOffset_, *list);
        if (!count) throw Failure::Refused(std::string(TooManyNotesMessage));
        onpuCount_ = *count;
        QStringList shown;
        for (std::int32_t k = 0; k < onpuCount_; ++k) {
            const TOnpu& onpu = (*list)[static_cast<std::size_t>(k)];
            shown.push_back(QStringLiteral("%1 / %2").arg(onpu.Onko).arg(onpu.Oncho));
        }
        if (!shown.isEmpty()) ui->Memo1->appendPlainText(shown.join(u'\n'));
    });
}

std::optional<QString> TMainF::Execute(ScoreFileDialog& dialog) {
    const std::optional<QString> chosen =
        ChooseFile(FileDialogRequest{dialog.kind, FolderForDialog(AppDir()), QStringLiteral("*.txt (*.txt)"),
                                     QStringLiteral("txt"), dialog.fileName});
    if (chosen) dialog.fileName = *chosen;
    return chosen;
}

void TMainF::btnLoadClick() {
    if (const std::optional<QString> chosen = Execute(dlgOpen)) LoadScore(*chosen);
}

void TMainF::OpenScore(const QString& fileName) {
    if (ScoreImporter::Imports(fileName)) return LoadOrImport(fileName);
    dlgOpen.fileName = fileName;
    LoadScore(fileName);
}

void TMainF::LoadOrImport(const QString& fileName) {
    if (ScoreImporter::Imports(fileName))
        importer_->Import(fileName);
    else
        LoadScore(fileName);
}

// The file is read whole before the score area changes, so a failure leaves the area as it was; a file too
// large to be a score is named in the message. A UTF-8 file is loaded converted; the characters that became
// "?" are named once.
void TMainF::LoadScore(const QString& fileName) {
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

void TMainF::ReplaceScore(std::span<const std::string_view> lines) {
    session_->ReplaceScore(lines);
}

void TMainF::SetSettings(const ConversionSettings& settings) {
    ui->scrTempo->setValue(settings.tempo);
    ui->scrOntei->setValue(settings.transpose);
    ui->scrOnryo->setValue(settings.volume);
    ui->lstGakki->setCurrentRow(std::clamp(settings.instrument, 0, ui->lstGakki->count() - 1));
}

// A character that code page 932 lacks would be written as "?": the save is refused before any file is chosen
// or touched, naming where the character stands.
void TMainF::btnSaveClick() {
    Guarded([&] {
        const ScoreAreaText score = ScoreText();
        if (!score.unmappable.empty()) throw Failure::Refused("保存できない文字があります", score.unmappable);
        const std::optional<QString> chosen = Execute(dlgSave);
        if (!chosen) return;
        WriteFileAtomically(QFile::encodeName(*chosen).toStdString(), JoinScoreFileLines(score.lines));
        emit session_->ScoreFileUsed(*chosen);
    });
}

void TMainF::btnCleatrClick() {
    ReplaceScore({});
}

void TMainF::btnHelpClick() {
    helpF_->ShowInFront();
}

// Play opens the image of the last conversion anew and, the first time, the audio output, which then stays
// open: a press that finds no sound device reports why, and the window is Ready again once the press has been
// handled. "MIDI 作成" is shown greyed as soon as the music has started, before anything else is drawn, and
// stays so until the player says that the music has ended, or ■.
void TMainF::mPlayClick(TMediaPlayer& player, MPButton button) {
    if (button == MPButton::Play) {
        Trace("play-click");
        ui->btnOk->setEnabled(false);
        QMetaObject::invokeMethod(ui->btnOk, qOverload<>(&QWidget::repaint), Qt::QueuedConnection);
        QMetaObject::invokeMethod(this, &TMainF::EndUnlessPlaying, Qt::QueuedConnection);
        player.SetFileName(WorkFilePath());
        player.OpenImageForPlay(midiData_);
        emit session_->WorkFilePlaying();
    } else if (button == MPButton::Stop) {
        ui->btnOk->setEnabled(true);
        // Once the player has stopped a part.
        QMetaObject::invokeMethod(this, &TMainF::EndPart, Qt::QueuedConnection);
    }
}

// A part of the score plays in the player as the work file does: "MIDI 作成" disabled until the music ends
// or ■.
void TMainF::PlayPart(std::string_view image, Repeat repeat, std::vector<MetronomeClick> clicks) {
    Guarded([&] {
        ui->btnOk->setEnabled(false);
        QMetaObject::invokeMethod(this, &TMainF::EndUnlessPlaying, Qt::QueuedConnection);
        ui->mPlay->PlayImage(image, repeat, std::move(clicks));
    });
}

// After a part, or a Play that could not sound, the player is left as the last conversion left it: its image
// ready for ▶, or no file.
void TMainF::EndPart() {
    if (ui->mPlay->Mode() == MediaMode::Playing) return;
    if (!workFileOpen_)
        ui->mPlay->Close();
    else if (!ui->mPlay->IsOpen())
        Guarded([&] { OpenWorkFileInPlayer(); });
}

// The music has ended by itself, or a playback never started: "MIDI 作成" can be used again.
void TMainF::EndPlay() {
    ui->btnOk->setEnabled(true);
    Trace("ok-enabled");
    EndPart();
    emit session_->musicEnded();
}

// Runs once a press of ▶ or a part's play has been handled (and its failure reported): a playback that was
// refused or could not sound sends no end of the music, so it ends here.
void TMainF::EndUnlessPlaying() {
    if (ui->mPlay->Mode() != MediaMode::Playing) EndPlay();
}

} // namespace nagisora
