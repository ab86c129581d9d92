// The main window driven as the user drives it: start-up against various
// settings, the Device menu, Auto Detect, the menu state rules, the message
// pane, every way of closing, and close requests during an operation.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/AboutDlg.h"
#include "app/CommandIds.h"
#include "app/DeviceChooser.h"
#include "app/FusesDlg.h"
#include "app/HexTableView.h"
#include "app/ProgrammerApp.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/AvrElfFixture.h"

namespace {

const char* const kNotFound = "ISP programmer not found\r\n";

QString GroupCaption(CProgrammerDlg& dlg) {
    return Control<QGroupBox>(&dlg, ids::kMemoryGroup)->title();
}

QString Label(CProgrammerDlg& dlg, int id) {
    return Control<QLabel>(&dlg, id)->text();
}

QString LastLabel(CHexTableView* view) {
    CHexViewModel* model = view->Model();
    return model->CellText(model->rowCount() - 1, CHexViewModel::kAddressColumn);
}

bool AllBytes(const std::vector<uint8_t>& image, uint8_t value) {
    for (uint8_t b : image) {
        if (b != value) {
            return false;
        }
    }
    return true;
}

// The device items of the Device menu that carry a check mark.
QStringList Checked(QMenu* menu) {
    QStringList checked;
    for (QAction* a : menu->actions()) {
        if (a->isChecked()) {
            checked << a->text();
        }
    }
    return checked;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void firstStartWithoutSettings();
    void storedPortOutsideRangeOrUnopenable_data();
    void storedPortOutsideRangeOrUnopenable();
    void startWithSimulatedPort();
    void storedDeviceIsRestoredOrFallsBack();
    void settingsFileIsNamedAfterExecutable();
    void deviceMenuSelectsDevice_data();
    void deviceMenuSelectsDevice();
    void deviceSelectionKeepsFilesAndFlagsClearsTicks();
    void choosingSameDeviceAgainBlanksImages();
    void menuStateRules_data();
    void menuStateRules();
    void recentMenusFromSettings();
    void autoDetectFindsDevice();
    void autoDetectKeepsAPartOfTodayByName();
    void otherDeviceChooserNarrowsAndRemembers();
    void fusesWindowNamesBitsAndAsksBeforeCuttingOff();
    void fusesWindowShowsNothingUnreadAndSettingsAgreeWithBits();
    void fusesWindowOffersTheElfFuses();
    void autoDetectFailureChangesNothing_data();
    void autoDetectFailureChangesNothing();
    void paneKeepsCarriageReturnsAndShowsAppends();
    void ticksExchangeAndSpienStaysDisabled();
    void exitPathsWriteSameSettings_data();
    void exitPathsWriteSameSettings();
    void exitWithoutFlagsWritesNothing();
    void modalRunEndsOnEscape();
    void enterOnAnotherButtonDoesNotExit();
    void closeRequestDuringOperationStopsItThenCloses();
    void aboutBox();
    void contextMenuOffersViewCommands();
};

void WindowTest::firstStartWithoutSettings() {
    CTestSettings settings;  // only [Ports]: no device, port or file entries
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);

    QCOMPARE(GroupCaption(*dlg), QStringLiteral("AT90S8535"));
    QCOMPARE(dlg->Session().Adapter().m_nDevice, 8535);
    QCOMPARE(dlg->Session().Adapter().m_nPort, 2);  // COM2 tried
    QVERIFY(dlg->Session().SimPorts().Sim() != nullptr);
    QCOMPARE(dlg->m_strMessages, std::string("Select device : AT90S8535\r\n"));

    for (const char* name : {"menuRecentProg", "menuRecentData"}) {
        QMenu* recent = MenuNamed(dlg.get(), name);
        QCOMPARE(recent->actions().size(), 1);
        QCOMPARE(recent->actions().first()->text(), QStringLiteral(" "));
    }
    QCOMPARE(settings.TextAfterPorts(), QByteArray("[Device]\nType=8535\n"));
}

void WindowTest::storedPortOutsideRangeOrUnopenable_data() {
    QTest::addColumn<int>("port");
    QTest::newRow("0") << 0;
    QTest::newRow("5") << 5;
    QTest::newRow("unopenable COM3") << 3;
}

void WindowTest::storedPortOutsideRangeOrUnopenable() {
    QFETCH(int, port);
    CTestSettings settings;
    settings.Profile().WriteInt("Com", "Port", port);
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);

    // A port that is there but cannot be opened adds why, where the system
    // said: this one does not exist.
    const std::string why =
        port == 3 ? " COM3 (" + MissingPort(3) + ") does not exist\r\n" : std::string();
    QCOMPARE(dlg->m_strMessages, kNotFound + why);
    QCOMPARE(Control<QPlainTextEdit>(dlg.get(), ids::kMessages)->toPlainText(),
             QString::fromStdString("ISP programmer not found\n" + why).remove(QLatin1Char('\r')));
    // Nothing is disabled because of it.
    for (QPushButton* b : dlg->findChildren<QPushButton*>()) {
        QVERIFY(b->isEnabled());
    }
}

void WindowTest::startWithSimulatedPort() {
    CTestSettings settings({{4, "sim:AT90S8515"}});
    settings.Profile().WriteInt("Com", "Port", 4);
    settings.Profile().WriteInt("Device", "Type", 8515);
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    QCOMPARE(dlg->Session().Adapter().m_nPort, 4);
    QCOMPARE(dlg->m_strMessages, std::string("Select device : AT90S8515\r\n"));
}

void WindowTest::storedDeviceIsRestoredOrFallsBack() {
    {
        CTestSettings settings;
        settings.Profile().WriteInt("Device", "Type", 103);
        CScriptedChooser chooser;
        auto dlg = MakeWindow(settings, chooser);
        QCOMPARE(GroupCaption(*dlg), QStringLiteral("ATmega103"));
        QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(131072));
    }
    // A value the table does not know would leave the window without sizes
    // or a name: the default device takes its place and is stored. 0 is the
    // number of no part (those of today are stored by name).
    for (const char* unknown : {"9999", "0", "ATmega999"}) {
        CTestSettings settings;
        settings.Profile().WriteString("Device", "Type", unknown);
        CScriptedChooser chooser;
        auto dlg = MakeWindow(settings, chooser);
        QCOMPARE(dlg->Session().Adapter().m_nDevice, 8535);
        QCOMPARE(GroupCaption(*dlg), QStringLiteral("AT90S8535"));
        QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(8192));
        QCOMPARE(dlg->ProgView()->Model()->rowCount(), 512);
        QCOMPARE(settings.Profile().GetInt("Device", "Type", 0), 8535);
    }
}

void WindowTest::settingsFileIsNamedAfterExecutable() {
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QString expected = config.filePath(
        QFileInfo(QCoreApplication::applicationFilePath()).fileName() + QStringLiteral(".INI"));
    QCOMPARE(QString::fromStdString(CProgrammerApp::SettingsFileName()), expected);
    qputenv("XDG_CONFIG_HOME", saved);
}

void WindowTest::deviceMenuSelectsDevice_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("progLabel");
    QTest::addColumn<QString>("dataLabel");
    QTest::addColumn<int>("progRows");
    QTest::addColumn<QString>("lastProg");
    QTest::addColumn<int>("dataRows");
    QTest::addColumn<QString>("lastData");
    auto row = [](int command, int device, const char* name, const char* prog, const char* data,
                  int progSize, int dataSize, const char* lastProg, const char* lastData) {
        QTest::newRow(name) << command << device << QString::fromLatin1(name)
                            << QStringLiteral("Program : 0x000 - ") + QString::fromLatin1(prog)
                            << QStringLiteral("Data : 0x00 - ") + QString::fromLatin1(data)
                            << progSize / 16 << QString::fromLatin1(lastProg) << dataSize / 8
                            << QString::fromLatin1(lastData);
    };
    row(32805, 161, "ATmega161", "0x3FFF", "0x1FF", 16384, 512, "3ff0", "01f8");
    row(32804, 103, "ATmega103", "0x1FFFF", "0xFFF", 131072, 4096, "1fff0", "0ff8");
    row(32788, 8515, "AT90S8515", "0x1FFF", "0x1FF", 8192, 512, "1ff0", "01f8");
    row(32780, 4434, "AT90S4434", "0xFFF", "0xFF", 4096, 256, "0ff0", "00f8");
    row(32781, 2313, "AT90S2313", "0x7FF", "0x7F", 2048, 128, "07f0", "0078");
    row(32790, 10, "ATtiny10/11/12", "0x3FF", "0x3F", 1024, 64, "03f0", "0038");
}

void WindowTest::deviceMenuSelectsDevice() {
    QFETCH(int, command);
    QFETCH(int, device);
    QFETCH(QString, name);
    QFETCH(QString, progLabel);
    QFETCH(QString, dataLabel);
    QFETCH(int, progRows);
    QFETCH(QString, lastProg);
    QFETCH(int, dataRows);
    QFETCH(QString, lastData);

    CTestSettings settings;
    settings.Profile().WriteInt("Device", "Type", device == 8515 ? 8535 : 8515);
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    QMenu* menu = MenuNamed(dlg.get(), "menuDevice");
    Item(menu, command)->trigger();

    QCOMPARE(Label(*dlg, ids::kProgRange), progLabel);
    QCOMPARE(Label(*dlg, ids::kDataRange), dataLabel);
    QCOMPARE(GroupCaption(*dlg), name);
    QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(progRows * 16));
    QCOMPARE(dlg->Session().Images().m_dataImage.size(), size_t(dataRows * 8));
    QVERIFY(AllBytes(dlg->Session().Images().m_progImage, 0xFF));
    QVERIFY(AllBytes(dlg->Session().Images().m_dataImage, 0xFF));
    QCOMPARE(dlg->ProgView()->Model()->rowCount(), progRows);
    QCOMPARE(dlg->DataView()->Model()->rowCount(), dataRows);
    QCOMPARE(LastLabel(dlg->ProgView()), lastProg);
    QCOMPARE(LastLabel(dlg->DataView()), lastData);
    QCOMPARE(dlg->ProgView()->Model()->CellText(progRows - 1, 8), QStringLiteral("ffff"));
    QCOMPARE(dlg->DataView()->Model()->CellText(dataRows - 1, 8), QStringLiteral("FF"));
    // Of these parts only the AT90S4434 has the FSTRT fuse.
    QCOMPARE(Control<QCheckBox>(dlg.get(), ids::kFstrt)->isEnabled(), device == 4434);
    QVERIFY(QByteArray::fromStdString(dlg->m_strMessages)
                .endsWith("Select device : " + name.toLatin1() + "\r\n"));
    QCOMPARE(settings.Profile().GetInt("Device", "Type", 0), device);

    ShowMenu(menu);
    QCOMPARE(Checked(menu), QStringList{Item(menu, command)->text()});
}

void WindowTest::deviceSelectionKeepsFilesAndFlagsClearsTicks() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->show();
    dlg->m_bProgLoaded = 1;
    dlg->m_strProgFile = "/p/a.hex";
    dlg->m_strDataFile = "/p/a.epp";
    dlg->SetProgressRange(10);
    dlg->SetProgressPos(7);
    auto* lock1 = Control<QCheckBox>(dlg.get(), ids::kLockBit1);
    ClickAsUser(lock1);
    QVERIFY(lock1->isChecked());

    Item(MenuNamed(dlg.get(), "menuDevice"), 32804)->trigger();  // AT Mega 103

    QVERIFY(!lock1->isChecked());  // the tick never reached the values
    QCOMPARE(dlg->m_ticks.m_bLockBit1, 0);
    QCOMPARE(dlg->m_bProgLoaded, 1);
    QCOMPARE(dlg->m_bDataLoaded, 0);
    QCOMPARE(dlg->m_strProgFile, std::string("/p/a.hex"));
    QCOMPARE(dlg->m_strDataFile, std::string("/p/a.epp"));
    QCOMPARE(Control<QProgressBar>(dlg.get(), ids::kProgress)->value(), 7);
}

void WindowTest::choosingSameDeviceAgainBlanksImages() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->Session().Images().m_progImage[0] = 0x0C;
    dlg->Session().Images().m_progImage[1] = 0x94;
    dlg->Session().Images().m_dataImage[3] = 0x12;
    dlg->RefreshProgView();
    QCOMPARE(dlg->ProgView()->Model()->CellText(0, 1), QStringLiteral("940c"));

    Item(MenuNamed(dlg.get(), "menuDevice"), 32779)->trigger();  // the selected AT90S8535

    QVERIFY(AllBytes(dlg->Session().Images().m_progImage, 0xFF));
    QVERIFY(AllBytes(dlg->Session().Images().m_dataImage, 0xFF));
    QCOMPARE(dlg->ProgView()->Model()->CellText(0, 1), QStringLiteral("ffff"));
    QCOMPARE(dlg->m_strMessages,
             std::string("Select device : AT90S8535\r\nSelect device : AT90S8535\r\n"));
}

void WindowTest::menuStateRules_data() {
    QTest::addColumn<int>("progLoaded");
    QTest::addColumn<int>("dataLoaded");
    QTest::newRow("neither") << 0 << 0;
    QTest::newRow("prog") << 1 << 0;
    QTest::newRow("data") << 0 << 1;
    QTest::newRow("both") << 1 << 1;
}

void WindowTest::menuStateRules() {
    QFETCH(int, progLoaded);
    QFETCH(int, dataLoaded);
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    QMenu* file = MenuNamed(dlg.get(), "menuFile");

    // States computed before the change must not linger.
    dlg->m_bProgLoaded = 1 - progLoaded;
    dlg->m_bDataLoaded = 1 - dataLoaded;
    ShowMenu(file);
    dlg->m_bProgLoaded = progLoaded;
    dlg->m_bDataLoaded = dataLoaded;
    ShowMenu(file);

    const bool any = progLoaded || dataLoaded;
    QCOMPARE(Item(file, ids::kFileClose)->isEnabled(), any);
    QCOMPARE(Item(file, ids::kFileSave)->isEnabled(), any);
    QCOMPARE(Item(file, ids::kFileSaveAs)->isEnabled(), any);
    QCOMPARE(Item(file, ids::kSaveProgFile)->isEnabled(), bool(progLoaded));
    QCOMPARE(Item(file, ids::kSaveAsProgFile)->isEnabled(), bool(progLoaded));
    QCOMPARE(Item(file, ids::kSaveDataFile)->isEnabled(), bool(dataLoaded));
    QCOMPARE(Item(file, ids::kSaveAsDataFile)->isEnabled(), bool(dataLoaded));
    for (int id :
         {ids::kFileOpen, ids::kOpenProgFile, ids::kOpenDataFile, ids::kSetUp, ids::kExit}) {
        QVERIFY(Item(file, id)->isEnabled());
    }
    QVERIFY(MenuNamed(dlg.get(), "menuRecentProg")->actions().first()->isEnabled());

    // The Device menu: nothing disabled, one mark, none on Auto Detect.
    QMenu* device = MenuNamed(dlg.get(), "menuDevice");
    ShowMenu(device);
    for (QAction* a : device->actions()) {
        QVERIFY(a->isEnabled());
    }
    QCOMPARE(Checked(device), QStringList{"AT90S8535"});
    QVERIFY(!Item(device, ids::kAutoDetect)->isCheckable());
}

void WindowTest::recentMenusFromSettings() {
    CTestSettings settings;
    settings.Profile().WriteString("FileProg", "Name", "/p/a&b.hex");
    settings.Profile().WriteString("FileProg", "Name2", "/p/old.hex");
    settings.Profile().WriteString("FileData", "Name", "/p/a.epp");
    settings.Profile().WriteString("FileData", "Name2", "/p/a.epp");  // same: not repeated
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);

    QMenu* prog = MenuNamed(dlg.get(), "menuRecentProg");
    QCOMPARE(prog->actions().size(), 2);
    QCOMPARE(prog->actions()[0]->text(), QStringLiteral("/p/a&&b.hex"));
    QCOMPARE(prog->actions()[0]->data().toInt(), ids::kRecentProg1);
    QCOMPARE(prog->actions()[1]->text(), QStringLiteral("/p/old.hex"));
    QCOMPARE(prog->actions()[1]->data().toInt(), ids::kRecentProg2);
    QCOMPARE(dlg->m_strRecentProg[0], std::string("/p/a&b.hex"));

    QMenu* data = MenuNamed(dlg.get(), "menuRecentData");
    QCOMPARE(data->actions().size(), 1);
    QCOMPARE(data->actions()[0]->data().toInt(), ids::kRecentData1);

    // With no first name the blank entry stays and the second follows it.
    CTestSettings second;
    second.Profile().WriteString("FileData", "Name2", "/q/b.epp");
    auto other = MakeWindow(second, chooser);
    QMenu* data2 = MenuNamed(other.get(), "menuRecentData");
    QCOMPARE(data2->actions().size(), 2);
    QCOMPARE(data2->actions()[0]->text(), QStringLiteral(" "));
    QCOMPARE(data2->actions()[1]->data().toInt(), ids::kRecentData2);
}

void WindowTest::autoDetectFindsDevice() {
    CTestSettings settings({{2, "sim:AT90S2313"}});
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    QMenu* device = MenuNamed(dlg.get(), "menuDevice");
    const std::string before = dlg->m_strMessages;

    Item(device, ids::kAutoDetect)->trigger();

    QCOMPARE(dlg->m_strMessages,
             before + "Auto Select device : \r\n Select device : AT90S2313\r\n");
    QCOMPARE(GroupCaption(*dlg), QStringLiteral("AT90S2313"));
    QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(2048));
    QCOMPARE(settings.Profile().GetInt("Device", "Type", 0), 2313);
    ShowMenu(device);
    QCOMPARE(Checked(device), QStringList{"AT90S2313"});
    // The target is released afterwards.
    QVERIFY(dlg->Session().SimPorts().Sim() != nullptr);
    QVERIFY(!dlg->Session().SimPorts().Sim()->InProgrammingMode());
    QVERIFY(!dlg->Session().SimPorts().Sim()->Break());
}

// A part of today has no device number: it is stored by name, and the next
// start selects it again; no entry of the menu is checked for it.
void WindowTest::autoDetectKeepsAPartOfTodayByName() {
    CTestSettings settings({{2, "sim:ATmega328P"}});
    CScriptedChooser chooser;
    {
        auto dlg = MakeWindow(settings, chooser);
        Item(MenuNamed(dlg.get(), "menuDevice"), ids::kAutoDetect)->trigger();
        QVERIFY(dlg->m_strMessages.find(" Select device : ATmega328P\r\n") != std::string::npos);
        QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(32768));
    }
    QCOMPARE(settings.Profile().GetString("Device", "Type", ""), std::string("ATmega328P"));
    auto again = MakeWindow(settings, chooser);
    QCOMPARE(again->m_strMessages, std::string("Select device : ATmega328P\r\n"));
    QCOMPARE(GroupCaption(*again), QStringLiteral("ATmega328P"));
    QMenu* device = MenuNamed(again.get(), "menuDevice");
    ShowMenu(device);
    QVERIFY(Checked(device).isEmpty());
}

// The Device menu's last entry offers every part, the last chosen first,
// narrowed by what is typed; the part chosen is selected and remembered.
// The Fuses window reads the chip on opening and shows each byte as hex and
// as named bits (ticked: programmed); a write goes ahead only after a read,
// and one that would cut the chip off only when the user agrees to the
// question naming it.
void WindowTest::fusesWindowNamesBitsAndAsksBeforeCuttingOff() {
    CTestSettings settings({{2, "sim:ATtiny85"}});
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    QVERIFY(Item(MenuNamed(window.get(), "menuDevice"), ids::kFuses) != nullptr);
    window->Session().SelectDeviceRow(FindDeviceByName("ATtiny85"));
    CFusesDlg dlg(window->Session(), window.get());
    QStringList asked;
    bool agree = false;
    dlg.SetCutOffConsent([&](QWidget*, const QString& reasons) {
        asked << reasons;
        return agree;
    });
    QVERIFY(dlg.HaveRead());  // read on opening
    QVERIFY(dlg.Read());
    QCOMPARE(dlg.Value(0), uint8_t(0x62));
    QCOMPARE(dlg.Value(1), uint8_t(0xDF));
    QCOMPARE(dlg.BitBox(1, 7)->text(), QStringLiteral("RSTDISBL"));
    QVERIFY(!dlg.BitBox(1, 7)->isChecked());
    QVERIFY(dlg.BitBox(0, 7)->isChecked());  // CKDIV8 programmed
    QCOMPARE(dlg.CalibrationText(), QStringLiteral("Calibration byte: 0x9C"));

    dlg.BitBox(1, 3)->setChecked(true);  // EESAVE: harmless
    QCOMPARE(dlg.Value(1), uint8_t(0xD7));
    QVERIFY(dlg.Write());
    QVERIFY(asked.isEmpty());
    CSimPort& sim = *window->Session().SimPorts().Sim();
    QCOMPARE(sim.Fuses()[1], uint8_t(0xD7));
    QVERIFY(dlg.Verify());

    dlg.BitBox(1, 7)->setChecked(true);  // RSTDISBL
    QVERIFY(!dlg.Write());
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].contains(QStringLiteral("RSTDISBL programmed")));
    QCOMPARE(sim.Fuses()[1], uint8_t(0xD7));
    // Another chip (or the same one changed) since the read: nothing of the
    // old values is written over it.
    sim.SetFuses({0x62, 0xDE, 0xFF});
    agree = true;
    QVERIFY(!dlg.Write());
    QCOMPARE(sim.Fuses()[1], uint8_t(0xDE));
    QVERIFY(window->m_strMessages.find(" Write Fuses : The chip's fuses are not those read") !=
            std::string::npos);
    sim.SetFuses({0x62, 0xD7, 0xFF});
    QVERIFY(dlg.Write());
    QCOMPARE(sim.Fuses()[1], uint8_t(0x57));
}

// The fuse section of an ELF file opened as the program stands in for the
// chip's values after Read; Write writes it. Nothing is written on opening.
void WindowTest::fusesWindowOffersTheElfFuses() {
    CTestSettings settings({{2, "sim:ATmega328P"}});
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->Session().SelectDeviceRow(FindDeviceByName("ATmega328P"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("main.elf"));
    const std::string elf = BuildAvrElf(AtmegaFixtureSections());
    QVERIFY(WriteBytes(path, QByteArray(elf.data(), static_cast<int>(elf.size()))));
    chooser.m_strAnswer = path;
    window->OnCommand(ids::kOpenProgFile);
    CSimPort& sim = *window->Session().SimPorts().Sim();
    const std::vector<uint8_t> factory = sim.Fuses();
    QCOMPARE(factory[0], uint8_t(0x62));

    CFusesDlg dlg(window->Session(), window.get());
    window->OfferFileFuses(dlg);
    QVERIFY(dlg.OfferedText().contains(QStringLiteral("lfuse=0xE2, hfuse=0xD9, efuse=0xFD")));
    // The window's own status line and note, over the main pane it covers.
    QCOMPARE(dlg.ResultText(), QStringLiteral("Read Fuses Complete"));
    QCOMPARE(dlg.StatusText(), QStringLiteral("The values shown are the chip's, as read."));
    QVERIFY(dlg.Read());
    QCOMPARE(dlg.Value(0), uint8_t(0xE2));
    QCOMPARE(dlg.Value(2), uint8_t(0xFD));
    QVERIFY(dlg.StatusText().contains(QStringLiteral("taken from ") + path +
                                      QStringLiteral(" and not yet written")));
    QCOMPARE(sim.Fuses(), factory);  // shown, not yet written
    QVERIFY(dlg.Write());
    QCOMPARE(dlg.ResultText(), QStringLiteral("Write Fuses Complete"));
    QVERIFY(dlg.StatusText().contains(QStringLiteral("as written")));
    QCOMPARE(sim.Fuses()[0], uint8_t(0xE2));
    QCOMPARE(sim.Fuses()[1], uint8_t(0xD9));

    // Edited: said so; a verify names the byte that differs and both values.
    dlg.SetValue(0, 0x62);
    QVERIFY(dlg.StatusText().contains(QStringLiteral("edited and not yet written")));
    QVERIFY(!dlg.Verify());
    QCOMPARE(dlg.ResultText(),
             QStringLiteral("Verify : Fuses Error. Low fuse (lfuse): the chip has 0xE2, this "
                            "window 0x62."));

    // Closing the files takes the offer back.
    window->OnCommand(ids::kFileClose);
    CFusesDlg after(window->Session(), window.get());
    window->OfferFileFuses(after);
    QVERIFY(after.OfferedText().isEmpty());
}

// Until a read succeeded no value stands in the window: empty hex fields,
// boxes neither ticked nor unticked, no setting; after one, the drop-downs
// say the settings in words, and a choice there, a box or a hex value
// changes the other two.
void WindowTest::fusesWindowShowsNothingUnreadAndSettingsAgreeWithBits() {
    CTestSettings settings({{2, "sim:ATmega328P"}});
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->Session().SelectDeviceRow(FindDeviceByName("ATmega328P"));
    auto nothingShown = [](CFusesDlg& dlg) {
        QVERIFY(!dlg.HaveRead());
        for (int i = 0; i < kFuseByteCount; ++i) {
            auto* hex = dlg.findChild<QLineEdit*>(QStringLiteral("fuseHex%1").arg(i));
            QVERIFY(hex->text().isEmpty() && !hex->isEnabled());
            for (int bit = 0; bit < 8; ++bit) {
                if (QCheckBox* box = dlg.BitBox(i, bit)) {
                    QCOMPARE(box->checkState(), Qt::PartiallyChecked);
                    QVERIFY(!box->isEnabled());
                }
            }
        }
        for (int line = 0; dlg.SettingBox(line) != nullptr; ++line) {
            QVERIFY(!dlg.SettingBox(line)->isEnabled());
            QVERIFY(dlg.SettingBox(line)->currentText().isEmpty());
        }
        QVERIFY(dlg.StatusText().contains(QStringLiteral("could not be read")));
        QVERIFY(!dlg.Write() && !dlg.Verify());
    };
    auto choose = [](QComboBox* box, const QString& text) {
        const int index = box->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        emit box->activated(index);
    };

    CFusesDlg dlg(window->Session(), window.get());
    QStringList asked;
    dlg.SetCutOffConsent([&](QWidget*, const QString& reasons) {
        asked << reasons;
        return false;
    });
    QVERIFY(dlg.HaveRead());
    QCOMPARE(dlg.SettingBox(0)->currentText(),
             QStringLiteral("internal RC oscillator 8 MHz, divided by 8: 1 MHz"));
    QCOMPARE(dlg.SettingBox(1)->currentText(),
             QStringLiteral("6 CK, 14CK + 65 ms: slowly rising power"));
    QCOMPARE(dlg.SettingBox(2)->currentText(), QStringLiteral("brown-out detection off"));
    QCOMPARE(dlg.SettingBox(3)->currentText(), QStringLiteral("2048 words, from word 0x3800"));
    QVERIFY(dlg.SettingBox(4) == nullptr);

    dlg.BitBox(0, 7)->setChecked(false);  // CKDIV8
    QCOMPARE(dlg.Value(0), uint8_t(0xE2));
    QCOMPARE(dlg.SettingBox(0)->currentText(), QStringLiteral("internal RC oscillator 8 MHz"));
    choose(dlg.SettingBox(0), QStringLiteral("external crystal 8 MHz and up (8.0 - 16.0 MHz)"));
    QCOMPARE(dlg.Value(0), uint8_t(0xEE));
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("fuseHex0"))->text(), QStringLiteral("EE"));
    QVERIFY(!dlg.BitBox(0, 3)->isChecked() && !dlg.BitBox(0, 1)->isChecked());
    QVERIFY(dlg.BitBox(0, 0)->isChecked());   // CKSEL0 now belongs to the start-up time
    QCOMPARE(dlg.SettingBox(1)->count(), 8);  // the crystal's start-up table
    choose(dlg.SettingBox(1),
           QStringLiteral("16K CK, 14CK + 65 ms: crystal oscillator, slowly rising power"));
    QCOMPARE(dlg.Value(0), uint8_t(0xFF));
    QVERIFY(!dlg.BitBox(0, 0)->isChecked() && !dlg.BitBox(0, 5)->isChecked());
    dlg.SetValue(2, 0xFD);
    QCOMPARE(dlg.SettingBox(2)->currentText(), QStringLiteral("2.7 V"));
    choose(dlg.SettingBox(3), QStringLiteral("256 words, from word 0x3F00"));
    QCOMPARE(dlg.Value(1), uint8_t(0xDF));

    QVERIFY(!dlg.Write());  // the question names the clock source in words
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].contains(QStringLiteral(
        "Clock source: external crystal 8 MHz and up (8.0 - 16.0 MHz). A board without a crystal "
        "or resonator on XTAL1/XTAL2 then stops answering")));

    // A value the datasheet reserves selects none of the listed ones.
    dlg.SetValue(0, 0x61);
    QCOMPARE(dlg.SettingBox(0)->currentIndex(), -1);
    QVERIFY(dlg.SettingBox(0)->placeholderText().contains(QStringLiteral("does not list")));
    QVERIFY(!dlg.SettingBox(1)->isEnabled());

    // The chip stops answering: a failed read leaves nothing shown, and so
    // does a window opened on it.
    window->Session().SimPorts().Sim()->SetFuses({0x62, 0x59, 0xFF});  // RSTDISBL programmed
    QVERIFY(!dlg.Read());
    nothingShown(dlg);
    CFusesDlg again(window->Session(), window.get());
    nothingShown(again);

    // A window destroyed while shown, with a hex field in focus, finishes
    // that edit without reaching the parts of it already gone.
    window->Session().SimPorts().Sim()->SetFuses({0x62, 0xD9, 0xFF});
    auto* shown = new CFusesDlg(window->Session(), window.get());
    shown->show();
    QApplication::setActiveWindow(shown);
    shown->findChild<QLineEdit*>(QStringLiteral("fuseHex0"))->setFocus();
    QApplication::processEvents();
    delete shown;
}

void WindowTest::otherDeviceChooserNarrowsAndRemembers() {
    QCOMPARE(DeviceChoices(QString(), {}).size(), kDeviceCount);
    QCOMPARE(DeviceChoices(QStringLiteral("tiny84"), {}),
             (QStringList{"ATtiny84/84A", "ATtiny841"}));
    QCOMPARE(DeviceChoices(QString(), {"ATtiny13A", "bogus", "ATmega328P"}).mid(0, 3),
             (QStringList{"ATtiny13/13A", "ATmega328P", "AT90S8535"}));
    QCOMPARE(WithRecentDevice({"A", "B", "C", "D", "E"}, "C"),
             (QStringList{"C", "A", "B", "D", "E"}));

    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    QStringList offered;
    QString answer = QStringLiteral("atmega328p");
    dlg->SetDeviceChooser([&](QWidget*, const QStringList& recent) {
        offered = recent;
        return answer;
    });
    QMenu* device = MenuNamed(dlg.get(), "menuDevice");
    Item(device, ids::kOtherDevice)->trigger();
    QCOMPARE(GroupCaption(*dlg), QStringLiteral("ATmega328P"));
    QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(32768));
    QCOMPARE(settings.Profile().GetString("Device", "Type", ""), std::string("ATmega328P"));
    QCOMPARE(settings.Profile().GetString("Device", "Recent", ""), std::string("ATmega328P"));
    // Cancelled: nothing changes, and the last choice was offered first.
    answer.clear();
    Item(device, ids::kOtherDevice)->trigger();
    QCOMPARE(offered, QStringList{"ATmega328P"});
    QCOMPARE(GroupCaption(*dlg), QStringLiteral("ATmega328P"));
}

void WindowTest::autoDetectFailureChangesNothing_data() {
    QTest::addColumn<QString>("com2");
    QTest::newRow("no adapter") << QStringLiteral("sim:AT90S8535,no-adapter");
    QTest::newRow("no target") << QStringLiteral("sim:AT90S8535,no-target");
    QTest::newRow("port not open") << QString::fromStdString(MissingPort(2));
}

void WindowTest::autoDetectFailureChangesNothing() {
    QFETCH(QString, com2);
    CTestSettings settings({{2, com2.toStdString()}});
    settings.Profile().WriteInt("Device", "Type", 8515);
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->Session().Images().m_progImage[0] = 0x12;
    const std::string before = dlg->m_strMessages;
    const QByteArray file = settings.Text();
    QMenu* device = MenuNamed(dlg.get(), "menuDevice");

    Item(device, ids::kAutoDetect)->trigger();

    QCOMPARE(dlg->m_strMessages, before + "Auto Select device : \r\n Device Error \r\n");
    QCOMPARE(dlg->Session().Adapter().m_nDevice, 8515);
    QCOMPARE(GroupCaption(*dlg), QStringLiteral("AT90S8515"));
    QCOMPARE(dlg->Session().Images().m_progImage[0], uint8_t(0x12));
    QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(8192));
    QCOMPARE(settings.Text(), file);
    ShowMenu(device);
    QCOMPARE(Checked(device), QStringList{"AT90S8515"});
}

void WindowTest::paneKeepsCarriageReturnsAndShowsAppends() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    auto* pane = Control<QPlainTextEdit>(dlg.get(), ids::kMessages);
    QVERIFY(pane->isReadOnly());

    dlg->AppendMessage("Writing PROG to device ...\r\n");
    dlg->AddMessage(" Writing : ");
    dlg->AppendMessage("Complete\r\n");
    const std::string expected =
        "Select device : AT90S8535\r\nWriting PROG to device ...\r\n Writing : Complete\r\n";
    dlg->TakeFromScreen();
    QCOMPARE(dlg->m_strMessages, expected);
    QCOMPARE(pane->toPlainText(), QString::fromStdString(expected).remove(QLatin1Char('\r')));

    // After the text is replaced, what follows is shown after the new text only.
    dlg->ReplaceMessages(kNotFound);
    dlg->AppendMessage("Reading DATA from device ...\r\n");
    QCOMPARE(pane->toPlainText(),
             QStringLiteral("ISP programmer not found\nReading DATA from device ...\n"));

    // An append, and a show alone, keep the newest line in view.
    dlg->show();
    for (int i = 0; i < 40; ++i) {
        dlg->AppendMessage("line\r\n");
    }
    QScrollBar* bar = pane->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(0);
    dlg->ShowOnScreen();
    QCOMPARE(bar->value(), bar->maximum());
}

void WindowTest::ticksExchangeAndSpienStaysDisabled() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->show();
    auto* spien = Control<QCheckBox>(dlg.get(), ids::kSpien);
    QVERIFY(!spien->isEnabled());
    QCOMPARE(spien->text(), QStringLiteral("Spien"));

    ClickAsUser(Control<QCheckBox>(dlg.get(), ids::kFstrt));
    ClickAsUser(Control<QCheckBox>(dlg.get(), ids::kLockBit2));
    QCOMPARE(dlg->m_ticks.m_bFstrt, 0);  // not before the next take from screen
    dlg->TakeFromScreen();
    QCOMPARE(dlg->m_ticks.m_bFstrt, 1);
    QCOMPARE(dlg->m_ticks.m_bLockBit2, 1);
    QCOMPARE(dlg->m_ticks.m_bLockBit1, 0);

    dlg->Ticks().m_bSpien = 1;
    dlg->ShowOnScreen();
    QVERIFY(spien->isChecked());
    QVERIFY(!spien->isEnabled());
}

void WindowTest::exitPathsWriteSameSettings_data() {
    QTest::addColumn<QString>("path");
    for (const char* p : {"Exit button", "File Exit", "Enter", "Escape", "close control"}) {
        QTest::newRow(p) << QString::fromLatin1(p);
    }
}

void WindowTest::exitPathsWriteSameSettings() {
    QFETCH(QString, path);
    CTestSettings settings;
    settings.Profile().WriteString("FileProg", "Name", "/p/old.hex");
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->m_bProgLoaded = 1;
    dlg->m_strProgFile = "/p/new.hex";
    dlg->m_bDataLoaded = 1;
    dlg->m_strDataFile = "/p/new.epp";
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));

    if (path == "Exit button") {
        ClickAsUser(Control<QPushButton>(dlg.get(), ids::kExit));
    } else if (path == "File Exit") {
        Item(MenuNamed(dlg.get(), "menuFile"), ids::kExit)->trigger();
    } else if (path == "Enter") {
        Control<QPlainTextEdit>(dlg.get(), ids::kMessages)->setFocus();
        QTest::keyClick(Control<QPlainTextEdit>(dlg.get(), ids::kMessages), Qt::Key_Return);
    } else if (path == "Escape") {
        KeyAsUser(dlg.get(), Qt::Key_Escape);
    } else {
        dlg->close();
    }

    QVERIFY(!dlg->isVisible());
    QCOMPARE(settings.TextAfterPorts(), QByteArray("[FileProg]\n"
                                                   "Name=/p/new.hex\n"
                                                   "Name2=/p/old.hex\n"
                                                   "\n"
                                                   "[Device]\n"
                                                   "Type=8535\n"
                                                   "\n"
                                                   "[FileData]\n"
                                                   "Name2=\n"
                                                   "Name=/p/new.epp\n"));
}

void WindowTest::exitWithoutFlagsWritesNothing() {
    CTestSettings settings;
    settings.Profile().WriteString("FileProg", "Name", "/p/old.hex");
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->m_strProgFile = "/p/new.hex";  // current, but no image flag set
    const QByteArray before = settings.Text();
    dlg->show();
    KeyAsUser(dlg.get(), Qt::Key_Escape);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(settings.Text(), before);
}

void WindowTest::modalRunEndsOnEscape() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->m_bDataLoaded = 1;
    dlg->m_strDataFile = "/d/x.epp";
    QTimer::singleShot(0, dlg.get(), [&] { KeyAsUser(dlg.get(), Qt::Key_Escape); });
    dlg->exec();
    QCOMPARE(settings.Profile().GetString("FileData", "Name", ""), std::string("/d/x.epp"));
}

void WindowTest::enterOnAnotherButtonDoesNotExit() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
    auto* writeAll = Control<QPushButton>(dlg.get(), ids::kWriteAll);
    writeAll->setFocus();
    QTest::keyClick(writeAll, Qt::Key_Return);
    QVERIFY(dlg->isVisible());
}

void WindowTest::closeRequestDuringOperationStopsItThenCloses() {
    // A simulated chip with a state file: the window keeps what it did to
    // the chip, as the tool does, also when it closes during an operation.
    QTemporaryDir dir;
    const std::string state = dir.filePath(QStringLiteral("chip.txt")).toStdString();
    CTestSettings settings({{2, "sim:AT90S8535,state=" + state}});
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->Session().SimPorts().Sim()->Flash()[0] = 0x5A;
    dlg->m_bProgLoaded = 1;
    dlg->m_strProgFile = "/p/a.hex";
    dlg->show();

    bool stopAsked = false;
    bool visibleInside = false;
    dlg->RunOperation([&] {
        QVERIFY(dlg->IsOperationRunning());
        QMetaObject::invokeMethod(dlg.get(), "close", Qt::QueuedConnection);
        QMetaObject::invokeMethod(dlg.get(), "reject", Qt::QueuedConnection);
        QCoreApplication::postEvent(dlg.get(), new QCloseEvent);
        stopAsked = dlg->StopRequested();  // the first call of an operation processes events
        visibleInside = dlg->isVisible();
    });
    QVERIFY(stopAsked);
    QVERIFY2(visibleInside, "closed before the operation ended");
    QVERIFY(!dlg->IsOperationRunning());
    QVERIFY(!dlg->isVisible());
    // Closed the usual way: the exit routine saved the settings.
    QCOMPARE(settings.Profile().GetString("FileProg", "Name", ""), std::string("/p/a.hex"));
    QVERIFY(QFile::exists(QString::fromStdString(state)));
    CTestSettings again({{2, "sim:AT90S8535,state=" + state}});
    auto reopened = MakeWindow(again, chooser);
    QCOMPARE(reopened->Session().SimPorts().Sim()->Flash()[0], uint8_t(0x5A));
}

void WindowTest::aboutBox() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    QString title, version;
    bool hasIcon = false;
    QTimer::singleShot(0, dlg.get(), [&] {
        auto* about = dlg->findChild<CAboutDlg*>();
        QVERIFY(about != nullptr);
        title = about->windowTitle();
        version = about->findChild<QLabel*>("labelVersion")->text();
        hasIcon = !about->windowIcon().isNull();
        ClickAsUser(about->findChild<QPushButton*>("buttonOk"));
    });
    Item(MenuNamed(dlg.get(), "menuHelp"), ids::kAbout)->trigger();
    QCOMPARE(title, QStringLiteral("A propos de Brenwick"));
    QCOMPARE(version, QStringLiteral("Brenwick version 1.1"));
    QVERIFY(hasIcon);
    QVERIFY(!dlg->windowIcon().isNull());
    QCOMPARE(dlg->windowTitle(), QStringLiteral("Brenwick"));
}

void WindowTest::contextMenuOffersViewCommands() {
    CTestSettings settings;
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    dlg->show();
    auto offeredAt = [&](QWidget* target) {
        QStringList offered;
        QTimer::singleShot(0, dlg.get(), [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* a : menu->actions()) {
                    offered << a->text() + "=" + QString::number(a->data().toInt());
                }
                menu->close();
            }
        });
        const QPoint at = target->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
        QCoreApplication::sendEvent(target, &event);
        QCoreApplication::processEvents();
        return offered;
    };
    QCOMPARE(offeredAt(dlg->DataView()->viewport()),
             (QStringList{"Open File=32800", "Save File=32802", "Save As File=32803"}));
    QCOMPARE(offeredAt(dlg->ProgView()->viewport()),
             (QStringList{"Open File=32796", "Save File=32798", "Save As File=32799"}));
    QCOMPARE(offeredAt(Control<QPushButton>(dlg.get(), ids::kWriteAll)), QStringList());
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
