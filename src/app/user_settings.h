#pragma once

// The user's settings file ~/.config/nagisora/nagisora.ini (QSettings), opened at each use so that several
// windows of the program share it. A file larger than any the program writes is not read (nor written): it is
// ignored with one warning on standard error, so that a damaged or planted file cannot hold up the start.

#include <QSettings>
#include <memory>

namespace nagisora {

// Larger settings files are ignored.
inline constexpr qint64 SettingsLimit = 1024 * 1024;

// The settings; when the file is over the limit, settings that read nothing and write nothing.
std::unique_ptr<QSettings> UserSettings();

} // namespace nagisora
