// The production window, opened from File > Production... and driven as a
// user drives it: keys and clicks through the window system, simulated
// sockets behind the port.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/CommandIds.h"
#include "app/ProductionDlg.h"
#include "tests/app/AppTestSupport.h"

namespace {

const char* const kRecipe =
    "[Recipe]\n"
    "part = ATtiny13\n"
    "flash = firmware.hex\n"
    "steps = erase,flash,eeprom,verify\n"
    "[Serial]\n"
    "memory = eeprom\n"
    "address = 0x10\n"
    "size = 2\n"
    "first = 1000\n"
    "next-file = serial.next\n"
    "[Calibration]\n"
    "store = eeprom:0x00\n";

constexpr int kAutomaticTimeoutMs = 20000;

QString Text(QWidget* dlg, const char* name) {
    return dlg->findChild<QLabel*>(QString::fromLatin1(name))->text();
}

template <typename T>
T* Named(QWidget* dlg, const char* name) {
    return dlg->findChild<T*>(QString::fromLatin1(name));
}

int LogLines(const QString& path) {
    return static_cast<int>(ReadBytes(path).count('\n'));
}

}  // namespace

class ProductionWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QVERIFY(WriteBytes(m_dir.filePath("firmware.hex"), ":0400000001020304F2\n:00000001FF\n"));
        QVERIFY(WriteBytes(m_dir.filePath("line.brenwick"), kRecipe));
        QFile::remove(m_dir.filePath("serial.next"));
        QFile::remove(m_dir.filePath("line.log.csv"));
    }
    void programNextByEnterSpaceAndClick();
    void failureShowsItsLine();
    void automaticWaitsProgramsAndStops();

private:
    QTemporaryDir m_dir;
};

void ProductionWindowTest::programNextByEnterSpaceAndClick() {
    CTestSettings settings({{2, "sim:ATtiny13"}});
    CScriptedChooser chooser;
    chooser.m_strAnswer = m_dir.filePath("line.brenwick");
    auto window = MakeWindow(settings, chooser);
    window->show();
    bool ran = false;
    QTimer::singleShot(0, window.get(), [&] {
        auto* dlg = window->findChild<CProductionDlg*>();
        QVERIFY(dlg != nullptr);
        QTRY_VERIFY(dlg->isVisible());
        QCOMPARE(Text(dlg, "nextSerial"), QStringLiteral("Next serial number: 1000"));
        KeyAsUser(dlg, Qt::Key_Return);
        QCOMPARE(Text(dlg, "result"), QStringLiteral("PASS"));
        QCOMPARE(Text(dlg, "nextSerial"), QStringLiteral("Next serial number: 1001"));
        KeyAsUser(dlg, Qt::Key_Space);
        ClickAsUser(Named<QPushButton>(dlg, "programNext"));
        QCOMPARE(Text(dlg, "counters"), QStringLiteral("Passed: 3   Failed: 0"));
        QCOMPARE(Text(dlg, "failure"), QStringLiteral("Serial 1002"));
        ClickAsUser(Named<QPushButton>(dlg, "close"));
        ran = true;
    });
    Item(MenuNamed(window.get(), "menuFile"), ids::kProduction)->trigger();
    QVERIFY(ran);
    QCOMPARE(chooser.m_lastSetup.filter, QStringLiteral("Recipes (*.brenwick)|*.brenwick||"));
    QCOMPARE(LogLines(m_dir.filePath("line.log.csv")), 1 + 3);
    // The main window has its port back.
    QVERIFY(window->Session().Device() != nullptr);
}

void ProductionWindowTest::failureShowsItsLine() {
    Recipe recipe;
    std::string error;
    QVERIFY(LoadRecipe(m_dir.filePath("line.brenwick").toStdString(), recipe, error));
    CProductionDlg dlg(recipe, "sim:ATtiny13,stuck-flash=0x2");
    QVERIFY2(dlg.Start(error), error.c_str());
    dlg.show();
    ClickAsUser(Named<QPushButton>(&dlg, "programNext"));
    QCOMPARE(Text(&dlg, "result"), QStringLiteral("FAIL"));
    QVERIFY2(Text(&dlg, "failure").contains(QStringLiteral("Error at address 0002")),
             qPrintable(Text(&dlg, "failure")));
    QCOMPARE(Text(&dlg, "counters"), QStringLiteral("Passed: 0   Failed: 1"));
    // The spoiled number is not given again.
    QCOMPARE(Text(&dlg, "nextSerial"), QStringLiteral("Next serial number: 1001"));
}

void ProductionWindowTest::automaticWaitsProgramsAndStops() {
    Recipe recipe;
    std::string error;
    QVERIFY(LoadRecipe(m_dir.filePath("line.brenwick").toStdString(), recipe, error));
    CProductionDlg dlg(recipe, "sim:ATtiny13,chips=3");
    QVERIFY2(dlg.Start(error), error.c_str());
    dlg.show();
    ClickAsUser(Named<QCheckBox>(&dlg, "automatic"));
    QVERIFY(!Named<QPushButton>(&dlg, "programNext")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Passed(), 3, kAutomaticTimeoutMs);
    // The socket stays empty after the last chip: the window waits for one.
    QTRY_COMPARE(Text(&dlg, "state"), QStringLiteral("Waiting for a chip"));
    ClickAsUser(Named<QPushButton>(&dlg, "stop"));
    QVERIFY(!Named<QCheckBox>(&dlg, "automatic")->isChecked());
    QVERIFY(Named<QPushButton>(&dlg, "programNext")->isEnabled());
    QCOMPARE(LogLines(m_dir.filePath("line.log.csv")), 1 + 3);
}

QTEST_MAIN(ProductionWindowTest)
#include "ProductionWindowTest.moc"
