// The desktop program: one main window that turns a shakuhachi score into a MIDI file.

#include "fMain.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ナギソラ"));
    QGuiApplication::setDesktopFileName(QStringLiteral("nagisora"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("nagisora")));

    // The media layer loads its SoundFont in the background, so the window appears at once. The main window
    // creates the help window, hidden; closing the main window ends the program, also while help is open.
    nagisora::TMainF MainF;
    MainF.show();
    return application.exec();
}
