#include "app/file_dialog.h"

#include <QFileDialog>
#include <QStringList>

namespace nagisora {

std::optional<QString> RunFileDialog(QWidget* parent, const FileDialogRequest& request) {
    const bool saving = request.kind == FileDialogRequest::Kind::Save;
    QFileDialog dialog(parent);
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    QFileDialog::Options options = QFileDialog::DontConfirmOverwrite | QFileDialog::HideNameFilterDetails;
    // The desktop's own open dialogs take only files that exist; Qt's takes any name, and opening it then
    // reports a missing file the way every failed open does.
    if (!saving) options |= QFileDialog::DontUseNativeDialog;
    dialog.setOptions(options);
    dialog.setDirectory(request.folder);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.proposedName.isEmpty()) dialog.selectFile(request.proposedName);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.front();
}

} // namespace nagisora
