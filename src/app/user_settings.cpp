#include "app/user_settings.h"

#include <QFileInfo>
#include <cstdio>

namespace nagisora {
namespace {

QSettings::Format IgnoredFormat() {
    static const QSettings::Format format = QSettings::registerFormat(
        QStringLiteral("ignored"), [](QIODevice&, QSettings::SettingsMap&) { return true; },
        [](QIODevice&, const QSettings::SettingsMap&) { return false; });
    return format;
}

} // namespace

std::unique_ptr<QSettings> UserSettings() {
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                QStringLiteral("nagisora"), QStringLiteral("nagisora"));
    const QFileInfo file(settings->fileName());
    if (!file.exists() || file.size() <= SettingsLimit) return settings;
    static bool warned = false;
    if (!warned) {
        warned = true;
        std::fprintf(stderr, "nagisora: %s は大きすぎるため読みません (%lld バイト)\n",
                     qUtf8Printable(file.filePath()), static_cast<long long>(file.size()));
    }
    // Settings of a format that reads and writes nothing, at a place where no file can be created: QSettings
    // replaces its file through a temporary beside it, which over a device such as /dev/null would put a
    // plain file in the device's place for a program run as root.
    return std::make_unique<QSettings>(QStringLiteral("/proc/nagisora-settings-ignored.ini"),
                                       IgnoredFormat());
}

} // namespace nagisora
