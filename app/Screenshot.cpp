// Renders a window of the program, as it shows it, into a PNG file: a fresh
// settings folder, COM2 mapped to a simulated chip. "window" (the default):
// the main window of an ATmega328P with the program file given opened and
// written (without one: after one Auto Detect of an AT90S8535); "chooser":
// the Other Device chooser with two recent parts and "mega32" typed;
// "fuses": the Fuses window of an ATmega328P after Read.
// Usage: brenwick-screenshot <file.png> [window|chooser|fuses] [program.hex]
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "app/AppIcon.h"
#include "app/CommandIds.h"
#include "app/DeviceChooser.h"
#include "app/FileChooser.h"
#include "app/FusesDlg.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerApp.h"
#include "app/ProgrammerDlg.h"
#include "app/SettingsKeys.h"
#include "parts/DeviceTable.h"

namespace {

// Answers File > Open Prog File with the program given; no dialog.
class CAnswerChooser : public IFileChooser {
public:
    explicit CAnswerChooser(QString answer) : m_answer(std::move(answer)) {}
    QString ChooseOpenFile(QWidget*, const FileChooserSetup&) override { return m_answer; }
    QString ChooseSaveFile(QWidget*, const FileChooserSetup&) override { return QString(); }

private:
    QString m_answer;
};

}  // namespace

int main(int argc, char* argv[]) {
    const QString what = argc >= 3 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("window");
    const QString program = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (argc < 2 || argc > 4 ||
        (what != QLatin1String("window") && what != QLatin1String("chooser") &&
         what != QLatin1String("fuses"))) {
        std::fprintf(stderr, "usage: %s <file.png> [window|chooser|fuses] [program.hex]\n",
                     argv[0]);
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
    const bool fuses = what == QLatin1String("fuses");
    const bool withProgram = !program.isEmpty();
    profile.WriteString(settings::kPortsSection, "COM2",
                        fuses || withProgram ? "sim:ATmega328P" : "sim:AT90S8535");
    if (withProgram) {
        profile.WriteString(settings::kDeviceSection, settings::kDeviceType, "ATmega328P");
    }
    profile.WriteString(settings::kPortsSection, "COM3", "/nonexistent/ttyBrenwick2");
    profile.WriteString(settings::kPortsSection, "COM4", "/nonexistent/ttyBrenwick3");

    CAnswerChooser chooser(program);
    CProgrammerDlg dlg(profile, chooser);
    QWidget* shown = &dlg;
    CDeviceChooserDlg devices({QStringLiteral("ATmega328P"), QStringLiteral("ATtiny85")});
    std::unique_ptr<CFusesDlg> fusesDlg;
    if (what == QLatin1String("chooser")) {
        devices.findChild<QLineEdit*>()->setText(QStringLiteral("mega32"));
        shown = &devices;
    } else if (fuses) {
        dlg.Session().SelectDeviceRow(FindDeviceByName("ATmega328P"));
        fusesDlg = std::make_unique<CFusesDlg>(dlg.Session(), &dlg);
        dlg.OfferFileFuses(*fusesDlg);
        shown = fusesDlg.get();
    } else if (withProgram) {
        dlg.OnCommand(ids::kOpenProgFile);
        dlg.OnCommand(ids::kWriteProg);
    } else {
        dlg.OnCommand(ids::kAutoDetect);
    }
    shown->show();
    QApplication::processEvents();
    if (!shown->grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
