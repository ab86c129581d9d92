#include "app/ComSelectDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppIcon.h"
#include "session/PortRegistry.h"
#include "session/ProgrammingSession.h"

namespace {

constexpr int kStatusMinWidth = 120;
constexpr int kIconSize = 32;
constexpr int kTroubleMaxWidth = 260;

// The session's port line without its leading space and line end.
std::string Trimmed(const std::string& line) {
    const size_t first = line.find_first_not_of(' ');
    const size_t last = line.find_last_not_of("\r\n");
    return first == std::string::npos || last < first ? std::string()
                                                      : line.substr(first, last - first + 1);
}

}  // namespace

CComSelectDlg::CComSelectDlg(CProgrammingSession& session, QWidget* parent)
    : QDialog(parent), m_session(session) {
    setWindowTitle(QStringLiteral("ISP Com Select"));
    setWindowIcon(AppIcon());

    auto* top = new QHBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Selection"), this);
    auto* grid = new QGridLayout(group);
    auto* comLabel = new QLabel(QStringLiteral("Com :"), group);
    m_comboPort = new QComboBox(group);
    m_comboPort->setObjectName(QStringLiteral("comboPort"));
    m_comboPort->setEditable(true);
    m_comboPort->setInsertPolicy(QComboBox::NoInsert);
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        m_comboPort->addItem(QString::fromStdString(ComPortName(n)));
    }
    m_comboPort->model()->sort(0);
    comLabel->setBuddy(m_comboPort);
    connect(m_comboPort->lineEdit(), &QLineEdit::textEdited, this, [this] { m_bTyped = true; });
    connect(m_comboPort, qOverload<int>(&QComboBox::activated), this, [this] { m_bTyped = false; });
    connect(m_comboPort, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { m_bTyped = false; });

    auto* check = new QPushButton(QStringLiteral("Check"), group);
    check->setObjectName(QStringLiteral("buttonCheck"));
    connect(check, &QPushButton::clicked, this, &CComSelectDlg::OnCheck);
    m_labelStatus = new QLabel(group);
    m_labelStatus->setObjectName(QStringLiteral("labelStatus"));
    m_labelStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_labelStatus->setAlignment(Qt::AlignCenter);
    m_labelStatus->setMinimumWidth(kStatusMinWidth);

    // Why the port cannot be used, where the system told: the same words as
    // the main window's port lines.
    m_labelTrouble = new QLabel(group);
    m_labelTrouble->setObjectName(QStringLiteral("labelTrouble"));
    m_labelTrouble->setWordWrap(true);
    m_labelTrouble->setMaximumWidth(kTroubleMaxWidth);
    m_labelTrouble->setVisible(false);

    grid->addWidget(comLabel, 0, 0);
    grid->addWidget(m_comboPort, 0, 1);
    grid->addWidget(check, 1, 0);
    grid->addWidget(m_labelStatus, 1, 1);
    grid->addWidget(m_labelTrouble, 2, 0, 1, 2);
    top->addWidget(group);

    auto* side = new QVBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("buttonOk"));
    // Enter presses OK, or the focused Check or Cancel button.
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CComSelectDlg::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("buttonCancel"));
    connect(cancel, &QPushButton::clicked, this, &CComSelectDlg::reject);
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(kIconSize, kIconSize));
    side->addWidget(ok);
    side->addWidget(cancel);
    side->addStretch(1);
    side->addWidget(icon, 0, Qt::AlignHCenter);
    top->addLayout(side);

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void CComSelectDlg::InitDialog() {
    ShowOnScreen();
    // An index outside the list (no port was ever given) selects nothing.
    const bool inList = m_nSelPort >= 0 && m_nSelPort < m_comboPort->count();
    m_comboPort->setCurrentIndex(inList ? m_nSelPort : -1);
    m_bTyped = false;
}

void CComSelectDlg::ShowOnScreen() {
    m_labelStatus->setText(QString::fromStdString(m_strStatus));
    m_labelTrouble->setText(QString::fromStdString(m_strTrouble));
    m_labelTrouble->setVisible(!m_strTrouble.empty());
}

void CComSelectDlg::TakeSelection() {
    // An entry counts only when it was chosen: text typed into the edit
    // field selects nothing, which gives port 0.
    const int index = m_bTyped ? -1 : m_comboPort->currentIndex();
    m_nSelPort = index + 1;
}

int CComSelectDlg::TestPort() {
    const std::string name = ComPortName(m_nSelPort);
    if (m_session.CheckAdapter(name)) {
        m_strTrouble.clear();
        return kResultOk;
    }
    m_strTrouble = Trimmed(m_session.PortTroubleLine(name));
    return kResultFailed;
}

void CComSelectDlg::OnCheck() {
    TakeSelection();
    m_strStatus = TestPort() == kResultOk ? kAdapterReadyText : kAdapterNotFoundText;
    ShowOnScreen();
}

void CComSelectDlg::accept() {
    TakeSelection();
    if (TestPort() == kResultOk) {
        QDialog::accept();
        return;
    }
    m_strStatus = kAdapterNotFoundText;
    ShowOnScreen();
}
