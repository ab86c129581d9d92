// Renders the main window, as the program shows it, into a PNG file: a
// fresh settings folder, COM2 mapped to a simulated AT90S8535, one Auto
// Detect so that the pane shows something. Usage: brenwick-screenshot <file.png>
#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "app/AppIcon.h"
#include "app/CommandIds.h"
#include "app/FileChooser.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerApp.h"
#include "app/ProgrammerDlg.h"
#include "app/SettingsKeys.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir config;
    if (!config.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    // Never the user's settings, never a real serial port.
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication application(argc, argv);
    QApplication::setWindowIcon(AppIcon());

    CProfileFile profile(CProgrammerApp::SettingsFileName());
    profile.WriteString(settings::kPortsSection, "COM1", "/nonexistent/ttyBrenwick0");
    profile.WriteString(settings::kPortsSection, "COM2", "sim:AT90S8535");
    profile.WriteString(settings::kPortsSection, "COM3", "/nonexistent/ttyBrenwick2");
    profile.WriteString(settings::kPortsSection, "COM4", "/nonexistent/ttyBrenwick3");

    CQtFileChooser chooser;
    CProgrammerDlg dlg(profile, chooser);
    dlg.OnCommand(ids::kAutoDetect);
    dlg.show();
    QApplication::processEvents();
    if (!dlg.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
