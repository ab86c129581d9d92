#include "app/FusesDlg.h"
#include "app/CutOffQuestion.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
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

#include "parts/DeviceTable.h"
#include "parts/FuseBits.h"
#include "parts/FuseFields.h"
#include "session/ProgrammingSession.h"

namespace {

constexpr int kHexDigits = 2;
constexpr int kGroupColumns = 2;
constexpr int kHexBase = 16;

// "E2": a byte as the hex fields show it.
QString HexByte(uint8_t value) {
    return QString::number(value, kHexBase).rightJustified(kHexDigits, QLatin1Char('0')).toUpper();
}

FuseByteValues AsFieldBytes(const std::array<uint8_t, kFuseByteCount>& values) {
    return {values[0], values[1], values[2]};
}

// The question names what would happen with this window's adapter.
bool AskCutOffConsent(QWidget* parent, const QString& reasons) {
    return AskCutOffQuestion(
        parent,
        QObject::tr("Writing these fuses can cut the chip off from this adapter:\n\n%1.\n\n"
                    "It could then be programmed again only with a high-voltage "
                    "programmer (or with the clock its fuses ask for)."),
        reasons);
}

}  // namespace

CFusesDlg::CFusesDlg(CProgrammingSession& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_consent(AskCutOffConsent) {
    const DeviceInfo* device = m_session.Device();
    m_present = device != nullptr ? device->fuseBytes : 0;
    setWindowTitle(tr("Fuses - %1").arg(device != nullptr ? device->name : ""));

    auto* bytes = new QGridLayout;
    int placed = 0;
    for (int i = 0; i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        if ((m_present & g_fuseBytes[i].mask) == 0) {
            continue;
        }
        auto* group = new QGroupBox(tr(g_fuseBytes[i].title), this);
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

    // Each setting in words, beside the bits it is made of; the start-up
    // line offers the table of the clock source the bits select.
    QGroupBox* settings = nullptr;
    if (device != nullptr && m_present != 0) {
        const std::vector<FuseSetting> lines = DecodeFuseFields(*device, AsFieldBytes(m_values));
        if (!lines.empty()) {
            settings = new QGroupBox(tr("Settings"), this);
            auto* form = new QFormLayout(settings);
            for (size_t line = 0; line < lines.size(); ++line) {
                auto* box = new QComboBox(settings);
                box->setObjectName(QStringLiteral("fuseSetting%1").arg(line));
                box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
                const int at = static_cast<int>(line);
                connect(box, QOverload<int>::of(&QComboBox::activated), this,
                        [this, at](int index) { SettingChosen(at, index); });
                form->addRow(tr(lines[line].title) + QStringLiteral(":"), box);
                m_settings.push_back(box);
            }
        }
    }

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("fuseNote"));
    m_status->setWordWrap(true);
    // The outcome of Read, Write and Verify, where the user is looking: the
    // main window's pane lies under this one.
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("fuseResult"));
    m_result->setWordWrap(true);
    m_result->setFrameStyle(QFrame::Panel | QFrame::Sunken);
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
    if (settings != nullptr) {
        // In the next free place beside the bytes' bits.
        bytes->addWidget(settings, placed / kGroupColumns, placed % kGroupColumns);
    }
    layout->addLayout(bytes);
    layout->addWidget(m_status);
    layout->addWidget(m_offeredLabel);
    layout->addWidget(note);
    layout->addWidget(m_calibration);
    layout->addWidget(m_result);
    layout->addWidget(buttons);
    Show();
    // What the chip holds is shown without asking, when the adapter answers.
    if (m_present != 0) {
        Read();
    }
}

CFusesDlg::~CFusesDlg() {
    // A window closed while a hex field has the focus finishes the edit as
    // it hides, which is after this window's own members are gone.
    for (QLineEdit* hex : m_hex) {
        if (hex != nullptr) {
            disconnect(hex, nullptr, this, nullptr);
        }
    }
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
        if ((m_offeredMask & g_fuseBytes[i].mask) != 0) {
            named << QStringLiteral("%1=0x%2")
                         .arg(QString::fromLatin1(g_fuseBytes[i].name))
                         .arg(QString::number(values[static_cast<size_t>(i)], kHexBase)
                                  .rightJustified(kHexDigits, QLatin1Char('0'))
                                  .toUpper());
        }
    }
    m_offeredLabel->setText(tr("Values to write from %1: %2 (they replace the chip's after Read)")
                                .arg(source, named.join(QStringLiteral(", "))));
    m_offeredLabel->setVisible(m_offeredMask != 0);
    m_offeredSource = source;
}

QString CFusesDlg::OfferedText() const {
    return m_offeredMask != 0 ? m_offeredLabel->text() : QString();
}

QString CFusesDlg::CalibrationText() const {
    return m_calibration->text();
}

QString CFusesDlg::StatusText() const {
    return m_status->text();
}

QString CFusesDlg::ResultText() const {
    return m_result->text();
}

QString CFusesDlg::NoteText() const {
    if (!m_haveRead) {
        return m_readFailed ? tr("The fuses could not be read: no adapter, no chip, or another "
                                 "device answered (the main window's messages say which). Nothing "
                                 "is shown until Read succeeds.")
                            : QString();
    }
    if (m_values == m_read) {
        return m_written ? tr("The values shown are the chip's, as written and read back.")
                         : tr("The values shown are the chip's, as read.");
    }
    std::array<uint8_t, kFuseByteCount> offered = m_read;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((m_offeredMask & g_fuseBytes[i].mask) != 0) {
            offered[static_cast<size_t>(i)] = m_offered[static_cast<size_t>(i)];
        }
    }
    if (m_offerApplied && m_values == offered) {
        return tr("The values shown are taken from %1 and not yet written: Write puts them "
                  "into the chip.")
            .arg(m_offeredSource);
    }
    return tr(
        "The values shown are edited and not yet written: Write puts them into the chip, "
        "Read shows the chip's again.");
}

void CFusesDlg::SetResultLine(std::function<std::string()> lastLine) {
    m_lastLine = std::move(lastLine);
    if (m_haveResult) {
        ShowResult(m_lastOk);
    }
}

void CFusesDlg::ShowResult(bool ok, const QString& detail) {
    m_haveResult = true;
    m_lastOk = ok;
    QString line = m_lastLine ? QString::fromStdString(m_lastLine()).trimmed() : QString();
    if (line.isEmpty()) {
        line = ok ? tr("Done.") : tr("Failed.");
    }
    m_result->setText(detail.isEmpty() ? line : line + QLatin1Char(' ') + detail);
}

void CFusesDlg::Show() {
    for (int i = 0; i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        if (m_hex[index] == nullptr) {
            continue;
        }
        // Before the chip's values are known nothing stands for them: no
        // hex value, and boxes neither ticked nor unticked.
        const QSignalBlocker block(m_hex[index]);
        m_hex[index]->setEnabled(m_haveRead);
        m_hex[index]->setText(
            m_haveRead ? QStringLiteral("%1")
                             .arg(m_values[index], kHexDigits, kHexBase, QLatin1Char('0'))
                             .toUpper()
                       : QString());
        for (int bit = 0; bit < kBitsPerFuse; ++bit) {
            if (QCheckBox* box = m_bits[index][static_cast<size_t>(bit)]) {
                const QSignalBlocker blockBox(box);
                box->setEnabled(m_haveRead);
                box->setTristate(!m_haveRead);
                if (m_haveRead) {
                    box->setChecked(((m_values[index] >> bit) & 1) == 0);
                } else {
                    box->setCheckState(Qt::PartiallyChecked);
                }
            }
        }
    }
    ShowSettings();
    m_status->setText(NoteText());
    // Nothing is written or compared before the chip's own values are known.
    m_write->setEnabled(m_haveRead);
    m_verify->setEnabled(m_haveRead);
}

void CFusesDlg::ShowSettings() {
    const DeviceInfo* device = m_session.Device();
    if (device == nullptr || m_settings.empty()) {
        return;
    }
    const FuseByteValues values = AsFieldBytes(m_values);
    const std::vector<FuseSetting> lines = DecodeFuseFields(*device, values);
    for (size_t line = 0; line < m_settings.size() && line < lines.size(); ++line) {
        QComboBox* box = m_settings[line];
        const QSignalBlocker block(box);
        box->clear();
        const FuseField* field = lines[line].field;
        box->setEnabled(m_haveRead && field != nullptr);
        if (!m_haveRead) {
            box->setPlaceholderText(QString());
            continue;
        }
        // Each value as it would stand with the other bits as they are (the
        // clock source with the divider the bits set).
        for (int c = 0; field != nullptr && c < field->count; ++c) {
            box->addItem(QString::fromStdString(
                FuseChoiceWords(*device, values, *field, field->choices[c])));
        }
        // A value the datasheet does not list is said so, and none of the
        // listed ones is selected.
        box->setPlaceholderText(QString::fromStdString(lines[line].words));
        box->setCurrentIndex(lines[line].choice != nullptr && field != nullptr
                                 ? static_cast<int>(lines[line].choice - field->choices)
                                 : -1);
    }
}

void CFusesDlg::SettingChosen(int line, int index) {
    const DeviceInfo* device = m_session.Device();
    if (device == nullptr || !m_haveRead) {
        return;
    }
    FuseByteValues values = AsFieldBytes(m_values);
    const std::vector<FuseSetting> lines = DecodeFuseFields(*device, values);
    const FuseField* field =
        static_cast<size_t>(line) < lines.size() ? lines[static_cast<size_t>(line)].field : nullptr;
    if (field == nullptr || index < 0 || index >= field->count) {
        return;
    }
    ApplyFuseChoice(values, *field, field->choices[index]);
    for (size_t i = 0; i < m_values.size(); ++i) {
        m_values[i] = values[i];
    }
    Show();
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
    m_haveRead = false;  // a failed read leaves nothing known
    m_written = false;
    m_offerApplied = false;
    if (ok) {
        m_read = fuses;
        m_values = fuses;
        for (int i = 0; i < kFuseByteCount; ++i) {
            if ((m_offeredMask & g_fuseBytes[i].mask) != 0) {
                m_values[static_cast<size_t>(i)] = m_offered[static_cast<size_t>(i)];
                m_offerApplied = true;
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
    m_readFailed = !m_haveRead;
    if (!m_haveRead) {
        m_calibration->clear();
    }
    Show();
    ShowResult(ok);
    return ok;
}

bool CFusesDlg::Write() {
    const DeviceInfo* device = m_session.Device();
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
        m_written = true;
    }
    Show();
    ShowResult(ok);
    return ok;
}

bool CFusesDlg::Verify() {
    if (!m_haveRead) {
        return false;
    }
    std::array<uint8_t, kFuseByteCount> chip{};
    uint8_t differing = 0;
    const bool ok = m_session.Operations().VerifyFuses(m_values, m_present, &chip, &differing);
    // Which byte differs, and both values: what the user needs to decide
    // whether to write or to read.
    QStringList details;
    for (int i = 0; i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        if ((differing & g_fuseBytes[i].mask) != 0) {
            details << tr("%1: the chip has 0x%2, this window 0x%3.")
                           .arg(tr(g_fuseBytes[i].title))
                           .arg(HexByte(chip[index]), HexByte(m_values[index]));
        }
    }
    ShowResult(ok, details.join(QLatin1Char(' ')));
    return ok;
}
