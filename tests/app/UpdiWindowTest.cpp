// The window with UPDI parts: the other-device chooser offers them by name
// and by toolchain id, and the choice becomes the window's part; the Fuses
// window of a UPDI part reads, shows in words and writes its fuses; Write All
// clicked on a UPDI port writes the chip.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>
#include <random>

#include "app/CommandIds.h"
#include "app/DeviceChooser.h"
#include "app/ProgrammerDlg.h"
#include "app/UpdiFusesDlg.h"
#include "parts/DeviceTable.h"
#include "sim/SimUpdiPort.h"
#include "sim/SimUpdiTarget.h"
#include "tests/app/AppTestSupport.h"

class UpdiWindowTest : public QObject {
    Q_OBJECT

private slots:
    void chooserOffersUpdiPartsByNameAndId();
    void chosenByIdBecomesThePart();
    void fusesWindowReadsWritesAndAsksBeforeCuttingOff();
    void writeAllClickedWritesTheChip_data();
    void writeAllClickedWritesTheChip();
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

namespace {

// The settings line of the part's fuses with that field name.
size_t LineOf(const SUpdiPart& part, const char* field) {
    const std::vector<SUpdiFuseLine> lines =
        DecodeUpdiFuses(part, UpdiFuseBytes(part.fuses.count, 0));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (QString::fromLatin1(lines[i].name) == QLatin1String(field)) {
            return i;
        }
    }
    return lines.size();
}

// Types a byte into a hex field as the user does: focus, replace, leave.
void TypeHex(QWidget* dlg, QLineEdit* field, Qt::Key high, Qt::Key low) {
    field->setFocus();
    field->selectAll();
    KeyAsUser(dlg, high);
    KeyAsUser(dlg, low);
    KeyAsUser(dlg, Qt::Key_Tab);  // the edit is finished as the focus leaves
}

}  // namespace

// The Fuses window of a UPDI part: read on opening, each fuse by name with
// its hex and its settings in words; a byte typed changes the words; Write
// writes it (only that fuse) and reads it back; the UPDI pin made a port pin
// is written only after the user agrees to the question naming it; Read
// shows the chip's values again. Every button is pressed as the user does.
void UpdiWindowTest::fusesWindowReadsWritesAndAsksBeforeCuttingOff() {
    CTestSettings settings({{2, "sim:ATtiny1614"}});
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    const int row = FindDeviceByName("ATtiny1614");
    window->Session().SelectDeviceRow(row);
    const SUpdiPart& part = *g_deviceTable[row].updiPart;
    CUpdiFusesDlg dlg(window->Session(), window.get());
    dlg.SetResultLine([&] {
        const std::string& text = window->m_strMessages;
        const size_t end = text.find_last_not_of("\r\n");
        const size_t start = text.find_last_of('\n', end);
        return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
    });
    QStringList asked;
    bool agree = false;
    dlg.SetCutOffConsent([&](QWidget*, const QString& reasons) {
        asked << reasons;
        return agree;
    });
    QVERIFY(dlg.HaveRead());
    QCOMPARE(dlg.ResultText(), QStringLiteral("Read Fuses Complete"));
    QCOMPARE(dlg.FuseCount(), part.fuses.count);
    constexpr size_t kSyscfg0 = 4;       // of the tinyAVR 1-series layout
    constexpr size_t kSyscfg0Place = 5;  // in the chip's fuse row
    QCOMPARE(QString::fromLatin1(part.fuses.fuses[kSyscfg0].name), QStringLiteral("syscfg0"));
    CSimUpdiTarget& chip = *window->Session().SimUpdiPorts().Target();
    const std::vector<uint8_t> before = chip.Fuses();
    QCOMPARE(dlg.HexField(kSyscfg0)->text(), QStringLiteral("C4"));
    const size_t pin = LineOf(part, "RSTPINCFG");
    const size_t eesave = LineOf(part, "EESAVE");
    QVERIFY(dlg.SettingBox(pin) != nullptr);
    QCOMPARE(dlg.SettingText(pin), QStringLiteral("UPDI: PA0 is the UPDI pin"));
    QVERIFY(dlg.SettingText(eesave).startsWith(QStringLiteral("off")));

    TypeHex(&dlg, dlg.HexField(kSyscfg0), Qt::Key_C, Qt::Key_5);  // EESAVE on
    QCOMPARE(dlg.Value(kSyscfg0), uint8_t(0xC5));
    QVERIFY(dlg.SettingText(eesave).startsWith(QStringLiteral("on")));
    QVERIFY(dlg.StatusText().contains(QStringLiteral("edited and not yet written")));
    ClickAsUser(dlg.WriteButton());
    QVERIFY(asked.isEmpty());
    QCOMPARE(dlg.ResultText(), QStringLiteral("Write Fuses Complete"));
    std::vector<uint8_t> expected = before;
    expected[kSyscfg0Place] = 0xC5;
    QCOMPARE(chip.Fuses(), expected);  // that fuse only
    ClickAsUser(dlg.VerifyButton());
    QCOMPARE(dlg.ResultText(), QStringLiteral("Verify : Complete"));

    TypeHex(&dlg, dlg.HexField(kSyscfg0), Qt::Key_C, Qt::Key_1);  // RSTPINCFG: GPIO
    QCOMPARE(dlg.SettingText(pin), QStringLiteral("GPIO: PA0 is a port pin"));
    ClickAsUser(dlg.WriteButton());
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].contains(QStringLiteral("RSTPINCFG set to GPIO: the UPDI pin becomes")));
    QCOMPARE(chip.Fuses(), expected);  // the user said no: nothing written
    agree = true;
    ClickAsUser(dlg.WriteButton());
    QCOMPARE(asked.size(), 2);
    expected[kSyscfg0Place] = 0xC1;
    QCOMPARE(chip.Fuses(), expected);

    chip.Fuses()[kSyscfg0Place] = 0xC4;
    ClickAsUser(dlg.ReadButton());
    QCOMPARE(dlg.HexField(kSyscfg0)->text(), QStringLiteral("C4"));
    QCOMPARE(dlg.SettingText(pin), QStringLiteral("UPDI: PA0 is the UPDI pin"));
    QCOMPARE(dlg.StatusText(), QStringLiteral("The values shown are the chip's, as read."));
}

void UpdiWindowTest::writeAllClickedWritesTheChip_data() {
    QTest::addColumn<QString>("part");
    QTest::newRow("ATtiny1614") << QStringLiteral("ATtiny1614");
    QTest::newRow("ATmega4809") << QStringLiteral("ATmega4809");
    QTest::newRow("AVR128DA48") << QStringLiteral("AVR128DA48");
}

// Write All clicked as the user does, on a UPDI port: program, data and the
// lock go to the chip, each with its own lines, and Verify All agrees.
void UpdiWindowTest::writeAllClickedWritesTheChip() {
    QFETCH(QString, part);
    CTestSettings settings({{2, "sim:" + part.toStdString()}});
    settings.Profile().WriteString("Device", "Type", part.toStdString());
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    QCOMPARE(Control<QGroupBox>(window.get(), ids::kMemoryGroup)->title(), part);
    std::mt19937 random(11);
    for (uint8_t& b : window->Session().Images().m_progImage) {
        b = static_cast<uint8_t>(random());
    }
    for (uint8_t& b : window->Session().Images().m_dataImage) {
        b = static_cast<uint8_t>(random());
    }
    const size_t before = window->m_strMessages.size();
    ClickAsUser(Control<QPushButton>(window.get(), ids::kWriteAll));
    QCOMPARE(window->m_strMessages.substr(before),
             std::string("Writing PROG to device ...\r\n Writing : Complete\r\n"
                         "Writing Data to device ...\r\n Writing Data: Complete\r\n"
                         "Writing device LockBit ...\r\n Write LockBit Complete\r\n"));
    CSimUpdiTarget& chip = *window->Session().SimUpdiPorts().Target();
    QVERIFY(chip.Flash() == window->Session().Images().m_progImage);
    QVERIFY(chip.Eeprom() == window->Session().Images().m_dataImage);
    const size_t verify = window->m_strMessages.size();
    ClickAsUser(Control<QPushButton>(window.get(), ids::kVerifyAll));
    QVERIFY(window->m_strMessages.find("Error", verify) == std::string::npos);
}

QTEST_MAIN(UpdiWindowTest)
#include "UpdiWindowTest.moc"
