// The command buttons of the real window against a simulated adapter: each
// button reaches its operation, and what the operations change on screen
// (pane, progress bar, tick boxes, views, File menu) is what the user sees.
// The lines of every outcome are covered in depth by the operation tests;
// these check the window's side of them.
#include <QCheckBox>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <algorithm>

#include "app/CommandIds.h"
#include "app/HexTableView.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/app/AppTestSupport.h"

namespace {

constexpr int kAT90S2323 = 2323;  // 2048 program bytes, 128 data bytes
constexpr int kProgSize2323 = 2048;
constexpr int kDataSize2323 = 128;
constexpr int kProgramWordColumn = 1;  // first word of a program view row

const char* const kSim2323 = "sim:AT90S2323";

// The window on a virtual counter, COM2 leading to a simulated AT90S2323
// (with the faults the port name adds).
struct Bench {
    explicit Bench(const std::string& com2 = kSim2323) : settings({{2, com2}}) {
        settings.Profile().WriteInt("Device", "Type", kAT90S2323);
        dlg = MakeWindow(settings, chooser, &counter);
    }

    CSimPort& Sim() { return *dlg->Session().SimPorts().Sim(); }
    QPushButton* Button(int id) { return Control<QPushButton>(dlg.get(), id); }
    QCheckBox* Tick(int id) { return Control<QCheckBox>(dlg.get(), id); }
    QProgressBar* Progress() { return Control<QProgressBar>(dlg.get(), ids::kProgress); }
    // What the pane gained since `from`.
    std::string PaneSince(size_t from) const { return dlg->m_strMessages.substr(from); }

    // A click as the user makes it, through the window system's path: the
    // whole operation runs inside it.
    std::string Click(int id) {
        const size_t before = dlg->m_strMessages.size();
        ClickAsUser(Button(id));
        return PaneSince(before);
    }

    CTestSettings settings;
    CScriptedChooser chooser;
    CVirtualCounter counter;
    std::unique_ptr<CProgrammerDlg> dlg;
};

bool AllBytes(const std::vector<uint8_t>& image, uint8_t value) {
    return std::all_of(image.begin(), image.end(), [value](uint8_t b) { return b == value; });
}

}  // namespace

class OperationsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void eachButtonRunsItsOperation_data();
    void eachButtonRunsItsOperation();
    void readProgFillsViewSetsFlagAndEnablesSave();
    void readLockTicksBoxesOnScreen();
    void writeLockTakesTickSetJustBefore();
    void eraseProgBlanksProgramViewKeepsData();
    void failedEntryLeavesImageViewAndFlag();
    void closeDuringButtonOperationStopsItThenCloses();
    void stopAndEscapeStopTheOperation();
    void buttonAccessKeyWinsOverMenuBar();
    void windowStaysUsableAfterFault_data();
    void windowStaysUsableAfterFault();
    void simPortOnSteadyClockThroughPortsSection();
};

void OperationsWindowTest::eachButtonRunsItsOperation_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("lines");
    const QString writeProg = "Writing PROG to device ...\r\n Writing : Complete\r\n";
    const QString writeData = "Writing Data to device ...\r\n Writing Data: Complete\r\n";
    const QString writeLock = "Writing device LockBit ...\r\n Write LockBit Complete\r\n";
    const QString readProg = "Reading PROG device ...\r\n Reading : Complete\r\n";
    const QString readData = "Reading DATA device ...\r\n Reading : Complete\r\n";
    const QString readLock = "Reading device LockBit ...\r\n Read LockBit Complete\r\n";
    const QString verifyProg = "Verifing PROG device ...\r\n Verify : Complete\r\n";
    const QString verifyData = "Verifing device DATA ...\r\n Verify : Complete\r\n";
    const QString verifyLock = "Verifing device LockBit ...\r\n Verify : Complete\r\n";
    QTest::newRow("Write All") << ids::kWriteAll << "&Write All"
                               << writeProg + writeData + writeLock;
    QTest::newRow("Write Prog") << ids::kWriteProg << "Write &Prog" << writeProg;
    QTest::newRow("Write Data") << ids::kWriteData << "Write &Data" << writeData;
    QTest::newRow("Write Lock") << ids::kWriteLock << "Write &Lock" << writeLock;
    QTest::newRow("Read All") << ids::kReadAll << "&Read All" << readProg + readData + readLock;
    QTest::newRow("Read Prog") << ids::kReadProg << "Read Prog" << readProg;
    QTest::newRow("Read Data") << ids::kReadData << "Read Data" << readData;
    QTest::newRow("Read Lock") << ids::kReadLock << "Read Lock" << readLock;
    QTest::newRow("Verify All") << ids::kVerifyAll << "&Verify All"
                                << verifyProg + verifyData + verifyLock;
    QTest::newRow("Verify Prog") << ids::kVerifyProg << "Verify Prog" << verifyProg;
    QTest::newRow("Verify Data") << ids::kVerifyData << "Verify Data" << verifyData;
    QTest::newRow("Verify Lock") << ids::kVerifyLock << "Verify Lock" << verifyLock;
    QTest::newRow("Erase All") << ids::kEraseAll << "&Erase All"
                               << QStringLiteral("Erasing ...\r\n Erase : Complete\r\n");
    QTest::newRow("Erase Prog") << ids::kEraseProg << "Erase Prog"
                                << QStringLiteral(
                                       "Erasing PROG device ...\r\n Erase : Complete\r\n");
    QTest::newRow("Erase Data") << ids::kEraseData << "Erase Data"
                                << QStringLiteral(
                                       "Erasing device Data ...\r\n Erase : Complete\r\n");
}

void OperationsWindowTest::eachButtonRunsItsOperation() {
    QFETCH(int, id);
    QFETCH(QString, caption);
    QFETCH(QString, lines);
    Bench bench;  // a fresh chip and erased images: every verify agrees
    bench.dlg->show();
    QCOMPARE(bench.Button(id)->text(), caption);

    QCOMPARE(QString::fromStdString(bench.Click(id)), lines);

    // The last line is in view and the target is released.
    QScrollBar* bar = Control<QPlainTextEdit>(bench.dlg.get(), ids::kMessages)->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(!bench.Sim().InProgrammingMode());
    QVERIFY(!bench.Sim().Break());
    QCOMPARE(bench.Sim().Counters().writesOutsideProgrammingMode, uint64_t(0));
    QVERIFY(!bench.dlg->IsOperationRunning());
}

void OperationsWindowTest::readProgFillsViewSetsFlagAndEnablesSave() {
    Bench bench;
    bench.Sim().Flash()[0] = 0x0C;
    bench.Sim().Flash()[1] = 0x94;
    bench.Sim().Flash()[kProgSize2323 - 1] = 0x12;
    QMenu* file = MenuNamed(bench.dlg.get(), "menuFile");
    ShowMenu(file);
    QVERIFY(!Item(file, ids::kSaveProgFile)->isEnabled());

    bench.Click(ids::kReadProg);

    QCOMPARE(bench.dlg->m_bProgLoaded, 1);
    QCOMPARE(bench.dlg->m_bDataLoaded, 0);
    QCOMPARE(bench.dlg->Session().Images().m_progImage, bench.Sim().Flash());
    CHexViewModel* view = bench.dlg->ProgView()->Model();
    QCOMPARE(view->CellText(0, kProgramWordColumn), QStringLiteral("940c"));
    QCOMPARE(view->CellText(view->rowCount() - 1, CHexViewModel::kCellColumns),
             QStringLiteral("12ff"));
    // The bar stands at the last word of the range.
    QCOMPARE(bench.Progress()->maximum(), kProgSize2323);
    QCOMPARE(bench.Progress()->value(), kProgSize2323 - 2);

    ShowMenu(file);
    for (int id : {ids::kSaveProgFile, ids::kSaveAsProgFile, ids::kFileClose, ids::kFileSave,
                   ids::kFileSaveAs}) {
        QVERIFY(Item(file, id)->isEnabled());
    }
    QVERIFY(!Item(file, ids::kSaveDataFile)->isEnabled());
    QVERIFY(!Item(file, ids::kSaveAsDataFile)->isEnabled());

    // Read Data: the bar ends at the last byte.
    bench.Click(ids::kReadData);
    QCOMPARE(bench.dlg->m_bDataLoaded, 1);
    QCOMPARE(bench.Progress()->maximum(), kDataSize2323);
    QCOMPARE(bench.Progress()->value(), kDataSize2323 - 1);
    ShowMenu(file);
    QVERIFY(Item(file, ids::kSaveDataFile)->isEnabled());
}

void OperationsWindowTest::readLockTicksBoxesOnScreen() {
    Bench bench;
    bench.dlg->show();
    // A tick the user set is replaced by what the chip says.
    ClickAsUser(bench.Tick(ids::kFstrt));

    bench.Click(ids::kReadLock);  // a fresh chip: nothing programmed but SPIEN
    QVERIFY(!bench.Tick(ids::kLockBit1)->isChecked());
    QVERIFY(!bench.Tick(ids::kLockBit2)->isChecked());
    QVERIFY(!bench.Tick(ids::kFstrt)->isChecked());
    QVERIFY(bench.Tick(ids::kSpien)->isChecked());
    QVERIFY(!bench.Tick(ids::kSpien)->isEnabled());

    bench.Sim().SetLockBits(0, 1, 0);
    bench.Click(ids::kReadLock);
    QVERIFY(bench.Tick(ids::kLockBit1)->isChecked());
    QVERIFY(!bench.Tick(ids::kLockBit2)->isChecked());
    QVERIFY(bench.Tick(ids::kFstrt)->isChecked());
    QVERIFY(bench.Tick(ids::kSpien)->isChecked());
}

void OperationsWindowTest::writeLockTakesTickSetJustBefore() {
    Bench bench;
    bench.dlg->show();
    constexpr uint8_t kLockBit1Mask = 0x80;
    constexpr uint8_t kLockBit2Mask = 0x40;
    constexpr uint8_t kFstrtMask = 0x01;
    ClickAsUser(bench.Tick(ids::kLockBit2));
    QCOMPARE(bench.dlg->m_ticks.m_bLockBit2, 0);  // not taken yet

    QCOMPARE(bench.Click(ids::kWriteLock),
             std::string("Writing device LockBit ...\r\n Write LockBit Complete\r\n"));

    const uint8_t lock = bench.Sim().LockByte();
    QCOMPARE(lock & kLockBit2Mask, 0);  // programmed
    QCOMPARE(lock & kLockBit1Mask, int(kLockBit1Mask));
    QCOMPARE(lock & kFstrtMask, int(kFstrtMask));
    QCOMPARE(bench.dlg->m_ticks.m_bLockBit2, 1);
    QVERIFY(bench.Tick(ids::kLockBit2)->isChecked());  // still shown after the operation

    // Verify Lock agrees with the box the user set.
    QCOMPARE(bench.Click(ids::kVerifyLock),
             std::string("Verifing device LockBit ...\r\n Verify : Complete\r\n"));
}

void OperationsWindowTest::eraseProgBlanksProgramViewKeepsData() {
    Bench bench;
    std::vector<uint8_t>& prog = bench.dlg->Session().Images().m_progImage;
    std::vector<uint8_t>& data = bench.dlg->Session().Images().m_dataImage;
    for (size_t i = 0; i < prog.size(); ++i) {
        prog[i] = static_cast<uint8_t>(i * 7);
    }
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i + 1);
    }
    bench.Click(ids::kWriteAll);
    bench.dlg->RefreshProgView();
    bench.dlg->RefreshDataView();
    const std::vector<uint8_t> dataBefore = data;
    const QString dataCell = bench.dlg->DataView()->Model()->CellText(0, 1);
    QCOMPARE(dataCell, QStringLiteral("01"));
    bench.Progress()->setValue(0);

    QCOMPARE(bench.Click(ids::kEraseProg),
             std::string("Erasing PROG device ...\r\n Erase : Complete\r\n"));

    QVERIFY(AllBytes(prog, 0xFF));
    QCOMPARE(bench.dlg->ProgView()->Model()->CellText(0, kProgramWordColumn),
             QStringLiteral("ffff"));
    QCOMPARE(data, dataBefore);
    QCOMPARE(bench.dlg->DataView()->Model()->CellText(0, 1), dataCell);
    // On the chip: program memory erased, data memory written back.
    QVERIFY(AllBytes(bench.Sim().Flash(), 0xFF));
    QCOMPARE(bench.Sim().Eeprom(), dataBefore);
    QCOMPARE(bench.Progress()->value(), kDataSize2323 - 1);  // the restore's last byte
}

void OperationsWindowTest::failedEntryLeavesImageViewAndFlag() {
    Bench bench("sim:AT90S2323,no-adapter");
    bench.dlg->Session().Images().m_dataImage[0] = 0x5A;
    bench.dlg->RefreshDataView();
    bench.Progress()->setRange(0, 10);
    bench.Progress()->setValue(3);

    QCOMPARE(bench.Click(ids::kReadData),
             std::string("Reading DATA device ...\r\n Read : Initialisation Error\r\n"));

    QCOMPARE(bench.dlg->Session().Images().m_dataImage[0], uint8_t(0x5A));
    QCOMPARE(bench.dlg->DataView()->Model()->CellText(0, 1), QStringLiteral("5A"));
    QCOMPARE(bench.dlg->m_bDataLoaded, 0);
    QCOMPARE(bench.Progress()->value(), 0);  // each operation starts its bar afresh
}

void OperationsWindowTest::closeDuringButtonOperationStopsItThenCloses() {
    Bench bench;
    bench.dlg->m_bProgLoaded = 1;
    bench.dlg->m_strProgFile = "/p/a.hex";
    bench.dlg->show();

    // Queued now, delivered by the operation's first pause between words.
    QCoreApplication::postEvent(bench.dlg.get(), new QCloseEvent);
    const std::string lines = bench.Click(ids::kReadProg);

    QCOMPARE(lines, std::string("Reading PROG device ...\r\n Read : Stopped at address 0000.\r\n"));
    QVERIFY(!bench.dlg->isVisible());
    QCOMPARE(bench.settings.Profile().GetString("FileProg", "Name", ""), std::string("/p/a.hex"));
    QVERIFY(!bench.Sim().Break());
    QVERIFY(!bench.Sim().InProgrammingMode());
}

// While an operation runs, Stop (the button beside the progress bar, or
// Esc) is the one thing that answers: the operation says where it stopped,
// RESET is released, the other buttons start nothing, and afterwards the
// window works as before.
void OperationsWindowTest::stopAndEscapeStopTheOperation() {
    for (const bool escape : {false, true}) {
        Bench bench;
        bench.dlg->show();
        auto* stop = Control<QPushButton>(bench.dlg.get(), ids::kStop);
        QVERIFY(!stop->isVisible());
        bool stopShown = false;
        QTimer::singleShot(0, bench.dlg.get(), [&] {
            stopShown = stop->isVisible();
            ClickAsUser(bench.Button(ids::kReadAll));  // held back
            if (escape) {
                KeyAsUser(bench.dlg.get(), Qt::Key_Escape);
            } else {
                ClickAsUser(stop);
            }
        });
        const std::string lines = bench.Click(ids::kWriteAll);

        QVERIFY(stopShown);
        QCOMPARE(lines, std::string(
                            "Writing PROG to device ...\r\n Write : Stopped at address 0000.\r\n"));
        QVERIFY(!stop->isVisible());
        QVERIFY(stop->toolTip().contains(QStringLiteral("Esc")));
        QVERIFY2(bench.dlg->isVisible(), "Esc closed the window");
        QVERIFY(!bench.Sim().Break());
        QCOMPARE(bench.Click(ids::kReadLock),
                 std::string("Reading device LockBit ...\r\n Read LockBit Complete\r\n"));
    }
}

// "Write &Data" and the "&Device" menu share Alt+D: the button is pressed,
// at the first stroke, whichever control has the focus.
void OperationsWindowTest::buttonAccessKeyWinsOverMenuBar() {
    Bench bench;
    bench.dlg->show();
    QVERIFY(QTest::qWaitForWindowActive(bench.dlg.get()));
    Control<QPlainTextEdit>(bench.dlg.get(), ids::kMessages)->setFocus();
    const size_t before = bench.dlg->m_strMessages.size();
    KeyAsUser(bench.dlg.get(), Qt::Key_D, Qt::AltModifier);
    QVERIFY(bench.PaneSince(before).rfind("Writing Data to device ...\r\n", 0) == 0);
    auto* menuBar = bench.dlg->findChild<QMenuBar*>();
    QVERIFY(menuBar != nullptr);
    QCOMPARE(menuBar->activeAction(), nullptr);
}

void OperationsWindowTest::windowStaysUsableAfterFault_data() {
    QTest::addColumn<QString>("com2");
    QTest::addColumn<int>("faulty");
    QTest::addColumn<QString>("faultLines");
    QTest::newRow("flash byte that never takes a write")
        << "sim:AT90S2323,stuck-flash=0x10" << ids::kWriteProg
        << "Writing PROG to device ...\r\n Write : Error at address 0010.\r\n";
    QTest::newRow("adapter without a chip")
        << "sim:AT90S2323,no-target" << ids::kReadProg
        << "Reading PROG device ...\r\n Read : Initialisation Error\r\n";
    QTest::newRow("failing chip erase")
        << "sim:AT90S2323,erase-fails" << ids::kEraseAll << "Erasing ...\r\n Erase : Error\r\n";
}

void OperationsWindowTest::windowStaysUsableAfterFault() {
    QFETCH(QString, com2);
    QFETCH(int, faulty);
    QFETCH(QString, faultLines);
    Bench bench(com2.toStdString());
    bench.dlg->Session().Images().m_progImage[0x10] = 0x00;  // a byte the stuck cell refuses
    bench.dlg->show();

    QCOMPARE(QString::fromStdString(bench.Click(faulty)), faultLines);
    QVERIFY(!bench.dlg->IsOperationRunning());
    QVERIFY(!bench.Sim().InProgrammingMode());
    QVERIFY(!bench.Sim().Break());

    // The next operation runs and reports as usual.
    const std::string next = bench.Click(ids::kReadLock);
    QVERIFY(QByteArray::fromStdString(next).startsWith("Reading device LockBit ...\r\n"));
    QCOMPARE(std::count(next.begin(), next.end(), '\n'), 2);
    QVERIFY(!bench.Sim().InProgrammingMode());

    // And the window still closes normally.
    bench.dlg->close();
    QVERIFY(!bench.dlg->isVisible());
}

// The production window on the steady clock, its COM2 mapped by [Ports] to a
// simulated AT90S1200: start-up and one read in real time.
void OperationsWindowTest::simPortOnSteadyClockThroughPortsSection() {
    CTestSettings settings({{2, "sim:AT90S1200"}});
    settings.Profile().WriteInt("Device", "Type", 1200);
    CScriptedChooser chooser;
    auto dlg = MakeWindow(settings, chooser);
    QCOMPARE(dlg->m_strMessages, std::string("Select device : AT90S1200\r\n"));
    QVERIFY(dlg->Session().SimPorts().Sim() != nullptr);
    dlg->Session().SimPorts().Sim()->Flash()[3] = 0xA5;

    const size_t before = dlg->m_strMessages.size();
    Control<QPushButton>(dlg.get(), ids::kReadProg)->click();

    QCOMPARE(dlg->m_strMessages.substr(before),
             std::string("Reading PROG device ...\r\n Reading : Complete\r\n"));
    QCOMPARE(dlg->Session().Images().m_progImage.size(), size_t(1024));
    QCOMPARE(dlg->Session().Images().m_progImage[3], uint8_t(0xA5));
    QCOMPARE(dlg->m_bProgLoaded, 1);
}

QTEST_MAIN(OperationsWindowTest)
#include "OperationsWindowTest.moc"
