// The desktop program: one main window that turns a shakuhachi score into a MIDI file. Built as the module
// libnagisora_app.so, which the small executable nagisora loads and runs (launcher.cpp).
//
//   nagisora [SCORE]    opens the window, with the score loaded as "楽譜読込" loads it
//   nagisora --help | --version

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/score_recovery.h"
#include "app/score_session.h"
#include "app/user_settings.h"
#include "platform/sound_font.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QSettings>
#include <cstdio>

namespace {

// The SoundFont of the preview: the one the environment names, else the user's setting "preview/soundFont"
// in ~/.config/nagisora/nagisora.ini, else the program's own search.
std::string PreviewSoundFont() {
    const std::string named = nagisora::SoundFontFromEnvironment();
    if (!named.empty()) return named;
    return nagisora::UserSettings()->value(QStringLiteral("preview/soundFont")).toString().toStdString();
}

} // namespace

// The module's only export: the program's main function, called by the executable.
extern "C" __attribute__((visibility("default"))) int NagisoraMain(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("nagisora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NAGISORA_VERSION));
    QCommandLineParser parser;
    nagisora::DescribeCommandLine(parser);
    if (nagisora::AsksForTextOnly(argc, argv)) {
        // Answered without a display; process() prints the text and ends the program.
        QCoreApplication application(argc, argv);
        nagisora::InstallJapaneseTexts(application);
        parser.process(application);
        return 0;
    }

    // QApplication takes its own options (-platform, -display and the like) off the command line first.
    QApplication application(argc, argv);
    nagisora::InstallJapaneseTexts(application);
    parser.process(application);
    const QStringList scores = parser.positionalArguments();
    if (scores.size() > 1) {
        std::fputs("nagisora: 開ける楽譜は一つだけです\n", stderr);
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("ナギソラ"));
    QGuiApplication::setDesktopFileName(QStringLiteral("nagisora"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("nagisora")));

    // The media layer loads its SoundFont in the background, so the window appears at once. The main window
    // creates the help window, hidden; closing the main window ends the program, also while help is open. A
    // score named on the command line is loaded before the window is first painted; a failure to load it is
    // reported over the window. The copy kept against a crash is removed when the window goes.
    nagisora::MainWindowOptions options;
    options.media.soundFont = PreviewSoundFont();
    nagisora::MainWindow MainF(std::move(options));
    MainF.show();
    // The text of a program that ended without saving it comes first; a restored text is not replaced by
    // the score named on the command line.
    auto* recovery = new nagisora::ScoreRecovery(MainF.Session());
    const bool restored = recovery->OfferLeftCopies();
    if (!scores.isEmpty() && !restored) MainF.OpenScore(nagisora::ScorePathOf(scores.front()));
    return application.exec();
}
