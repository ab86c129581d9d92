#include <QApplication>
#include <cstdio>
#include <cstring>

#include "BrenwickVersion.h"

#include "app/AppIcon.h"
#include "app/ProgrammerApp.h"

namespace {

CProgrammerApp theApp;

}  // namespace

int main(int argc, char* argv[]) {
    // The one argument the window takes; answered without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("brenwick %s\n", BRENWICK_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    return theApp.Run();
}
