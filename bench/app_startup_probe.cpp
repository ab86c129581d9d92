// Starts the program's window exactly as the program does, waits until it is
// shown and painted, prints the steady-clock time of that moment in
// nanoseconds and exits. app_bench spawns it and takes the difference from
// the moment it started the process. The settings folder comes from
// XDG_CONFIG_HOME, which app_bench points at a temporary folder.
#include <QApplication>
#include <QtTest/QTest>
#include <chrono>
#include <cstdio>

#include "app/AppIcon.h"
#include "app/FileChooser.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerApp.h"
#include "app/ProgrammerDlg.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    CProfileFile profile(CProgrammerApp::SettingsFileName());
    CQtFileChooser chooser;
    CProgrammerDlg dlg(profile, chooser);
    dlg.show();
    if (!QTest::qWaitForWindowExposed(&dlg)) {
        return 1;
    }
    dlg.repaint();
    const auto shown = std::chrono::steady_clock::now().time_since_epoch();
    std::printf("%lld\n", static_cast<long long>(
                              std::chrono::duration_cast<std::chrono::nanoseconds>(shown).count()));
    return 0;
}
