// "ISP Com Select" opened from File "Set&Up" and driven against simulated
// ports: COM2 and COM4 carry an adapter, COM3 a port without one, COM1 a
// port that does not open.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/ComSelectDlg.h"
#include "app/CommandIds.h"
#include "tests/app/AppTestSupport.h"

namespace {

const std::map<int, std::string> kPorts = {
    {2, "sim:AT90S8535"}, {3, "sim:AT90S8535,no-adapter"}, {4, "sim:AT90S8515"}};

struct PortDialog {
    CComSelectDlg* dlg;
    QComboBox* Combo() const { return dlg->findChild<QComboBox*>("comboPort"); }
    QString Status() const { return dlg->findChild<QLabel*>("labelStatus")->text(); }
    QLabel* Trouble() const { return dlg->findChild<QLabel*>("labelTrouble"); }
    void Choose(int index) const { Combo()->setCurrentIndex(index); }
    void Click(const char* name) const { ClickAsUser(dlg->findChild<QPushButton*>(name)); }
};

// Runs File "Set&Up" with script acting on the open dialog; the dialog is
// cancelled afterwards if the script left it open. Returns whether it was
// left open.
bool RunSetUp(CProgrammerDlg& window, const std::function<void(PortDialog&)>& script) {
    bool leftOpen = false;
    QTimer::singleShot(0, &window, [&] {
        PortDialog port{window.findChild<CComSelectDlg*>()};
        QVERIFY(port.dlg != nullptr);
        QVERIFY(port.dlg->isVisible());
        script(port);
        leftOpen = port.dlg->isVisible();
        if (leftOpen) {
            port.Click("buttonCancel");
        }
    });
    Item(MenuNamed(&window, "menuFile"), ids::kSetUp)->trigger();
    return leftOpen;
}

}  // namespace

class PortDialogTest : public QObject {
    Q_OBJECT

private slots:
    void opensOnCurrentPortWithSortedList();
    void checkReportsAdapterOrNotFound();
    void cancelLeavesTestedPortInAdapter();
    void okNeedsPassingTestAndStoresPort();
    void enterInListActsAsOk();
    void enterOnCheckOrCancelPressesThem();
    void typedTextSelectsNoPort();
    void noPreselectionWithoutValidPort();
};

void PortDialogTest::opensOnCurrentPortWithSortedList() {
    CTestSettings settings(kPorts);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    RunSetUp(*window, [](PortDialog& port) {
        QCOMPARE(port.dlg->windowTitle(), QStringLiteral("ISP Com Select"));
        QComboBox* combo = port.Combo();
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->count(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(combo->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        }
        QCOMPARE(combo->currentText(), QStringLiteral("COM2"));
        QCOMPARE(port.Status(), QString());
    });
}

void PortDialogTest::checkReportsAdapterOrNotFound() {
    CTestSettings settings(kPorts);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    QStringList statuses;
    QStringList troubles;
    const bool open = RunSetUp(*window, [&](PortDialog& port) {
        for (int index : {1, 2, 0, 3}) {
            port.Choose(index);
            port.Click("buttonCheck");
            statuses << port.Status();
            troubles << (port.Trouble()->isVisible() ? port.Trouble()->text() : QString());
        }
    });
    QVERIFY(open);  // Check never closes the dialog
    QCOMPARE(statuses,
             (QStringList{"Prog. Key ready", "Not found", "Not found", "Prog. Key ready"}));
    // A port that did not open says why, in the words of the main window's
    // port lines; one that opened without an adapter has nothing to add.
    const QString missing = QString::fromStdString("COM1 (" + MissingPort(1) + ") does not exist");
    QCOMPARE(troubles, (QStringList{QString(), QString(), missing, QString()}));
}

void PortDialogTest::cancelLeavesTestedPortInAdapter() {
    CTestSettings settings(kPorts);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    const std::string pane = window->m_strMessages;
    const QByteArray file = settings.Text();
    RunSetUp(*window, [](PortDialog& port) {
        port.Choose(0);  // COM1: does not open
        port.Click("buttonCheck");
        QCOMPARE(port.Status(), QStringLiteral("Not found"));
    });
    // Cancel does not bring COM2 back: the adapter stays on the tested port.
    QCOMPARE(window->Session().Adapter().m_nPort, 1);
    QVERIFY(window->Session().Adapter().m_hComm == nullptr);
    QCOMPARE(settings.Text(), file);
    QCOMPARE(window->m_strMessages, pane);
}

void PortDialogTest::okNeedsPassingTestAndStoresPort() {
    CTestSettings settings(kPorts);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    const std::string pane = window->m_strMessages;
    bool stayedOpen = false;
    QString status;
    QString trouble;
    const bool leftOpen = RunSetUp(*window, [&](PortDialog& port) {
        port.Choose(0);  // COM1: no such device
        port.Click("buttonOk");
        trouble = port.Trouble()->text();
        port.Choose(2);  // COM3: no adapter
        port.Click("buttonOk");
        stayedOpen = port.dlg->isVisible();
        status = port.Status();
        port.Choose(3);  // COM4: adapter
        port.Click("buttonOk");
    });
    QVERIFY(stayedOpen);
    QCOMPARE(trouble, QString::fromStdString("COM1 (" + MissingPort(1) + ") does not exist"));
    QCOMPARE(status, QStringLiteral("Not found"));
    QVERIFY(!leftOpen);
    QCOMPARE(settings.Profile().GetInt("Com", "Port", 0), 4);
    QCOMPARE(window->Session().Adapter().m_nPort, 4);
    QVERIFY(window->Session().Adapter().m_hComm != nullptr);
    QCOMPARE(window->m_strMessages, pane);  // no "not found" after a good reopen
}

void PortDialogTest::enterInListActsAsOk() {
    CTestSettings settings(kPorts);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    const bool leftOpen = RunSetUp(*window, [](PortDialog& port) {
        port.Choose(3);
        port.Combo()->setFocus();
        QTest::keyClick(port.Combo(), Qt::Key_Return);
    });
    QVERIFY(!leftOpen);
    QCOMPARE(settings.Profile().GetInt("Com", "Port", 0), 4);
}

void PortDialogTest::enterOnCheckOrCancelPressesThem() {
    CTestSettings settings(kPorts);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    QString status;
    bool openAfterCheck = false;
    const bool leftOpen = RunSetUp(*window, [&](PortDialog& port) {
        port.Choose(3);
        auto* check = port.dlg->findChild<QPushButton*>("buttonCheck");
        check->setFocus();
        QTest::keyClick(check, Qt::Key_Return);
        status = port.Status();
        openAfterCheck = port.dlg->isVisible();
        auto* cancel = port.dlg->findChild<QPushButton*>("buttonCancel");
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Return);
    });
    QCOMPARE(status, QStringLiteral("Prog. Key ready"));
    QVERIFY(openAfterCheck);
    QVERIFY(!leftOpen);
    QCOMPARE(settings.Profile().GetInt("Com", "Port", -1), -1);  // cancelled, not OK
    QCOMPARE(window->Session().Adapter().m_nPort, 4);
}

void PortDialogTest::typedTextSelectsNoPort() {
    CTestSettings settings(kPorts);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    RunSetUp(*window, [](PortDialog& port) {
        QLineEdit* edit = port.Combo()->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, "COM4");
        port.Click("buttonCheck");
        QCOMPARE(port.Status(), QStringLiteral("Not found"));
    });
    QCOMPARE(window->Session().Adapter().m_nPort, 0);
    QCOMPARE(settings.Profile().GetInt("Com", "Port", -1), -1);
}

void PortDialogTest::noPreselectionWithoutValidPort() {
    CTestSettings settings(kPorts);
    settings.Profile().WriteInt("Com", "Port", 0);
    CScriptedChooser chooser;
    auto window = MakeWindow(settings, chooser);
    window->show();
    RunSetUp(*window, [](PortDialog& port) {
        QCOMPARE(port.Combo()->currentIndex(), -1);
        port.Click("buttonOk");
        QVERIFY(port.dlg->isVisible());
        QCOMPARE(port.Status(), QStringLiteral("Not found"));
    });
}

QTEST_MAIN(PortDialogTest)
#include "PortDialogTest.moc"
