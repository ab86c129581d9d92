// The window with UPDI parts: the other-device chooser offers them by name
// and by toolchain id, and the choice becomes the window's part.
#include <QGroupBox>
#include <QMenu>
#include <QtTest>

#include "app/CommandIds.h"
#include "app/DeviceChooser.h"
#include "app/ProgrammerDlg.h"
#include "tests/app/AppTestSupport.h"

class UpdiWindowTest : public QObject {
    Q_OBJECT

private slots:
    void chooserOffersUpdiPartsByNameAndId();
    void chosenByIdBecomesThePart();
};

void UpdiWindowTest::chooserOffersUpdiPartsByNameAndId() {
    QCOMPARE(DeviceChoices(QStringLiteral("tiny1614"), {}), QStringList{"ATtiny1614"});
    QCOMPARE(DeviceChoices(QStringLiteral("t1614"), {}), QStringList{"ATtiny1614"});
    QCOMPARE(DeviceChoices(QStringLiteral("M4809"), {}), QStringList{"ATmega4809"});
    // An ISP part's toolchain id names it alike.
    QCOMPARE(DeviceChoices(QStringLiteral("m328p"), {}), QStringList{"ATmega328P"});
    QCOMPARE(DeviceChoices(QString(), {"t3217"}).value(0), QStringLiteral("ATtiny3217"));
}

void UpdiWindowTest::chosenByIdBecomesThePart() {
    struct Case {
        const char* answer;
        const char* part;
        size_t flash;
        size_t eeprom;
    };
    const Case cases[] = {
        {"t1614", "ATtiny1614", 16384, 256},
        {"atmega4809", "ATmega4809", 49152, 256},
        {"T202", "ATtiny202", 2048, 64},
        {"m328p", "ATmega328P", 32768, 1024},  // an ISP part's id alike
    };
    for (const Case& c : cases) {
        CTestSettings settings;
        CScriptedChooser chooser;
        auto dlg = MakeWindow(settings, chooser);
        dlg->SetDeviceChooser([&](QWidget*, const QStringList&) { return QString(c.answer); });
        Item(MenuNamed(dlg.get(), "menuDevice"), ids::kOtherDevice)->trigger();
        QCOMPARE(Control<QGroupBox>(dlg.get(), ids::kMemoryGroup)->title(), QString(c.part));
        QCOMPARE(dlg->Session().Images().m_progImage.size(), c.flash);
        QCOMPARE(dlg->Session().Images().m_dataImage.size(), c.eeprom);
        QCOMPARE(settings.Profile().GetString("Device", "Type", ""), std::string(c.part));
    }
}

QTEST_MAIN(UpdiWindowTest)
#include "UpdiWindowTest.moc"
