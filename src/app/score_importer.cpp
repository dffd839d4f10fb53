#include "app/score_importer.h"

#include "app/command_action.h"
#include "app/recent_scores.h"
#include "app/score_area.h"
#include "app/score_checker.h"
#include "app/score_session.h"
#include "app/user_settings.h"
#include "core/failure.h"
#include "core/pipe_lengths.h"
#include "core/score_file_lines.h"
#include "platform/file_io.h"
#include "platform/import_loader.h"
#include "platform/score_file.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <algorithm>

namespace nagisora {
namespace {

const QString PipeKey = QStringLiteral("importPipe");
const QString ImportFilter = QStringLiteral("MIDI/MusicXML (*.mid *.midi *.musicxml *.xml *.mxl)");

QString PipeText(const PipeLength& pipe) {
    return QStringLiteral("%1.%2 尺 (%3)")
        .arg(pipe.tenths / 10)
        .arg(pipe.tenths % 10)
        .arg(QString::fromLatin1(pipe.note.data(), static_cast<qsizetype>(pipe.note.size())));
}

// 自動 and every pipe of the table, the remembered one chosen.
QComboBox* PipeBox(QWidget& parent) {
    auto* box = new QComboBox(&parent);
    box->setObjectName(QStringLiteral("cmbPipe"));
    box->addItem(QStringLiteral("自動 (音域に合う管)"), 0);
    for (const PipeLength& pipe : PipeLengths)
        box->addItem(PipeText(pipe), pipe.tenths);
    box->setCurrentIndex(std::max(0, box->findData(ScoreImporter::RememberedPipe())));
    return box;
}

// Every part, those that cannot be imported (drums, no notes) shown greyed; the first melodic part chosen.
QComboBox* PartBox(QWidget& parent, const std::vector<ImportedPart>& parts) {
    auto* box = new QComboBox(&parent);
    box->setObjectName(QStringLiteral("cmbPart"));
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    int chosen = -1;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const ImportedPart& part = parts[p];
        const bool melodic = part.playable && !part.drums;
        QString text = QStringLiteral("%1 %2").arg(p + 1).arg(QString::fromStdString(part.name)).trimmed();
        if (part.drums) text += QStringLiteral(" (打楽器)");
        box->addItem(text, static_cast<int>(p + 1));
        if (!melodic) model->item(static_cast<int>(p))->setEnabled(false);
        if (melodic && chosen < 0) chosen = static_cast<int>(p);
    }
    box->setCurrentIndex(std::max(chosen, 0));
    return box;
}

std::vector<ImportedRow> Rows(const std::vector<ImportedFinding>& findings) {
    std::vector<ImportedRow> rows;
    rows.reserve(findings.size());
    for (const ImportedFinding& f : findings)
        rows.push_back(
            ImportedRow{f.line, f.column, QString::fromStdString(f.text), QString::fromStdString(f.code)});
    return rows;
}

} // namespace

ScoreImporter::ScoreImporter(ScoreSession& session, RecentScores& recent, ScoreChecker& checker)
    : QObject(&session.Window()), session_(session), recent_(recent), checker_(checker),
      action_(AddCommand(session, CommandGroup::Files,
                         {"actImport",
                          QStringLiteral("MIDI/MusicXML から読込…"),
                          {QKeySequence(Qt::CTRL | Qt::Key_I)},
                          QStringLiteral("MIDI や MusicXML のファイルを楽譜にして読み込みます")},
                         this, &ScoreImporter::ChooseAndImport)) {
    setObjectName(QStringLiteral("scoreImporter"));
}

bool ScoreImporter::Imports(const QString& fileName) {
    static const QStringList suffixes{QStringLiteral("mid"), QStringLiteral("midi"),
                                      QStringLiteral("musicxml"), QStringLiteral("xml"),
                                      QStringLiteral("mxl")};
    return suffixes.contains(QFileInfo(fileName).suffix(), Qt::CaseInsensitive);
}

std::int32_t ScoreImporter::RememberedPipe() {
    const int tenths = UserSettings()->value(PipeKey, StandardPipeTenths).toInt();
    return tenths == 0 || PipeOfLength(tenths) ? tenths : StandardPipeTenths;
}

void ScoreImporter::ChooseAndImport() {
    QString folder = QFile::decodeName(QByteArray::fromStdString(session_.AppDir()));
    if (!fileName_.isEmpty()) folder = QFileInfo(fileName_).absolutePath();
    const std::optional<QString> chosen = session_.ChooseFile(
        FileDialogRequest{FileDialogRequest::Kind::Open, folder, ImportFilter, {}, fileName_});
    if (!chosen) return;
    fileName_ = *chosen;
    Import(*chosen);
}

// Nothing changes until the score is made: a failure at any step leaves the window as it was.
void ScoreImporter::Import(const QString& fileName) {
    const QString shown = QFileInfo(fileName).fileName();
    const std::string subject = shown.toStdString() + " を読み込めません";
    try {
        std::string bytes;
        try {
            bytes = ReadFileBytes(QFile::encodeName(fileName).toStdString());
        } catch (const Failure& failure) {
            if (failure.FileCode() != IoCode::FileTooLarge) throw;
            throw failure.Within(subject);
        }
        std::vector<ImportedPart> parts;
        try {
            parts = ImportedParts(bytes);
        } catch (const Failure& failure) {
            throw failure.Within(subject);
        }
        // A file with no part to choose is refused by the import itself, without asking first.
        const bool choosable = std::any_of(parts.begin(), parts.end(),
                                           [](const ImportedPart& p) { return p.playable && !p.drums; });
        const std::optional<ImportChoice> choice =
            choosable ? Ask(shown, parts) : std::optional(ImportChoice{StandardPipeTenths, 0});
        if (!choice) return;
        if (choosable) UserSettings()->setValue(PipeKey, choice->pipeTenths);
        ImportedScore score;
        try {
            score = ImportThroughModule(bytes, choice->part, choice->pipeTenths);
        } catch (const Failure& failure) {
            throw failure.Within(subject);
        }
        if (score.text.size() > EditedScoreLimit)
            throw Failure::Refused("楽譜が大きすぎます (" + std::to_string(score.text.size()) + " バイト)")
                .Within(subject);
        session_.ReplaceScore(SplitScoreFileLines(score.text));
        session_.SetSettings(score.settings);
        recent_.Add(fileName);
        checker_.SetImportFindings(Rows(score.findings));
        if (!score.findings.empty()) checker_.ShowProblems();
    } catch (const Failure& failure) {
        session_.ReportFailure(failure);
    } catch (const std::bad_alloc&) {
        session_.ReportFailure(Failure::File(IoCode::OutOfMemory).Within(subject));
    }
}

std::optional<ImportChoice> ScoreImporter::Ask(const QString& fileName,
                                               const std::vector<ImportedPart>& parts) {
    QDialog dialog(&session_.Window());
    dialog.setObjectName(QStringLiteral("importDialog"));
    dialog.setWindowTitle(QStringLiteral("MIDI/MusicXML から読込"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("ファイル:"), new QLabel(fileName, &dialog));
    QComboBox* pipe = PipeBox(dialog);
    form->addRow(QStringLiteral("尺八の長さ(&P):"), pipe);
    const auto melodic = std::count_if(parts.begin(), parts.end(),
                                       [](const ImportedPart& p) { return p.playable && !p.drums; });
    QComboBox* part = melodic > 1 ? PartBox(dialog, parts) : nullptr;
    if (part != nullptr) form->addRow(QStringLiteral("パート(&A):"), part);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("読込"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return ImportChoice{pipe->currentData().toInt(), part != nullptr ? part->currentData().toInt() : 0};
}

} // namespace nagisora
