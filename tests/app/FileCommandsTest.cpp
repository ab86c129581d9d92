// The File menu's commands and the views' context menu through the real
// window, with the chooser answered from a script: which files are read and
// written, what the pane says, which folders and recent names reach the
// settings file, and what a failed save leaves behind.
#include <sys/resource.h>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <csignal>

#include "app/CommandIds.h"
#include "app/HexTableView.h"
#include "image/IntelHex.h"
#include "sim/VirtualCounter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/AvrElfFixture.h"

namespace {

constexpr int kProgramWordColumn = 1;
constexpr int kDataByteColumn = 1;
constexpr int kFilledPaneLines = 60;

// :0400000001020304f2 stores 01 02 03 04 at bytes 0 to 3.
const QByteArray kProgRecord = ":0400000001020304F2\r\n";
const QByteArray kDataRecord = ":02000000AB55FE\r\n";  // AB 55 at bytes 0 and 1
const QByteArray kBadChecksum = ":0400000001020304F3\r\n:0100100077\r\n";

std::string Std(const QString& s) {
    return s.toStdString();
}

QString Opened(const QString& path) {
    return "File " + path + " Opened\r\n";
}

// The window with a temporary folder for its files.
struct Files {
    Files() { dlg = MakeWindow(settings, chooser, &counter); }

    QString Path(const QString& name) const { return dir.filePath(name); }
    QString Make(const QString& name, const QByteArray& bytes) {
        const QString path = Path(name);
        QDir().mkpath(QFileInfo(path).path());
        if (!WriteBytes(path, bytes)) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }
    QString Pane() const { return QString::fromStdString(dlg->m_strMessages); }
    QString PaneSince(int from) const { return Pane().mid(from); }
    void Command(int id) { dlg->OnCommand(id); }
    // Closes the window as the user does, which runs the exit routine.
    void Exit() {
        dlg->show();
        dlg->close();
        QVERIFY(!dlg->isVisible());
    }
    std::string Setting(const char* section, const char* entry = "Name") {
        return settings.Profile().GetString(section, entry, "<none>");
    }
    QString ProgCell(int row = 0) const {
        return dlg->ProgView()->Model()->CellText(row, kProgramWordColumn);
    }
    QString DataCell(int row = 0) const {
        return dlg->DataView()->Model()->CellText(row, kDataByteColumn);
    }
    QScrollBar* PaneBar() const {
        return Control<QPlainTextEdit>(dlg.get(), ids::kMessages)->verticalScrollBar();
    }
    // A pane long enough to scroll, shown from its first line.
    void FillPane() {
        dlg->show();
        for (int i = 0; i < kFilledPaneLines; ++i) {
            dlg->AddMessage("line\r\n");
        }
        dlg->ShowOnScreen();
    }

    QTemporaryDir dir;
    CTestSettings settings;
    CScriptedChooser chooser;
    CVirtualCounter counter;
    std::unique_ptr<CProgrammerDlg> dlg;
};

// Runs the command chosen from the context menu a view offers at its centre.
void ChooseFromContextMenu(CProgrammerDlg& dlg, QWidget* target, const QString& caption) {
    QTimer::singleShot(0, &dlg, [caption] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions()) {
                if (a->text() == caption) {
                    a->trigger();
                }
            }
            menu->close();
        }
    });
    const QPoint at = target->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
    QCoreApplication::sendEvent(target, &event);
    QCoreApplication::processEvents();
}

// A process limit on the size of files this process writes, undone when it
// goes out of scope; writing past it fails with EFBIG instead of a signal.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        signal(SIGXFSZ, m_oldHandler);
    }
    bool Ok() const { return m_ok; }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};

}  // namespace

class FileCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void openReadsProgramAndDerivedDataFile();
    void openDerivesDataFileName_data();
    void openDerivesDataFileName();
    void openCancelledOrMissingFile();
    void readerLinesThroughWindow_data();
    void readerLinesThroughWindow();
    void unreadableFileChangesNothing_data();
    void unreadableFileChangesNothing();
    void recentEntriesReadWithoutChooser();
    void recentNamesRotateAtExit();
    void closeCommand();
    void saveAfterDeviceReadWithoutName();
    void saveAndSaveAsBothSides();
    void failedSaveKeepsOldFileAndSettings();
    void contextMenuRunsViewCommands();
    void saveChooserGivesTypedNameHexExtension();
    void elfAndBinaryFiles();
};

void FileCommandsTest::openReadsProgramAndDerivedDataFile() {
    Files f;
    f.settings.Profile().WriteString("PathProg", "Name", "/stored/prog");
    f.dlg = MakeWindow(f.settings, f.chooser, &f.counter);  // reads the stored folder
    const QString prog = f.Make("p/a.hex", kProgRecord);
    const QString data = f.Make("p/a.epp", kDataRecord);
    f.chooser.m_strAnswer = prog;
    const int before = f.Pane().size();

    f.Command(ids::kFileOpen);

    QCOMPARE(f.chooser.m_nOpenCalls, 1);
    QCOMPARE(f.chooser.m_lastSetup.title, QStringLiteral("Select the intel hex file to open."));
    QCOMPARE(f.chooser.m_lastSetup.filter,
             QStringLiteral("Hex file (*.hex;*.a90)|*.hex;*.a90|ELF file (*.elf)|*.elf|"
                            "Binary file (*.bin)|*.bin||"));
    QCOMPARE(QtFilterFromClassic(f.chooser.m_lastSetup.filter),
             QStringLiteral("Hex file (*.hex *.a90);;ELF file (*.elf);;Binary file (*.bin)"));
    QCOMPARE(f.chooser.m_lastSetup.defaultExtension, QStringLiteral(".hex"));
    QCOMPARE(f.chooser.m_lastSetup.initialFolder, QStringLiteral("/stored/prog"));

    QCOMPARE(f.PaneSince(before), Opened(prog) + Opened(data));
    QCOMPARE(f.dlg->m_strProgFile, Std(prog));
    QCOMPARE(f.dlg->m_strDataFile, Std(data));
    QCOMPARE(f.dlg->m_bProgLoaded, 1);
    QCOMPARE(f.dlg->m_bDataLoaded, 1);
    QCOMPARE(f.ProgCell(), QStringLiteral("0201"));
    QCOMPARE(f.DataCell(), QStringLiteral("AB"));
    QCOMPARE(f.dlg->Session().Images().m_progImage.size(), size_t(8192));
    QCOMPARE(f.dlg->Session().Images().m_progImage[4], uint8_t(0xFF));
    QCOMPARE(f.Setting("PathProg"), Std(f.Path("p")));
    QCOMPARE(f.Setting("PathData"), Std(f.Path("p")));
    QCOMPARE(f.dlg->m_strProgPath, Std(f.Path("p")));

    // The next chooser starts in the folder just remembered.
    f.chooser.m_strAnswer.clear();
    f.Command(ids::kOpenProgFile);
    QCOMPARE(f.chooser.m_lastSetup.initialFolder, f.Path("p"));
}

void FileCommandsTest::openDerivesDataFileName_data() {
    QTest::addColumn<QString>("prog");
    QTest::addColumn<QString>("data");  // empty: no data file is read
    QTest::newRow("a.hex") << "p/a.hex"
                           << "p/a.epp";
    QTest::newRow("folder with .hex") << "x.hex/a.hex"
                                      << "x.epp/a.epp";
    QTest::newRow("a90") << "p/b.a90"
                         << "p/b.epp";
    QTest::newRow(".hex before .a90") << "p/d.hex.a90"
                                      << "p/d.epp.a90";
    QTest::newRow("upper case") << "p/A.HEX" << QString();
    QTest::newRow("no extension") << "p/c.bin" << QString();
}

void FileCommandsTest::openDerivesDataFileName() {
    QFETCH(QString, prog);
    QFETCH(QString, data);
    Files f;
    const QString progPath = f.Make(prog, kProgRecord);
    // Every data file the name could be mistaken for exists.
    for (const char* name : {"p/a.epp", "x.epp/a.epp", "p/b.epp", "p/d.epp.a90", "p/A.epp",
                             "p/A.EPP", "p/c.epp", "p/c.bin.epp"}) {
        f.Make(QString::fromLatin1(name), kDataRecord);
    }
    f.dlg->m_strDataFile = "/earlier/data.epp";
    f.chooser.m_strAnswer = progPath;
    const int before = f.Pane().size();

    f.Command(ids::kFileOpen);

    QCOMPARE(f.Setting("PathProg"), Std(QFileInfo(progPath).path()));
    if (data.isEmpty()) {
        QCOMPARE(f.PaneSince(before), Opened(progPath));
        QCOMPARE(f.dlg->m_strDataFile, std::string("/earlier/data.epp"));
        QCOMPARE(f.dlg->m_bDataLoaded, 0);
        QCOMPARE(f.Setting("PathData"), std::string("<none>"));
    } else {
        const QString dataPath = f.Path(data);
        QCOMPARE(f.PaneSince(before), Opened(progPath) + Opened(dataPath));
        QCOMPARE(f.dlg->m_strDataFile, Std(dataPath));
        QCOMPARE(f.dlg->m_bDataLoaded, 1);
        QCOMPARE(f.Setting("PathData"), Std(QFileInfo(dataPath).path()));
    }
}

void FileCommandsTest::openCancelledOrMissingFile() {
    Files f;
    f.FillPane();
    const QByteArray settingsBefore = f.settings.Text();
    const QString paneBefore = f.Pane();

    f.Command(ids::kFileOpen);  // cancelled
    QCOMPARE(f.chooser.m_nOpenCalls, 1);
    QCOMPARE(f.Pane(), paneBefore);
    QCOMPARE(f.settings.Text(), settingsBefore);
    QCOMPARE(f.PaneBar()->value(), f.PaneBar()->maximum());  // scrolled all the same

    // A name that does not exist: nothing read, but both folders remembered.
    f.dlg->Session().Images().m_progImage[0] = 0x42;
    f.chooser.m_strAnswer = f.Path("q/gone.hex");
    f.Command(ids::kFileOpen);
    QCOMPARE(f.Pane(), paneBefore);
    QCOMPARE(f.dlg->Session().Images().m_progImage[0], uint8_t(0x42));
    QCOMPARE(f.dlg->m_bProgLoaded, 0);
    QCOMPARE(f.dlg->m_bDataLoaded, 0);
    QCOMPARE(f.dlg->m_strDataFile, Std(f.Path("q/gone.epp")));
    QCOMPARE(f.Setting("PathProg"), Std(f.Path("q")));
    QCOMPARE(f.Setting("PathData"), Std(f.Path("q")));
}

// Read through the recent entries; whatever the reader posts, the pane shows
// its newest line. The view shows what
// was read before the error: the cell at (row, column) and nothing after.
void FileCommandsTest::readerLinesThroughWindow_data() {
    QTest::addColumn<bool>("prog");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("cell");
    const QString checksum = QStringLiteral(" File Checksum Error.\r\n");
    QTest::newRow("prog checksum") << true << kBadChecksum << checksum << 0 << 1 << "0201";
    QTest::newRow("prog address") << true << QByteArray("000000:1234\r\n001000:ffff\r\n")
                                  << QStringLiteral(" File Prog Address Error.\r\n") << 0 << 1
                                  << "1234";
    QTest::newRow("data checksum") << false << kBadChecksum << checksum << 0 << 1 << "01";
    QTest::newRow("data address") << false << QByteArray(":0101FF0001FE\r\n:0102000010ED\r\n")
                                  << QStringLiteral(" File Data Address Error.\r\n") << 63 << 8
                                  << "01";
    QTest::newRow("records after the end record")
        << true << QByteArray(":00000001FF\r\n" + kProgRecord) << QString() << 0 << 1 << "ffff";
}

void FileCommandsTest::readerLinesThroughWindow() {
    QFETCH(bool, prog);
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, cell);
    Files f;
    const QString path = f.Make("r/file.hex", text);
    f.settings.Profile().WriteString(prog ? "FileProg" : "FileData", "Name", Std(path));
    f.dlg = MakeWindow(f.settings, f.chooser, &f.counter);
    f.FillPane();
    const int before = f.Pane().size();

    f.Command(prog ? ids::kRecentProg1 : ids::kRecentData1);

    QCOMPARE(f.PaneSince(before), Opened(path) + error);
    QCOMPARE(prog ? f.dlg->m_bProgLoaded : f.dlg->m_bDataLoaded, 1);
    QCOMPARE(f.PaneBar()->value(), f.PaneBar()->maximum());
    CHexTableView* view = prog ? f.dlg->ProgView() : f.dlg->DataView();
    QCOMPARE(view->Model()->CellText(row, column), cell);
    // The checksum error stops the reading: the record after it is not stored.
    QCOMPARE(f.dlg->Session().Images().m_progImage[0x10], uint8_t(0xFF));
    QCOMPARE(f.chooser.m_nOpenCalls, 0);
}

void FileCommandsTest::unreadableFileChangesNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("folder") << "sub";
    QTest::newRow("vanished") << "gone.hex";
}

void FileCommandsTest::unreadableFileChangesNothing() {
    QFETCH(QString, name);
    Files f;
    QDir().mkpath(f.Path("sub"));
    f.settings.Profile().WriteString("FileProg", "Name", Std(f.Path(name)));
    f.dlg = MakeWindow(f.settings, f.chooser, &f.counter);
    f.dlg->Session().Images().m_progImage[0] = 0x34;
    f.dlg->Session().Images().m_progImage[1] = 0x12;
    f.dlg->RefreshProgView();
    const std::string pane = f.dlg->m_strMessages;

    f.Command(ids::kRecentProg1);

    QCOMPARE(f.dlg->m_strMessages, pane);
    QCOMPARE(f.dlg->m_bProgLoaded, 0);
    QCOMPARE(f.dlg->Session().Images().m_progImage[0], uint8_t(0x34));
    QCOMPARE(f.ProgCell(), QStringLiteral("1234"));
}

void FileCommandsTest::recentEntriesReadWithoutChooser() {
    Files f;
    const QString first = f.Make("r/first.hex", kProgRecord);
    const QString second = f.Make("r/second.epp", kDataRecord);
    f.settings.Profile().WriteString("FileProg", "Name", Std(first));
    f.settings.Profile().WriteString("FileData", "Name2", Std(second));
    f.dlg = MakeWindow(f.settings, f.chooser, &f.counter);
    const QByteArray settingsBefore = f.settings.Text();

    // The entries as the menu offers them.
    Item(MenuNamed(f.dlg.get(), "menuRecentProg"), ids::kRecentProg1)->trigger();
    QMenu* recentData = MenuNamed(f.dlg.get(), "menuRecentData");
    Item(recentData, ids::kRecentDataBlank)->trigger();  // the blank entry does nothing
    QCOMPARE(f.dlg->m_bDataLoaded, 0);
    Item(recentData, ids::kRecentData2)->trigger();

    QCOMPARE(f.dlg->m_strProgFile, Std(first));
    QCOMPARE(f.dlg->m_strDataFile, Std(second));
    QCOMPARE(f.ProgCell(), QStringLiteral("0201"));
    QCOMPARE(f.DataCell(), QStringLiteral("AB"));
    QCOMPARE(f.chooser.m_nOpenCalls, 0);
    QCOMPARE(f.settings.Text(), settingsBefore);  // no folder remembered
}

void FileCommandsTest::recentNamesRotateAtExit() {
    for (const bool reopenStored : {false, true}) {
        Files f;
        const QString x = f.Make("x.hex", kProgRecord);
        const QString y = f.Make("y.hex", kProgRecord);
        f.settings.Profile().WriteString("FileProg", "Name", Std(x));
        f.settings.Profile().WriteString("FileProg", "Name2", "/w/older.hex");
        f.dlg = MakeWindow(f.settings, f.chooser, &f.counter);
        f.chooser.m_strAnswer = reopenStored ? x : y;
        f.Command(ids::kOpenProgFile);
        // A later SaveRecentFiles of the same run still rotates from the
        // names read at start-up.
        f.Command(ids::kFileClose);
        f.Command(ids::kOpenProgFile);

        f.Exit();

        if (reopenStored) {
            QCOMPARE(f.Setting("FileProg", "Name"), Std(x));
            QCOMPARE(f.Setting("FileProg", "Name2"), std::string("/w/older.hex"));
        } else {
            QCOMPARE(f.Setting("FileProg", "Name"), Std(y));
            QCOMPARE(f.Setting("FileProg", "Name2"), Std(x));
        }
        QCOMPARE(f.Setting("FileData", "Name"), std::string("<none>"));
    }
}

void FileCommandsTest::closeCommand() {
    Files f;
    QMenu* file = MenuNamed(f.dlg.get(), "menuFile");
    ShowMenu(file);
    QVERIFY(!Item(file, ids::kFileClose)->isEnabled());
    const QByteArray settingsBefore = f.settings.Text();
    f.Command(ids::kFileClose);
    QCOMPARE(f.settings.Text(), settingsBefore);  // nothing to remember

    const QString prog = f.Make("c/a.hex", kProgRecord);
    f.Make("c/a.epp", kDataRecord);
    f.chooser.m_strAnswer = prog;
    f.Command(ids::kFileOpen);
    f.dlg->Ticks().m_bLockBit1 = 1;
    const std::string pane = f.dlg->m_strMessages;
    ShowMenu(file);
    QVERIFY(Item(file, ids::kFileClose)->isEnabled());

    f.Command(ids::kFileClose);

    QCOMPARE(f.Setting("FileProg"), Std(prog));
    QCOMPARE(f.Setting("FileData"), Std(f.Path("c/a.epp")));
    QCOMPARE(f.dlg->m_bProgLoaded, 0);
    QCOMPARE(f.dlg->m_bDataLoaded, 0);
    QCOMPARE(f.dlg->ProgView()->Model()->rowCount(), 0);
    QCOMPARE(f.dlg->DataView()->Model()->rowCount(), 0);
    QVERIFY(std::all_of(f.dlg->Session().Images().m_progImage.begin(),
                        f.dlg->Session().Images().m_progImage.end(),
                        [](uint8_t b) { return b == 0xFF; }));
    QCOMPARE(f.dlg->Session().Images().m_dataImage[0], uint8_t(0xFF));
    QCOMPARE(f.dlg->Session().Images().m_progImage.size(), size_t(8192));
    // Names, pane and ticks stay.
    QCOMPARE(f.dlg->m_strProgFile, Std(prog));
    QCOMPARE(f.dlg->m_strMessages, pane);
    QCOMPARE(f.dlg->Ticks().m_bLockBit1, 1);
    ShowMenu(file);
    QVERIFY(!Item(file, ids::kFileClose)->isEnabled());
    QVERIFY(!Item(file, ids::kSaveProgFile)->isEnabled());
}

void FileCommandsTest::saveAfterDeviceReadWithoutName() {
    Files f;
    f.dlg->Session().SimPorts().Sim()->Flash()[0] = 0x0C;
    f.dlg->Session().SimPorts().Sim()->Flash()[1] = 0x94;
    f.dlg->OnCommand(ids::kReadProg);
    QCOMPARE(f.dlg->m_bProgLoaded, 1);
    const std::string pane = f.dlg->m_strMessages;

    f.Command(ids::kSaveProgFile);  // no name yet: nothing written, nothing posted
    QCOMPARE(f.dlg->m_strMessages, pane);
    QCOMPARE(f.chooser.m_nSaveCalls, 0);
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());

    const QString target = f.Path("saved.hex");
    f.chooser.m_strAnswer = target;
    f.Command(ids::kSaveAsProgFile);

    QCOMPARE(f.chooser.m_nSaveCalls, 1);
    QCOMPARE(f.chooser.m_lastSetup.title, QStringLiteral("Select the intel hex file to save."));
    QCOMPARE(f.chooser.m_lastSetup.filter,
             QStringLiteral("Hex file (*.hex;*.epp)|*.hex;*.epp|Binary file (*.bin)|*.bin||"));
    QCOMPARE(f.chooser.m_lastSetup.initialFolder, QString());
    QCOMPARE(DefaultSuffixFromExtension(f.chooser.m_lastSetup.defaultExtension),
             QStringLiteral("hex"));
    QCOMPARE(QString::fromStdString(f.dlg->m_strMessages.substr(pane.size())),
             "Save Prog File " + target + "\r\n");
    const QByteArray written = ReadBytes(target);
    QCOMPARE(written,
             QByteArray::fromStdString(FormatHexImage(f.dlg->Session().Images().m_progImage)));
    QVERIFY(written.startsWith(":100000000C94FFFFFFFFFFFFFFFFFFFFFFFFFFFF"));
    QCOMPARE(f.Setting("PathProg"), std::string("<none>"));  // folders untouched

    f.Exit();
    QCOMPARE(f.Setting("FileProg"), Std(target));
}

void FileCommandsTest::saveAndSaveAsBothSides() {
    Files f;
    const QString prog = f.Make("s/a.hex", kProgRecord);
    const QString data = f.Make("s/a.epp", kDataRecord);
    f.chooser.m_strAnswer = prog;
    f.Command(ids::kFileOpen);
    f.dlg->Session().Images().m_progImage[5] = 0x66;
    f.dlg->Session().Images().m_dataImage[5] = 0x77;
    const int before = f.Pane().size();

    f.Command(ids::kFileSave);

    QCOMPARE(f.PaneSince(before), "Save Prog File " + prog + "\r\nSave Data File " + data + "\r\n");
    QCOMPARE(f.chooser.m_nSaveCalls, 0);
    std::vector<uint8_t> image;
    QCOMPARE(ReadHexImage(ReadBytes(prog).toStdString(), HexReadMode::Program, 8192, image),
             HexReadStatus::Ok);
    QCOMPARE(image, f.dlg->Session().Images().m_progImage);
    QCOMPARE(ReadHexImage(ReadBytes(data).toStdString(), HexReadMode::Data, 512, image),
             HexReadStatus::Ok);
    QCOMPARE(image, f.dlg->Session().Images().m_dataImage);

    // Save As asks twice, program first; a cancelled second chooser saves
    // only the first.
    f.chooser.m_queuedAnswers = QStringList{f.Path("t/p.hex"), QString()};
    QDir().mkpath(f.Path("t"));
    const int beforeAs = f.Pane().size();
    f.Command(ids::kFileSaveAs);
    QCOMPARE(f.chooser.m_nSaveCalls, 2);
    QCOMPARE(f.PaneSince(beforeAs), "Save Prog File " + f.Path("t/p.hex") + "\r\n");
    QCOMPARE(f.dlg->m_strProgFile, Std(f.Path("t/p.hex")));
    QCOMPARE(f.dlg->m_strDataFile, Std(data));
}

void FileCommandsTest::failedSaveKeepsOldFileAndSettings() {
    Files f;
    const QString prog = f.Make("k/a.hex", kProgRecord);
    f.chooser.m_strAnswer = prog;
    f.Command(ids::kOpenProgFile);
    f.dlg->Session().Images().m_progImage[0] = 0x99;
    const QByteArray oldFile = ReadBytes(prog);
    const QByteArray settingsBefore = f.settings.Text();

    // The whole image does not fit under the limit: the write fails part way.
    {
        CFileSizeLimit limit(static_cast<rlim_t>(oldFile.size() + 64));
        QVERIFY(limit.Ok());
        const int before = f.Pane().size();
        f.Command(ids::kSaveProgFile);
        QCOMPARE(f.PaneSince(before), "Save Prog File " + prog + "\r\n File Save Error.\r\n");
    }
    QCOMPARE(ReadBytes(prog), oldFile);
    QCOMPARE(QDir(f.Path("k")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList{"a.hex"});  // no temporary file left behind
    QCOMPARE(f.settings.Text(), settingsBefore);

    // A folder that is a regular file cannot hold the new file.
    f.Make("k/plain", "not a folder");
    const QString inside = f.Path("k/plain/b.hex");
    f.chooser.m_strAnswer = inside;
    const int before = f.Pane().size();
    f.Command(ids::kSaveAsProgFile);
    QCOMPARE(f.PaneSince(before), "Save Prog File " + inside + "\r\n File Save Error.\r\n");
    QCOMPARE(ReadBytes(f.Path("k/plain")), QByteArray("not a folder"));
    QCOMPARE(f.settings.Text(), settingsBefore);
}

// The views' context menu, and the data side's chooser and folder.
void FileCommandsTest::contextMenuRunsViewCommands() {
    Files f;
    f.settings.Profile().WriteString("PathData", "Name", "/stored/data");
    f.dlg = MakeWindow(f.settings, f.chooser, &f.counter);
    f.dlg->show();
    const QString prog = f.Make("m/a.hex", kProgRecord);
    const QString data = f.Make("m/d.epp", kDataRecord);

    f.chooser.m_strAnswer = prog;
    ChooseFromContextMenu(*f.dlg, f.dlg->ProgView()->viewport(), "Open File");
    QCOMPARE(f.dlg->m_strProgFile, Std(prog));
    QCOMPARE(f.dlg->m_bDataLoaded, 0);  // the program side only, no derived file

    f.chooser.m_strAnswer = data;
    ChooseFromContextMenu(*f.dlg, f.dlg->DataView()->viewport(), "Open File");
    QCOMPARE(f.chooser.m_lastSetup.initialFolder, QStringLiteral("/stored/data"));
    QCOMPARE(f.chooser.m_lastSetup.title, QStringLiteral("Select the intel hex file to open."));
    QCOMPARE(f.dlg->m_strDataFile, Std(data));
    QCOMPARE(f.dlg->m_bDataLoaded, 1);
    QCOMPARE(f.DataCell(), QStringLiteral("AB"));
    QCOMPARE(f.Setting("PathData"), Std(f.Path("m")));
    QCOMPARE(f.Setting("PathProg"), Std(f.Path("m")));  // from the program side's open

    const QString savedData = f.Path("m/saved.epp");
    f.chooser.m_strAnswer = savedData;
    ChooseFromContextMenu(*f.dlg, f.dlg->DataView()->viewport(), "Save As File");
    QCOMPARE(f.dlg->m_strDataFile, Std(savedData));
    QCOMPARE(f.dlg->m_strProgFile, Std(prog));
    QVERIFY(QFileInfo::exists(savedData));
    QCOMPARE(f.chooser.m_nSaveCalls, 1);
}

// The desktop chooser itself, offscreen: a name typed without an extension
// comes back with ".hex", and an existing file's name comes back as it is.
void FileCommandsTest::saveChooserGivesTypedNameHexExtension() {
    QTemporaryDir dir;
    auto answer = [&](const QString& typed) {
        QTimer::singleShot(0, [typed] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typed);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        CQtFileChooser chooser;
        FileChooserSetup setup;
        setup.title = QStringLiteral("Select the intel hex file to save.");
        setup.filter = QStringLiteral("Hex file (*.hex;*.epp)|*.hex;*.epp||");
        setup.defaultExtension = QStringLiteral(".hex;*.epp");
        setup.initialFolder = dir.path();
        return chooser.ChooseSaveFile(nullptr, setup);
    };
    QCOMPARE(answer("image"), dir.filePath("image.hex"));
    QCOMPARE(answer("image.epp"), dir.filePath("image.epp"));
}

// File > Open takes both memories from one ELF file; binary images open
// and save by their extension; a file that cannot be used changes nothing.
void FileCommandsTest::elfAndBinaryFiles() {
    Files f;  // an AT90S8535: 8 KB flash, 512 bytes EEPROM
    auto sections = AtmegaFixtureSections();
    sections.pop_back();  // no .signature: it fits any part
    const std::string elf = BuildAvrElf(sections);
    const QString path = f.Make("main.elf", QByteArray(elf.data(), static_cast<int>(elf.size())));
    f.chooser.m_strAnswer = path;
    int before = f.Pane().size();
    f.Command(ids::kFileOpen);
    QCOMPARE(f.PaneSince(before), Opened(path) + " ELF sections : .text .data\r\n" + Opened(path) +
                                      " ELF sections : .eeprom\r\n");
    QCOMPARE(f.ProgCell(), QStringLiteral("940c"));
    QCOMPARE(f.DataCell(), QStringLiteral("01"));
    QCOMPARE(f.dlg->m_bProgLoaded, 1);
    QCOMPARE(f.dlg->m_bDataLoaded, 1);

    // Saved as a raw image, the program memory is its bytes.
    f.chooser.m_strAnswer = f.Path("flash.bin");
    f.Command(ids::kSaveAsProgFile);
    const QByteArray bin = ReadBytes(f.Path("flash.bin"));
    QCOMPARE(bin.size(), 8192);
    QCOMPARE(bin.left(8), QByteArray("\x0C\x94\x34\x00\xFF\xCF\x07\x08", 8));

    // Another chip's ELF file and a binary image larger than the memory are
    // refused, and the images stay as they were.
    Files g;
    const std::string other = BuildAvrElf(AtmegaFixtureSections());
    g.chooser.m_strAnswer =
        g.Make("other.elf", QByteArray(other.data(), static_cast<int>(other.size())));
    before = g.Pane().size();
    g.Command(ids::kOpenProgFile);
    QVERIFY(g.PaneSince(before).contains(
        " File Error : it was built for the chip with signature 1E 95 0F, not for the AT90S8535"));
    QCOMPARE(g.dlg->m_bProgLoaded, 0);
    g.chooser.m_strAnswer = g.Make("big.bin", QByteArray(513, '\x11'));
    before = g.Pane().size();
    g.Command(ids::kOpenDataFile);
    QVERIFY(g.PaneSince(before).contains("more than the 512"));
    QCOMPARE(g.dlg->m_bDataLoaded, 0);
    QCOMPARE(g.dlg->Session().Images().m_dataImage, std::vector<uint8_t>(512, 0xFF));
}

QTEST_MAIN(FileCommandsTest)
#include "FileCommandsTest.moc"
