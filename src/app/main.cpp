// The desktop program: one main window that turns a shakuhachi score into a MIDI file.

#include "fMain.h"
#include "sound_font.h"

#include <QApplication>
#include <QIcon>
#include <QSettings>

namespace {

// The SoundFont of the preview: the one the environment names, else the user's setting "preview/soundFont"
// in ~/.config/nagisora/nagisora.ini, else the program's own search.
std::string PreviewSoundFont() {
    const std::string named = nagisora::SoundFontFromEnvironment();
    if (!named.empty()) return named;
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("nagisora"),
                             QStringLiteral("nagisora"));
    return settings.value(QStringLiteral("preview/soundFont")).toString().toStdString();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ナギソラ"));
    QGuiApplication::setDesktopFileName(QStringLiteral("nagisora"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("nagisora")));

    // The media layer loads its SoundFont in the background, so the window appears at once. The main window
    // creates the help window, hidden; closing the main window ends the program, also while help is open.
    nagisora::MainWindowOptions options;
    options.media.soundFont = PreviewSoundFont();
    nagisora::TMainF MainF(std::move(options));
    MainF.show();
    return application.exec();
}
