#include "app/FusesDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QStringList>
#include <QVBoxLayout>

#include "isp/DeviceTable.h"
#include "isp/FuseBits.h"
#include "session/ProgrammingSession.h"

namespace {

constexpr uint8_t kFuseMasks[kFuseByteCount] = {kLowFuse, kHighFuse, kExtendedFuse};
constexpr const char* kFuseTitles[kFuseByteCount] = {"Low fuse (lfuse)", "High fuse (hfuse)",
                                                     "Extended fuse (efuse)"};
constexpr const char* kFuseNames[kFuseByteCount] = {"lfuse", "hfuse", "efuse"};
constexpr int kHexDigits = 2;
constexpr int kGroupColumns = 2;
constexpr int kHexBase = 16;

// The desktop's question: the consequence in its words, and a button that
// says it again; Cancel is the default.
bool AskCutOffConsent(QWidget* parent, const QString& reasons) {
    QMessageBox box(
        QMessageBox::Warning, QObject::tr("Fuses"),
        QObject::tr("Writing these fuses can cut the chip off from this adapter:\n\n%1.\n\n"
                    "It could then be programmed again only with a high-voltage "
                    "programmer (or with the clock its fuses ask for).")
            .arg(reasons),
        QMessageBox::Cancel, parent);
    QPushButton* write =
        box.addButton(QObject::tr("Write and cut the chip off"), QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == write;
}

}  // namespace

CFusesDlg::CFusesDlg(CProgrammingSession& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_consent(AskCutOffConsent) {
    const DeviceInfo* device = m_session.Adapter().Device();
    m_present = device != nullptr ? device->fuseBytes : 0;
    setWindowTitle(tr("Fuses - %1").arg(device != nullptr ? device->name : ""));

    auto* bytes = new QGridLayout;
    int placed = 0;
    for (int i = 0; i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        if ((m_present & kFuseMasks[i]) == 0) {
            continue;
        }
        auto* group = new QGroupBox(tr(kFuseTitles[i]), this);
        auto* grid = new QGridLayout(group);
        auto* hex = new QLineEdit(group);
        hex->setObjectName(QStringLiteral("fuseHex%1").arg(i));
        hex->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("(0x)?[0-9A-Fa-f]{1,2}")), hex));
        grid->addWidget(new QLabel(tr("Value 0x"), group), 0, 0);
        grid->addWidget(hex, 0, 1);
        connect(hex, &QLineEdit::editingFinished, this, [this, i] { HexEdited(i); });
        m_hex[index] = hex;
        int line = 1;
        for (int bit = kBitsPerFuse - 1; bit >= 0; --bit) {
            const std::string name = FuseBitName(device->fuseNames, i, bit);
            if (name.empty()) {
                continue;  // no fuse
            }
            // Ticked: programmed (0), as the datasheets count it.
            auto* box = new QCheckBox(QString::fromStdString(name), group);
            box->setObjectName(QStringLiteral("fuse%1bit%2").arg(i).arg(bit));
            const QString meaning = QString::fromLatin1(FuseBitMeaning(name));
            box->setToolTip(meaning);
            grid->addWidget(box, line, 0);
            grid->addWidget(new QLabel(meaning, group), line, 1);
            connect(box, &QCheckBox::toggled, this, [this, i] { BitToggled(i); });
            m_bits[index][static_cast<size_t>(bit)] = box;
            ++line;
        }
        m_groups[index] = group;
        // Two bytes side by side, the third below the first.
        bytes->addWidget(group, placed / kGroupColumns, placed % kGroupColumns);
        ++placed;
    }

    m_calibration = new QLabel(this);
    m_offeredLabel = new QLabel(this);
    m_offeredLabel->setVisible(false);
    auto* note = new QLabel(
        tr("A ticked box is a programmed fuse bit (0); its line says what programming it does."),
        this);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* read = buttons->addButton(tr("&Read"), QDialogButtonBox::ActionRole);
    m_write = buttons->addButton(tr("&Write"), QDialogButtonBox::ActionRole);
    m_verify = buttons->addButton(tr("&Verify"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    connect(read, &QPushButton::clicked, this, [this] { Read(); });
    connect(m_write, &QPushButton::clicked, this, [this] { Write(); });
    connect(m_verify, &QPushButton::clicked, this, [this] { Verify(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    if (m_present == 0) {
        layout->addWidget(new QLabel(tr("This device has no fuses that serial programming can "
                                        "reach; its lock panel holds what it has."),
                                     this));
        read->setEnabled(false);
    }
    layout->addLayout(bytes);
    layout->addWidget(m_offeredLabel);
    layout->addWidget(note);
    layout->addWidget(m_calibration);
    layout->addWidget(buttons);
    Show();
}

void CFusesDlg::SetValue(int i, uint8_t value) {
    m_values[static_cast<size_t>(i)] = value;
    Show();
}

void CFusesDlg::OfferValues(const std::array<uint8_t, kFuseByteCount>& values, uint8_t mask,
                            const QString& source) {
    m_offered = values;
    m_offeredMask = static_cast<uint8_t>(mask & m_present);
    QStringList named;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((m_offeredMask & kFuseMasks[i]) != 0) {
            named << QStringLiteral("%1=0x%2")
                         .arg(QString::fromLatin1(kFuseNames[i]))
                         .arg(QString::number(values[static_cast<size_t>(i)], kHexBase)
                                  .rightJustified(kHexDigits, QLatin1Char('0'))
                                  .toUpper());
        }
    }
    m_offeredLabel->setText(tr("Values to write from %1: %2 (they replace the chip's after Read)")
                                .arg(source, named.join(QStringLiteral(", "))));
    m_offeredLabel->setVisible(m_offeredMask != 0);
}

QString CFusesDlg::OfferedText() const {
    return m_offeredMask != 0 ? m_offeredLabel->text() : QString();
}

QString CFusesDlg::CalibrationText() const {
    return m_calibration->text();
}

void CFusesDlg::Show() {
    for (int i = 0; i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        if (m_hex[index] == nullptr) {
            continue;
        }
        const QSignalBlocker block(m_hex[index]);
        m_hex[index]->setText(QStringLiteral("%1")
                                  .arg(m_values[index], kHexDigits, kHexBase, QLatin1Char('0'))
                                  .toUpper());
        for (int bit = 0; bit < kBitsPerFuse; ++bit) {
            if (QCheckBox* box = m_bits[index][static_cast<size_t>(bit)]) {
                const QSignalBlocker blockBox(box);
                box->setChecked(((m_values[index] >> bit) & 1) == 0);
            }
        }
    }
    // Nothing is written or compared before the chip's own values are known.
    m_write->setEnabled(m_haveRead);
    m_verify->setEnabled(m_haveRead);
}

void CFusesDlg::BitToggled(int i) {
    const size_t index = static_cast<size_t>(i);
    uint8_t value = m_values[index];
    for (int bit = 0; bit < kBitsPerFuse; ++bit) {
        if (QCheckBox* box = m_bits[index][static_cast<size_t>(bit)]) {
            const uint8_t mask = static_cast<uint8_t>(1u << bit);
            value = static_cast<uint8_t>(box->isChecked() ? value & ~mask : value | mask);
        }
    }
    SetValue(i, value);
}

void CFusesDlg::HexEdited(int i) {
    QString text = m_hex[static_cast<size_t>(i)]->text();
    text.remove(QStringLiteral("0x"), Qt::CaseInsensitive);
    bool ok = false;
    const uint value = text.toUInt(&ok, kHexBase);
    SetValue(i, ok ? static_cast<uint8_t>(value) : m_values[static_cast<size_t>(i)]);
}

bool CFusesDlg::Read() {
    std::array<uint8_t, kFuseByteCount> fuses{};
    uint8_t present = 0;
    int calibration = -1;
    const bool ok = m_session.Operations().ReadFuses(fuses, present, calibration);
    if (ok) {
        m_read = fuses;
        m_values = fuses;
        for (int i = 0; i < kFuseByteCount; ++i) {
            if ((m_offeredMask & kFuseMasks[i]) != 0) {
                m_values[static_cast<size_t>(i)] = m_offered[static_cast<size_t>(i)];
            }
        }
        m_haveRead = present == m_present && present != 0;
        m_calibration->setText(calibration >= 0
                                   ? tr("Calibration byte: 0x%1")
                                         .arg(QString::number(calibration, kHexBase)
                                                  .rightJustified(kHexDigits, QLatin1Char('0'))
                                                  .toUpper())
                                   : QString());
    }
    Show();
    return ok;
}

bool CFusesDlg::Write() {
    const DeviceInfo* device = m_session.Adapter().Device();
    if (!m_haveRead || device == nullptr) {
        return false;
    }
    const std::string reasons = FuseCutOffReasons(*device, m_read, m_values, m_present);
    const bool consent = !reasons.empty() && m_consent(this, QString::fromStdString(reasons));
    if (!reasons.empty() && !consent) {
        return false;  // nothing written, nothing said: the user said no
    }
    const bool ok = m_session.Operations().WriteFuses(m_values, m_present, consent, &m_read);
    if (ok) {
        m_read = m_values;
    }
    return ok;
}

bool CFusesDlg::Verify() {
    return m_haveRead && m_session.Operations().VerifyFuses(m_values, m_present);
}
