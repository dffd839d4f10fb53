#pragma once

// The common file dialogs, behind a hook so that the window can be driven without a modal dialog.

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace nagisora {

struct FileDialogRequest {
    enum class Kind { Open, Save };

    Kind kind = Kind::Save;
    QString folder;        // starting folder
    QString filter;        // one entry, "description (patterns)"; only the description is shown
    QString defaultSuffix; // added to a name typed without an extension; empty: none
    QString proposedName;  // full name shown at first; empty: none
};

// Returns the chosen full file name, or nothing when the user cancels.
using FileDialogHook = std::function<std::optional<QString>(const FileDialogRequest&)>;

// The dialog itself: neither asks before replacing a file, and the open dialog accepts the name of a file
// that does not exist (opening it then fails with the file system's own error).
std::optional<QString> RunFileDialog(QWidget* parent, const FileDialogRequest& request);

} // namespace nagisora
