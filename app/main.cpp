#include <QApplication>

#include "app/AppIcon.h"
#include "app/ProgrammerApp.h"

namespace {

CProgrammerApp theApp;

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    return theApp.Run();
}
