#include "app/ProgrammerDlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/ComSelectDlg.h"
#include "app/CommandIds.h"
#include "app/DeviceChooser.h"
#include "app/FusesDlg.h"
#include "app/HexTableView.h"
#include "app/ProfileFile.h"
#include "app/SettingsKeys.h"
#include "app/UpdiFusesDlg.h"
#include "parts/DeviceTable.h"
#include "session/PortRegistry.h"

namespace {

constexpr int kErasedByte = 0xFF;
constexpr int kYieldIntervalMs = 30;
constexpr int kViewRowsShown = 10;
constexpr int kPaneLines = 6;
constexpr int kButtonRows = 4;
constexpr int kButtonColumns = 4;

const char* const kNotFound = "ISP programmer not found\r\n";
constexpr char kRecentDeviceSeparator = ';';

// The chooser of the desktop: the dialog, modal over the window.
QString ChooseDeviceInDialog(QWidget* parent, const QStringList& recent) {
    CDeviceChooserDlg dlg(recent, parent);
    return dlg.exec() == QDialog::Accepted ? dlg.Chosen() : QString();
}

struct ButtonInfo {
    const char* caption;
    int id;
};

// Rows Write, Read, Verify, Erase; columns All, Prog, Data, Lock. The Erase
// row has no Lock button: E&xit takes that corner.
const ButtonInfo kButtons[kButtonRows][kButtonColumns] = {
    {{"&Write All", ids::kWriteAll},
     {"Write &Prog", ids::kWriteProg},
     {"Write &Data", ids::kWriteData},
     {"Write &Lock", ids::kWriteLock}},
    {{"&Read All", ids::kReadAll},
     {"Read Prog", ids::kReadProg},
     {"Read Data", ids::kReadData},
     {"Read Lock", ids::kReadLock}},
    {{"&Verify All", ids::kVerifyAll},
     {"Verify Prog", ids::kVerifyProg},
     {"Verify Data", ids::kVerifyData},
     {"Verify Lock", ids::kVerifyLock}},
    {{"&Erase All", ids::kEraseAll},
     {"Erase Prog", ids::kEraseProg},
     {"Erase Data", ids::kEraseData},
     {"E&xit", ids::kExit}},
};

struct DeviceMenuItem {
    const char* caption;  // nullptr: a separator
    int id;
    int device;
};

const DeviceMenuItem kDeviceMenu[] = {
    {"AT Mega 161", 32805, 161},
    {"AT Mega 103", 32804, 103},
    {nullptr, 0, 0},
    {"AT90S8535", 32779, 8535},
    {"AT90S8515", 32788, 8515},
    {nullptr, 0, 0},
    {"AT90S4434", 32780, 4434},
    {"AT90S4433", 32786, 4433},
    {"AT90S4414", 32787, 4414},
    {nullptr, 0, 0},
    {"AT90S2343", 32785, 2343},
    {"AT90S2333", 32784, 2333},
    {"AT90S2323", 32782, 2323},
    {"AT90S2313", 32781, 2313},
    {nullptr, 0, 0},
    {"AT90S1200", 32783, 1200},
    {nullptr, 0, 0},
    {"ATtiny 22", 32792, 22},
    {"ATtiny 15", 32791, 15},
    {"ATtiny 10/11/12", 32790, 10},
    {nullptr, 0, 0},
    {"Auto Detect", ids::kAutoDetect, 0},
    {nullptr, 0, 0},
    {"&Other Device...", ids::kOtherDevice, 0},
    {"&Fuses...", ids::kFuses, 0},
};

// The device number a Device menu command selects, 0 when it selects none.
int DeviceOfCommand(int id) {
    for (const DeviceMenuItem& item : kDeviceMenu) {
        if (item.caption != nullptr && item.id == id) {
            return item.device;
        }
    }
    return 0;
}

bool IsOperationButton(int id) {
    for (const auto& row : kButtons) {
        for (const ButtonInfo& b : row) {
            if (b.id == id) {
                return id != ids::kExit;
            }
        }
    }
    return false;
}

QString IdName(int id) {
    return QString::number(id);
}

// The pane shows the text without carriage returns; the text itself keeps them.
QString ForDisplay(const std::string& text, size_t from) {
    std::string shown;
    shown.reserve(text.size() - from);
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] != '\r') {
            shown.push_back(text[i]);
        }
    }
    return QString::fromStdString(shown);
}

}  // namespace

CProgrammerDlg::CProgrammerDlg(CProfileFile& profile, IFileChooser& chooser, QWidget* parent)
    : CProgrammerDlg(profile, chooser, nullptr, parent) {}

CProgrammerDlg::CProgrammerDlg(CProfileFile& profile, IFileChooser& chooser,
                               IPerformanceCounter& counter, QWidget* parent)
    : CProgrammerDlg(profile, chooser, &counter, parent) {}

CProgrammerDlg::CProgrammerDlg(CProfileFile& profile, IFileChooser& chooser,
                               IPerformanceCounter* counter, QWidget* parent)
    : QDialog(parent),
      m_session(*this, counter),
      m_profile(profile),
      m_chooser(chooser),
      m_deviceChooser(ChooseDeviceInDialog) {
    setWindowTitle(QStringLiteral("Brenwick"));
    setWindowIcon(AppIcon());
    // A fixed-size window with a minimise control and no maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    BuildControls();
    BuildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    InitDialog();
    // "Write &Data" and the "&Device" menu share Alt+D; as in a classic
    // dialog the button's access key comes first. Qt would treat the two as
    // ambiguous and only move the focus, so the key is taken before the
    // shortcut map sees it.
    QCoreApplication::instance()->installEventFilter(this);
}

CProgrammerDlg::~CProgrammerDlg() = default;

QAbstractButton* CProgrammerDlg::ButtonForAccessKey(QObject* watched, const QKeyEvent& key) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this || key.modifiers() != Qt::AltModifier) {
        return nullptr;
    }
    const QKeySequence pressed(QKeyCombination(Qt::AltModifier, Qt::Key(key.key())));
    for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
        if (button->isVisible() && button->isEnabled() &&
            QKeySequence::mnemonic(button->text()) == pressed) {
            return button;
        }
    }
    return nullptr;
}

bool CProgrammerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (IsOperationRunning()) {
        // No access key either: it would start another operation.
        return HoldsBackInput(watched, event) || QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (QAbstractButton* button = ButtonForAccessKey(watched, *key)) {
            event->accept();
            if (event->type() == QEvent::KeyPress) {
                button->setFocus(Qt::ShortcutFocusReason);
                button->click();
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CProgrammerDlg::BuildControls() {
    auto* top = new QVBoxLayout(this);

    m_groupMemory = new QGroupBox(QStringLiteral("Memory"), this);
    m_groupMemory->setObjectName(IdName(ids::kMemoryGroup));
    auto* memory = new QHBoxLayout(m_groupMemory);

    auto* progColumn = new QVBoxLayout;
    m_labelProgRange = new QLabel(QStringLiteral("Program : 0x000 - 0xFFF"), m_groupMemory);
    m_labelProgRange->setObjectName(IdName(ids::kProgRange));
    m_listProg = new CHexTableView(CHexViewModel::Kind::Program, m_groupMemory);
    m_listProg->setObjectName(IdName(ids::kProgView));
    progColumn->addWidget(m_labelProgRange);
    progColumn->addWidget(m_listProg);
    progColumn->addStretch(1);

    auto* dataColumn = new QVBoxLayout;
    m_labelDataRange = new QLabel(QStringLiteral("Data : 0x000 - 0xFFF"), m_groupMemory);
    m_labelDataRange->setObjectName(IdName(ids::kDataRange));
    m_listData = new CHexTableView(CHexViewModel::Kind::Data, m_groupMemory);
    m_listData->setObjectName(IdName(ids::kDataView));
    auto* fuseLabel = new QLabel(QStringLiteral("Fuse Bits"), m_groupMemory);
    auto* ticks = new QHBoxLayout;
    auto makeTick = [this, ticks](const char* caption, int id) {
        auto* box = new QCheckBox(QString::fromLatin1(caption), m_groupMemory);
        box->setObjectName(IdName(id));
        ticks->addWidget(box);
        return box;
    };
    m_checkLockBit1 = makeTick("Lock Bit1", ids::kLockBit1);
    m_checkLockBit2 = makeTick("Lock Bit2", ids::kLockBit2);
    m_checkFstrt = makeTick("FSTRT", ids::kFstrt);
    m_checkSpien = makeTick("Spien", ids::kSpien);
    m_checkSpien->setEnabled(false);  // display only, set by Read Lock
    ticks->addStretch(1);
    dataColumn->addWidget(m_labelDataRange);
    dataColumn->addWidget(m_listData);
    dataColumn->addWidget(fuseLabel);
    dataColumn->addLayout(ticks);

    const int viewHeight = m_listProg->horizontalHeader()->sizeHint().height() +
                           kViewRowsShown * m_listProg->verticalHeader()->defaultSectionSize() +
                           2 * m_listProg->frameWidth();
    m_listProg->setFixedSize(m_listProg->FullWidth(), viewHeight);
    m_listData->setFixedSize(m_listData->FullWidth(), viewHeight);

    memory->addLayout(progColumn);
    memory->addLayout(dataColumn);
    top->addWidget(m_groupMemory);

    auto* bottom = new QHBoxLayout;
    auto* groupMessages = new QGroupBox(QStringLiteral("Messages"), this);
    auto* messages = new QVBoxLayout(groupMessages);
    m_editMessages = new QPlainTextEdit(groupMessages);
    m_editMessages->setObjectName(IdName(ids::kMessages));
    m_editMessages->setReadOnly(true);
    // A long line wraps rather than putting a scroll bar over the newest one.
    m_editMessages->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_editMessages->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editMessages->setUndoRedoEnabled(false);
    m_editMessages->setFixedHeight(
        kPaneLines * m_editMessages->fontMetrics().lineSpacing() +
        2 * m_editMessages->frameWidth() +
        static_cast<int>(2 * m_editMessages->document()->documentMargin()));
    m_progress = new QProgressBar(groupMessages);
    m_progress->setObjectName(IdName(ids::kProgress));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_buttonStop = new QPushButton(QStringLiteral("Stop"), groupMessages);
    m_buttonStop->setObjectName(IdName(ids::kStop));
    m_buttonStop->setAutoDefault(false);
    m_buttonStop->setVisible(false);
    m_buttonStop->setToolTip(QStringLiteral("Stops the operation under way (Esc)"));
    connect(m_buttonStop, &QPushButton::clicked, this, [this] { RequestStop(); });
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_buttonStop);
    messages->addWidget(m_editMessages);
    messages->addLayout(progressRow);

    auto* groupCommand = new QGroupBox(QStringLiteral("Command"), this);
    auto* grid = new QGridLayout(groupCommand);
    for (int r = 0; r < kButtonRows; ++r) {
        for (int c = 0; c < kButtonColumns; ++c) {
            const ButtonInfo& info = kButtons[r][c];
            auto* button = new QPushButton(QString::fromLatin1(info.caption), groupCommand);
            button->setObjectName(IdName(info.id));
            const int id = info.id;
            connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
            if (id == ids::kExit) {
                button->setDefault(true);  // Enter closes the window
            }
            grid->addWidget(button, r, c);
        }
    }

    bottom->addWidget(groupMessages, 1);
    bottom->addWidget(groupCommand);
    top->addLayout(bottom);
}

QAction* CProgrammerDlg::AddCommand(QMenu* menu, const QString& caption, int id) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(IdName(id));
    action->setData(id);
    // The id is read when the item is chosen: the recent-file entries change
    // theirs at start-up.
    connect(action, &QAction::triggered, this,
            [this, action] { OnCommand(action->data().toInt()); });
    return action;
}

QMenu* CProgrammerDlg::BuildFileMenu() {
    auto* menu = new QMenu(QStringLiteral("&File"), m_menuBar);
    menu->setObjectName(QStringLiteral("menuFile"));
    // The captions name Ctrl+O and Ctrl+S, but the window has no shortcuts.
    AddCommand(menu, QStringLiteral("&Open\tCtrl+O"), ids::kFileOpen);
    AddCommand(menu, QStringLiteral("&Close"), ids::kFileClose);
    menu->addSeparator();
    AddCommand(menu, QStringLiteral("Open Prog File"), ids::kOpenProgFile);
    AddCommand(menu, QStringLiteral("Save Prog File"), ids::kSaveProgFile);
    AddCommand(menu, QStringLiteral("Save As Prog File"), ids::kSaveAsProgFile);
    m_menuRecentProg = menu->addMenu(QStringLiteral("Recent Prog"));
    m_menuRecentProg->setObjectName(QStringLiteral("menuRecentProg"));
    AddCommand(m_menuRecentProg, QStringLiteral(" "), ids::kRecentProgBlank);
    menu->addSeparator();
    AddCommand(menu, QStringLiteral("Open Data File"), ids::kOpenDataFile);
    AddCommand(menu, QStringLiteral("Save Data File"), ids::kSaveDataFile);
    AddCommand(menu, QStringLiteral("Save As Data File"), ids::kSaveAsDataFile);
    m_menuRecentData = menu->addMenu(QStringLiteral("Recent Data"));
    m_menuRecentData->setObjectName(QStringLiteral("menuRecentData"));
    AddCommand(m_menuRecentData, QStringLiteral(" "), ids::kRecentDataBlank);
    menu->addSeparator();
    AddCommand(menu, QStringLiteral("&Save\tCtrl+S"), ids::kFileSave);
    AddCommand(menu, QStringLiteral("Save &As"), ids::kFileSaveAs);
    menu->addSeparator();
    AddCommand(menu, QStringLiteral("&Production..."), ids::kProduction);
    AddCommand(menu, QStringLiteral("Set&Up"), ids::kSetUp);
    AddCommand(menu, QStringLiteral("E&xit"), ids::kExit);
    return menu;
}

QMenu* CProgrammerDlg::BuildDeviceMenu() {
    auto* menu = new QMenu(QStringLiteral("&Device"), m_menuBar);
    menu->setObjectName(QStringLiteral("menuDevice"));
    for (const DeviceMenuItem& item : kDeviceMenu) {
        if (item.caption == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* action = AddCommand(menu, QString::fromLatin1(item.caption), item.id);
        action->setCheckable(item.device != 0);
    }
    return menu;
}

void CProgrammerDlg::BuildMenus() {
    m_menuBar = new QMenuBar(this);
    m_menuBar->setNativeMenuBar(false);  // the bar belongs to this window
    QMenu* help = new QMenu(QStringLiteral("&Help"), m_menuBar);
    help->setObjectName(QStringLiteral("menuHelp"));
    AddCommand(help, QStringLiteral("&About"), ids::kAbout);
    for (QMenu* menu : {BuildFileMenu(), BuildDeviceMenu(), help}) {
        m_menuBar->addMenu(menu);
        // States follow the window whenever a menu is about to be shown.
        connect(menu, &QMenu::aboutToShow, this, &CProgrammerDlg::RefreshCommandStates);
    }
    layout()->setMenuBar(m_menuBar);
}

void CProgrammerDlg::ReadPortNames() {
    PortNameMap names;
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        std::string path = m_profile.GetString(settings::kPortsSection, ComPortName(n), "");
        if (!path.empty()) {
            names[n] = path;
        }
    }
    m_session.SetPortOverrides(names);
}

void CProgrammerDlg::InitDialog() {
    ShowOnScreen();

    const int nPort =
        m_profile.GetInt(settings::kComSection, settings::kComPort, settings::kDefaultPort);
    ReadPortNames();
    FillRecentMenus();
    m_strProgPath = m_profile.GetString(settings::kPathProgSection, settings::kName, "");
    m_strDataPath = m_profile.GetString(settings::kPathDataSection, settings::kName, "");

    // The parts of the Device menu are stored by number, the others by name.
    // A stored value the table does not know would leave the window without
    // a device (no sizes, no name): fall back to the default device, which
    // ShowDevice then stores.
    int row = FindDevice(m_profile.GetString(settings::kDeviceSection, settings::kDeviceType, ""));
    if (row < 0) {
        // An entry with more after its number still names that number.
        row = FindDevice(std::to_string(m_profile.GetInt(
            settings::kDeviceSection, settings::kDeviceType, settings::kDefaultDevice)));
    }
    if (row < 0) {
        row = FindDevice(std::to_string(settings::kDefaultDevice));
    }
    m_session.SelectDeviceRow(row);
    ShowDevice();

    m_bProgLoaded = 0;
    m_bDataLoaded = 0;

    if (!m_session.SelectPort(ComPortName(nPort))) {
        // Where to look, when the system said: in use, missing, forbidden.
        m_strMessages = kNotFound + m_session.PortTroubleLine(ComPortName(nPort));
    }
    ShowOnScreen();
    RefreshCommandStates();
}

// ---------------------------------------------------------------------------
// Exchange with the controls and the message pane.

void CProgrammerDlg::TakeFromScreen() {
    m_ticks.m_bLockBit1 = m_checkLockBit1->isChecked() ? 1 : 0;
    m_ticks.m_bLockBit2 = m_checkLockBit2->isChecked() ? 1 : 0;
    m_ticks.m_bFstrt = m_checkFstrt->isChecked() ? 1 : 0;
    m_ticks.m_bSpien = m_checkSpien->isChecked() ? 1 : 0;
    m_strProgRange = m_labelProgRange->text().toStdString();
    m_strDataRange = m_labelDataRange->text().toStdString();
    // The pane is read-only: its text is m_strMessages as last shown, which
    // keeps the carriage returns the control itself does not hold.
}

void CProgrammerDlg::ShowOnScreen() {
    m_checkLockBit1->setChecked(m_ticks.m_bLockBit1 != 0);
    m_checkLockBit2->setChecked(m_ticks.m_bLockBit2 != 0);
    m_checkFstrt->setChecked(m_ticks.m_bFstrt != 0);
    m_checkSpien->setChecked(m_ticks.m_bSpien != 0);
    m_labelProgRange->setText(QString::fromStdString(m_strProgRange));
    m_labelDataRange->setText(QString::fromStdString(m_strDataRange));

    // The text only grows between replacements: add what is new instead of
    // setting the whole of a text that grows for the whole run.
    const bool grown = m_strMessages.size() >= m_strShownMessages.size() &&
                       m_strMessages.compare(0, m_strShownMessages.size(), m_strShownMessages) == 0;
    if (grown) {
        if (m_strMessages.size() > m_strShownMessages.size()) {
            QTextCursor cursor(m_editMessages->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(ForDisplay(m_strMessages, m_strShownMessages.size()));
        }
    } else {
        m_editMessages->setPlainText(ForDisplay(m_strMessages, 0));
    }
    m_strShownMessages = m_strMessages;
    // The newest line is the one the user is waiting for: the pane always
    // shows it, also while an operation posts line after line.
    ScrollToEnd();
}

void CProgrammerDlg::AddMessage(const std::string& text) {
    m_strMessages += text;
}

void CProgrammerDlg::AppendMessage(const std::string& text) {
    AddMessage(text);
    ShowOnScreen();
    ScrollToEnd();
}

std::string CProgrammerDlg::LastLine() const {
    size_t end = m_strMessages.find_last_not_of("\r\n");
    if (end == std::string::npos) {
        return std::string();
    }
    const size_t start = m_strMessages.find_last_of('\n', end);
    return m_strMessages.substr(start == std::string::npos ? 0 : start + 1,
                                end + 1 - (start == std::string::npos ? 0 : start + 1));
}

void CProgrammerDlg::ScrollToEnd() {
    QScrollBar* bar = m_editMessages->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CProgrammerDlg::ReplaceMessages(const std::string& text) {
    m_strMessages = text;
    ShowOnScreen();
}

void CProgrammerDlg::SetProgressRange(int maximum) {
    m_progress->setRange(0, maximum);
}

void CProgrammerDlg::SetProgressPos(int position) {
    m_nProgressPos = position;
    m_bProgressPending = true;
    // A new position makes the bar query its style and repaint at once,
    // which for every word of a large device would add a sizeable share to
    // the operation. While an operation runs the bar takes the position at
    // each pause between words, as often as the window can show it, and at
    // the end of the operation.
    if (!IsOperationRunning()) {
        ShowProgress();
    }
}

void CProgrammerDlg::ShowProgress() {
    if (m_bProgressPending) {
        m_bProgressPending = false;
        m_progress->setValue(m_nProgressPos);
    }
}

void CProgrammerDlg::RefreshProgView() {
    m_listProg->Model()->Refresh(m_session.Images().m_progImage, m_session.ProgSize());
    FitView(m_listProg);
    m_listProg->scrollToTop();
}

void CProgrammerDlg::RefreshDataView() {
    m_listData->Model()->Refresh(m_session.Images().m_dataImage, m_session.DataSize());
    FitView(m_listData);
    m_listData->scrollToTop();
}

void CProgrammerDlg::FitView(CHexTableView* view) {
    // A part with more memory has longer row labels: the view, and with it
    // the fixed-size window, grows to show them whole.
    if (view->FitColumns()) {
        view->setFixedWidth(view->FullWidth());
    }
}

// ---------------------------------------------------------------------------
// Long operations.

void CProgrammerDlg::ImageChanged(bool prog, bool loaded) {
    if (prog) {
        m_bProgLoaded = loaded ? 1 : m_bProgLoaded;
        RefreshProgView();
    } else {
        m_bDataLoaded = loaded ? 1 : m_bDataLoaded;
        RefreshDataView();
    }
}

void CProgrammerDlg::Yield() {
    if (m_yieldClock.isValid() && m_yieldClock.elapsed() < kYieldIntervalMs) {
        return;
    }
    ShowProgress();
    // Repaints, Stop and Esc run; the filter holds back every other click
    // and key until the operation ends. An operation run from another
    // window (the Fuses window) has no Stop: input waits altogether.
    QCoreApplication::processEvents(IsOperationRunning() ? QEventLoop::AllEvents
                                                         : QEventLoop::ExcludeUserInputEvents);
    m_yieldClock.start();
}

bool CProgrammerDlg::StopRequested() {
    Yield();
    return m_bStopRequested;
}

bool CProgrammerDlg::MeantForStop(QObject* watched, QEvent* event) const {
    if (watched == m_buttonStop) {
        return true;
    }
    // The window system hands a click to the top-level window first, which
    // then passes it on to the widget under the pointer: the window's copy
    // must go through when that widget is Stop, or no click ever reaches it.
    // A release after a press on Stop belongs to Stop wherever it happens,
    // so that the button can tell a click from a press dragged away.
    const QWindow* window = windowHandle();
    if (window == nullptr || watched != window) {
        return false;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: {
            if (event->type() == QEvent::MouseButtonRelease && m_buttonStop->isDown()) {
                return true;
            }
            const auto* mouse = static_cast<const QMouseEvent*>(event);
            const QWidget* under = childAt(mapFromGlobal(mouse->globalPosition().toPoint()));
            return under != nullptr && (under == m_buttonStop || m_buttonStop->isAncestorOf(under));
        }
        default:
            return false;
    }
}

bool CProgrammerDlg::HoldsBackInput(QObject* watched, QEvent* event) {
    const bool onStop = MeantForStop(watched, event);
    switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                RequestStop();
                return true;
            }
            return !onStop;
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return !onStop;
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::Drop:
            return true;
        default:
            break;
    }
    return false;
}

void CProgrammerDlg::RunOperation(const std::function<void()>& operation) {
    if (m_nOperationDepth++ == 0) {
        m_bStopRequested = false;
        // Each operation's bar starts from nothing, also after one that stopped.
        m_nProgressPos = m_progress->minimum();
        m_bProgressPending = false;
        m_progress->setValue(m_nProgressPos);
        m_buttonStop->setVisible(true);
    }
    m_yieldClock.invalidate();
    operation();
    if (--m_nOperationDepth == 0) {
        m_buttonStop->setVisible(false);
        m_bStopRequested = false;
    }
    ShowProgress();
    if (!IsOperationRunning() && m_bCloseAfterOperation) {
        m_bCloseAfterOperation = false;
        close();
    }
}

void CProgrammerDlg::done(int result) {
    if (IsOperationRunning()) {
        // The operation stops first; the window closes once it has.
        RequestStop();
        m_bCloseAfterOperation = true;
        return;
    }
    SaveRecentFiles();
    // A simulated chip with a state file keeps what the session did to it,
    // as the command-line tool's does.
    std::string error;
    if (!m_session.SavePortState(error)) {
        qWarning("%s", error.c_str());
    }
    QDialog::done(result);
}

void CProgrammerDlg::closeEvent(QCloseEvent* event) {
    if (IsOperationRunning()) {
        RequestStop();
        m_bCloseAfterOperation = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// ---------------------------------------------------------------------------
// Menus and commands.

void CProgrammerDlg::RefreshCommandStates() {
    const bool anyLoaded = m_bProgLoaded != 0 || m_bDataLoaded != 0;
    for (QAction* menuAction : m_menuBar->actions()) {
        QMenu* menu = menuAction->menu();
        if (menu == nullptr) {
            continue;
        }
        // Items of nested submenus are not visited.
        for (QAction* item : menu->actions()) {
            if (item->isSeparator() || item->menu() != nullptr) {
                continue;
            }
            const int id = item->data().toInt();
            switch (id) {
                case ids::kFileClose:
                case ids::kFileSave:
                case ids::kFileSaveAs:
                    item->setEnabled(anyLoaded);
                    break;
                case ids::kSaveProgFile:
                case ids::kSaveAsProgFile:
                    item->setEnabled(m_bProgLoaded != 0);
                    break;
                case ids::kSaveDataFile:
                case ids::kSaveAsDataFile:
                    item->setEnabled(m_bDataLoaded != 0);
                    break;
                default:
                    if (const int device = DeviceOfCommand(id); device != 0) {
                        item->setChecked(m_session.DeviceNumber() == device);
                    }
                    break;
            }
        }
    }
}

void CProgrammerDlg::OnCommand(int id) {
    if (const int device = DeviceOfCommand(id); device != 0) {
        SetDevice(device);
    } else if (id == ids::kAutoDetect) {
        OnAutoDetect();
    } else if (id == ids::kOtherDevice) {
        OnOtherDevice();
    } else if (id == ids::kFuses) {
        OnFuses();
    } else if (id == ids::kSetUp) {
        OnSetUp();
    } else if (id == ids::kProduction) {
        OnProduction();
    } else if (id == ids::kAbout) {
        OnAbout();
    } else if (id == ids::kExit) {
        accept();
    } else if (IsOperationButton(id)) {
        OnOperationButton(id);
    } else {
        OnFileCommand(id);
    }
}

void CProgrammerDlg::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint global = event->globalPos();
    struct Popup {
        CHexTableView* view;
        int open, save, saveAs;
    };
    const Popup popups[] = {
        {m_listProg, ids::kOpenProgFile, ids::kSaveProgFile, ids::kSaveAsProgFile},
        {m_listData, ids::kOpenDataFile, ids::kSaveDataFile, ids::kSaveAsDataFile},
    };
    for (const Popup& p : popups) {
        if (!p.view->rect().contains(p.view->mapFromGlobal(global))) {
            continue;
        }
        QMenu menu(this);
        AddCommand(&menu, QStringLiteral("Open File"), p.open);
        AddCommand(&menu, QStringLiteral("Save File"), p.save);
        AddCommand(&menu, QStringLiteral("Save As File"), p.saveAs);
        // Centred horizontally on the pointer.
        menu.exec(global - QPoint(menu.sizeHint().width() / 2, 0));
        return;
    }
}

// ---------------------------------------------------------------------------
// Device selection.

void CProgrammerDlg::SetDevice(int nDevice) {
    m_session.SelectDevice(nDevice);
    ShowDevice();
}

void CProgrammerDlg::ShowDevice() {
    if (m_session.DeviceNumber() == kNoDeviceNumber) {
        m_profile.WriteString(settings::kDeviceSection, settings::kDeviceType,
                              m_session.DeviceName());
    } else {
        m_profile.WriteInt(settings::kDeviceSection, settings::kDeviceType,
                           m_session.DeviceNumber());
    }
    m_groupMemory->setTitle(QString::fromStdString(m_session.DeviceName()));
    m_strProgRange =
        QString::asprintf("Program : 0x000 - 0x%X", std::max(m_session.ProgSize() - 1, 0))
            .toStdString();
    m_strDataRange = QString::asprintf("Data : 0x00 - 0x%X", std::max(m_session.DataSize() - 1, 0))
                         .toStdString();
    // FSTRT is a box only on parts that have that fuse; elsewhere the bit in
    // its place is another fuse (or none), which the window never writes.
    const DeviceInfo* device = m_session.Device();
    const bool hasFstrt = device != nullptr && device->fstrtWrite != nullptr;
    m_checkFstrt->setEnabled(hasFstrt);
    if (!hasFstrt) {
        m_ticks.m_bFstrt = 0;
    }
    RefreshProgView();
    RefreshDataView();
    ShowOnScreen();
    ScrollToEnd();
}

void CProgrammerDlg::OnOtherDevice() {
    const QStringList recent =
        QString::fromStdString(
            m_profile.GetString(settings::kDeviceSection, settings::kRecentDevices, ""))
            .split(QLatin1Char(kRecentDeviceSeparator), Qt::SkipEmptyParts);
    const QString name = m_deviceChooser(this, recent);
    const int row = FindDevice(name.toStdString());
    if (row < 0) {
        return;  // cancelled
    }
    m_profile.WriteString(settings::kDeviceSection, settings::kRecentDevices,
                          WithRecentDevice(recent, QString::fromLatin1(g_deviceTable[row].name))
                              .join(QLatin1Char(kRecentDeviceSeparator))
                              .toStdString());
    m_session.SelectDeviceRow(row);
    ShowDevice();
}

void CProgrammerDlg::OnFuses() {
    if (m_session.Device() != nullptr && m_session.Device()->updiPart != nullptr) {
        CUpdiFusesDlg dlg(m_session, this);
        dlg.SetResultLine([this] { return LastLine(); });
        dlg.exec();
        return;
    }
    CFusesDlg dlg(m_session, this);
    OfferFileFuses(dlg);
    dlg.exec();
}

void CProgrammerDlg::OnAutoDetect() {
    if (m_session.AutoDetect()) {
        ShowDevice();
    } else {
        ShowOnScreen();
        ScrollToEnd();
    }
}

// ---------------------------------------------------------------------------
// Port setup and About box.

void CProgrammerDlg::OnSetUp() {
    CComSelectDlg dlg(m_session, this);
    dlg.m_nSelPort = m_session.PortNumber() - 1;
    dlg.InitDialog();
    if (dlg.exec() != QDialog::Accepted) {
        return;
    }
    if (m_session.SelectPort(ComPortName(dlg.m_nSelPort))) {
        m_profile.WriteInt(settings::kComSection, settings::kComPort, dlg.m_nSelPort);
    } else {
        ReplaceMessages(kNotFound + m_session.PortTroubleLine(ComPortName(dlg.m_nSelPort)));
    }
}

void CProgrammerDlg::OnAbout() {
    CAboutDlg dlg(this);
    dlg.exec();
}
