#include "app/ProductionDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kResultPointSize = 40;
constexpr int kButtonPointSize = 16;
constexpr int kButtonHeight = 64;
constexpr int kYieldEveryMs = 30;
// A simulated socket waits in virtual time: the window need not wait long.
constexpr int kSimulatedPollMs = 5;
const char* const kPassColour = "color: #1a7f37;";
const char* const kFailColour = "color: #cf222e;";

QString FileName(const std::string& path) {
    return path.empty() ? QStringLiteral("-") : QFileInfo(QString::fromStdString(path)).fileName();
}

}  // namespace

CProductionDlg::CProductionDlg(const Recipe& recipe, const std::string& port, QWidget* parent)
    : QDialog(parent), m_recipe(recipe), m_port(port) {
    setWindowTitle(QStringLiteral("Production - ") + FileName(recipe.path));
    auto* layout = new QVBoxLayout(this);
    m_recipeLabel = new QLabel(this);
    m_recipeLabel->setObjectName(QStringLiteral("recipe"));
    m_serialLabel = new QLabel(this);
    m_serialLabel->setObjectName(QStringLiteral("nextSerial"));
    m_countersLabel = new QLabel(this);
    m_countersLabel->setObjectName(QStringLiteral("counters"));
    m_resultLabel = new QLabel(QStringLiteral("-"), this);
    m_resultLabel->setObjectName(QStringLiteral("result"));
    m_resultLabel->setAlignment(Qt::AlignCenter);
    QFont big = m_resultLabel->font();
    big.setPointSize(kResultPointSize);
    big.setBold(true);
    m_resultLabel->setFont(big);
    m_failureLabel = new QLabel(this);
    m_failureLabel->setObjectName(QStringLiteral("failure"));
    m_failureLabel->setAlignment(Qt::AlignCenter);
    m_failureLabel->setWordWrap(true);
    m_stateLabel = new QLabel(this);
    m_stateLabel->setObjectName(QStringLiteral("state"));
    m_programButton = new QPushButton(QStringLiteral("Program next"), this);
    m_programButton->setObjectName(QStringLiteral("programNext"));
    QFont buttonFont = m_programButton->font();
    buttonFont.setPointSize(kButtonPointSize);
    m_programButton->setFont(buttonFont);
    m_programButton->setMinimumHeight(kButtonHeight);
    m_programButton->setDefault(true);
    m_automaticBox = new QCheckBox(QStringLiteral("Automatic: program each chip put in"), this);
    m_automaticBox->setObjectName(QStringLiteral("automatic"));
    m_stopButton = new QPushButton(QStringLiteral("Stop"), this);
    m_stopButton->setObjectName(QStringLiteral("stop"));
    m_stopButton->setAutoDefault(false);
    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    m_closeButton->setObjectName(QStringLiteral("close"));
    m_closeButton->setAutoDefault(false);
    for (QWidget* widget :
         {static_cast<QWidget*>(m_recipeLabel), static_cast<QWidget*>(m_serialLabel),
          static_cast<QWidget*>(m_countersLabel), static_cast<QWidget*>(m_resultLabel),
          static_cast<QWidget*>(m_failureLabel), static_cast<QWidget*>(m_stateLabel),
          static_cast<QWidget*>(m_programButton), static_cast<QWidget*>(m_automaticBox)}) {
        layout->addWidget(widget);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_stopButton);
    buttons->addStretch();
    buttons->addWidget(m_closeButton);
    layout->addLayout(buttons);
    m_pollTimer = new QTimer(this);
    connect(m_programButton, &QPushButton::clicked, this, &CProductionDlg::OnProgramNext);
    connect(m_automaticBox, &QCheckBox::toggled, this, &CProductionDlg::OnAutomatic);
    connect(m_stopButton, &QPushButton::clicked, this, &CProductionDlg::OnStop);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_pollTimer, &QTimer::timeout, this, &CProductionDlg::OnPoll);
    m_programButton->setFocus();
}

CProductionDlg::~CProductionDlg() = default;

bool CProductionDlg::Start(std::string& error) {
    ProductionOptions options;
    options.ports = {m_port};
    m_run = std::make_unique<CProductionRun>(m_recipe, options, nullptr, nullptr);
    if (!m_run->Prepare(error)) {
        return false;
    }
    StationControl control;
    control.stopRequested = [this] { return m_stopRequested; };
    control.requestStop = [this] { m_stopRequested = true; };
    control.yield = [this] { YieldToWindow(); };
    m_station = std::make_unique<CProductionStation>(m_port, m_recipe, m_run->Images(),
                                                     &m_run->Serials(), &m_run->Log(), control);
    if (!m_station->Open(error)) {
        return false;
    }
    m_pollTimer->setInterval(m_station->Virtual() ? kSimulatedPollMs : kIdlePollMs);
    m_recipeLabel->setText(QStringLiteral("%1 on %2\nFlash: %3   EEPROM: %4   Log: %5")
                               .arg(QString::fromStdString(m_run->Images().partName),
                                    QString::fromStdString(m_port), FileName(m_recipe.flashFile),
                                    FileName(m_recipe.eepromFile), FileName(m_run->Log().Path())));
    ShowState();
    return true;
}

void CProductionDlg::YieldToWindow() {
    // The window repaints and Stop answers; the other controls are disabled.
    if (!m_sinceYield.isValid() || m_sinceYield.elapsed() >= kYieldEveryMs) {
        QCoreApplication::processEvents();
        m_sinceYield.restart();
    }
}

void CProductionDlg::ShowState() {
    m_serialLabel->setText(
        m_recipe.serial.enabled
            ? QStringLiteral("Next serial number: %1").arg(QString::number(m_run->Serials().Next()))
            : QStringLiteral("No serial numbers"));
    m_countersLabel->setText(QStringLiteral("Passed: %1   Failed: %2").arg(m_passed).arg(m_failed));
    const bool automatic = m_idle != Idle::Manual;
    m_programButton->setEnabled(!m_busy && !automatic);
    m_automaticBox->setEnabled(!m_busy);
    m_closeButton->setEnabled(!m_busy);
    m_stopButton->setEnabled(m_busy || automatic);
    switch (m_idle) {
        case Idle::Manual:
            m_stateLabel->setText(m_busy ? QStringLiteral("Programming...")
                                         : QStringLiteral("Put a chip in and press Program next"));
            break;
        case Idle::WaitingForChip:
            m_stateLabel->setText(m_busy ? QStringLiteral("Programming...")
                                         : QStringLiteral("Waiting for a chip"));
            break;
        case Idle::WaitingForRemoval:
            m_stateLabel->setText(QStringLiteral("Take the chip out"));
            break;
    }
}

void CProductionDlg::ShowRecord(const ChipRecord& record) {
    const bool pass = record.result == ChipResult::Pass;
    m_resultLabel->setText(pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    m_resultLabel->setStyleSheet(QString::fromLatin1(pass ? kPassColour : kFailColour));
    QString detail = QString::fromStdString(record.failure);
    if (!record.serial.empty()) {
        detail = QStringLiteral("Serial %1").arg(QString::fromStdString(record.serial)) +
                 (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    }
    m_failureLabel->setText(detail);
}

void CProductionDlg::ProgramOne() {
    m_busy = true;
    m_stopRequested = false;
    ShowState();
    const ChipRecord record = m_station->ProgramChip();
    m_busy = false;
    if (record.result == ChipResult::Pass) {
        ++m_passed;
    } else if (record.result == ChipResult::Fail) {
        ++m_failed;
    }
    ShowRecord(record);
    ShowState();
    // Disabled while it ran, the button lost the focus: Space is for it.
    if (m_programButton->isEnabled()) {
        m_programButton->setFocus();
    }
}

void CProductionDlg::OnProgramNext() {
    if (m_busy || m_idle != Idle::Manual || m_station == nullptr) {
        return;
    }
    ProgramOne();
}

void CProductionDlg::SetIdle(Idle idle) {
    m_idle = idle;
    if (idle == Idle::WaitingForChip) {
        m_station->ChipAwaited();
    } else if (idle == Idle::WaitingForRemoval) {
        m_station->RemovalAwaited();
    }
    if (idle == Idle::Manual) {
        m_pollTimer->stop();
    } else {
        m_pollTimer->start();
    }
    ShowState();
}

void CProductionDlg::OnAutomatic(bool on) {
    if (m_station == nullptr) {
        return;
    }
    SetIdle(on ? Idle::WaitingForChip : Idle::Manual);
}

void CProductionDlg::OnPoll() {
    if (m_busy || m_idle == Idle::Manual) {
        return;
    }
    // Polled only while idle: the timer waits while a chip is programmed.
    m_pollTimer->stop();
    if (m_station->Virtual()) {
        m_station->IdleWait();
    }
    std::string signature;
    const ChipPresence presence = m_station->Probe(signature);
    if (m_idle == Idle::WaitingForChip && presence != ChipPresence::Absent) {
        ProgramOne();
        if (m_stopRequested) {
            m_automaticBox->setChecked(false);
            return;
        }
        SetIdle(Idle::WaitingForRemoval);
        return;
    }
    if (m_idle == Idle::WaitingForRemoval && presence == ChipPresence::Absent) {
        SetIdle(Idle::WaitingForChip);
        return;
    }
    m_pollTimer->start();
}

void CProductionDlg::OnStop() {
    if (m_busy) {
        m_stopRequested = true;
        return;
    }
    m_automaticBox->setChecked(false);
}

void CProductionDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && (m_busy || m_idle != Idle::Manual)) {
        OnStop();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CProductionDlg::closeEvent(QCloseEvent* event) {
    if (m_busy) {
        // Stops the chip first; the window closes once it has ended.
        m_stopRequested = true;
        event->ignore();
        return;
    }
    m_pollTimer->stop();
    QDialog::closeEvent(event);
}
