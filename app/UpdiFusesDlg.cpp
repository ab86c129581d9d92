#include "app/UpdiFusesDlg.h"
#include "app/CutOffQuestion.h"

#include <QComboBox>
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

#include "parts/DeviceTable.h"
#include "session/ProgrammingSession.h"

namespace {

constexpr int kHexDigits = 2;
constexpr int kHexBase = 16;
constexpr int kGroupColumns = 3;
constexpr int kValueRow = 0;
constexpr int kLabelColumn = 0;
constexpr int kControlColumn = 1;

QString HexByte(uint8_t value) {
    return QString::number(value, kHexBase).rightJustified(kHexDigits, QLatin1Char('0')).toUpper();
}

// The question names what would happen with this window's adapter.
bool AskCutOffConsent(QWidget* parent, const QString& reasons) {
    return AskCutOffQuestion(parent,
                             QObject::tr("Writing these fuses can cut the chip off from every UPDI "
                                         "adapter:\n\n%1."),
                             reasons);
}

}  // namespace

CUpdiFusesDlg::CUpdiFusesDlg(CProgrammingSession& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_consent(AskCutOffConsent) {
    const DeviceInfo* device = m_session.Device();
    m_part = device != nullptr ? device->updiPart : nullptr;
    setWindowTitle(tr("Fuses - %1").arg(device != nullptr ? device->name : ""));
    const size_t count = m_part != nullptr ? m_part->fuses.count : 0;
    m_chip.assign(count, 0);
    m_values.assign(count, 0);

    // The lines are the same for every value of the part's fuses: one
    // control a line, filled in by Show.
    const std::vector<SUpdiFuseLine> lines =
        m_part != nullptr ? DecodeUpdiFuses(*m_part, m_values) : std::vector<SUpdiFuseLine>();
    auto* groups = new QGridLayout;
    std::vector<QGridLayout*> grids;
    for (size_t i = 0; i < count; ++i) {
        const char* name = m_part->fuses.fuses[i].name;
        const SUpdiFuseWords* words = UpdiFuseWordsOf(*m_part, name);
        const QString title =
            words != nullptr ? QStringLiteral("%1 (%2)").arg(tr(words->title), QLatin1String(name))
                             : QString::fromLatin1(name);
        auto* group = new QGroupBox(title, this);
        group->setObjectName(QStringLiteral("updiFuse%1").arg(i));
        auto* grid = new QGridLayout(group);
        auto* hex = new QLineEdit(group);
        hex->setObjectName(QStringLiteral("updiFuseHex%1").arg(i));
        hex->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("(0x)?[0-9A-Fa-f]{1,2}")), hex));
        grid->addWidget(new QLabel(tr("Value 0x"), group), kValueRow, kLabelColumn);
        grid->addWidget(hex, kValueRow, kControlColumn);
        connect(hex, &QLineEdit::editingFinished, this, [this, i] { HexEdited(i); });
        m_hex.push_back(hex);
        grids.push_back(grid);
        const int at = static_cast<int>(i);
        groups->addWidget(group, at / kGroupColumns, at % kGroupColumns);
    }
    for (size_t line = 0; line < lines.size(); ++line) {
        const size_t fuse = LayoutIndex(lines[line].fuse);
        QGridLayout* grid = fuse < grids.size() ? grids[fuse] : nullptr;
        QWidget* group = grid != nullptr ? grid->parentWidget() : this;
        auto* words = new QLabel(group);
        words->setObjectName(QStringLiteral("updiFuseWords%1").arg(line));
        QComboBox* box = nullptr;
        if (lines[line].field != nullptr) {
            box = new QComboBox(group);
            box->setObjectName(QStringLiteral("updiFuseSetting%1").arg(line));
            box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
            connect(box, QOverload<int>::of(&QComboBox::activated), this,
                    [this, line](int index) { SettingChosen(line, index); });
            words->setVisible(false);  // the drop-down says it
        }
        if (grid != nullptr) {
            const int row = grid->rowCount();
            grid->addWidget(new QLabel(tr(lines[line].title) + QStringLiteral(":"), group), row,
                            kLabelColumn);
            grid->addWidget(box != nullptr ? static_cast<QWidget*>(box) : words, row,
                            kControlColumn);
        }
        m_settings.push_back(box);
        m_words.push_back(words);
    }

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("fuseNote"));
    m_status->setWordWrap(true);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("fuseResult"));
    m_result->setWordWrap(true);
    m_result->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* buttons = new QDialogButtonBox(this);
    m_read = buttons->addButton(tr("&Read"), QDialogButtonBox::ActionRole);
    m_write = buttons->addButton(tr("&Write"), QDialogButtonBox::ActionRole);
    m_verify = buttons->addButton(tr("&Verify"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    connect(m_read, &QPushButton::clicked, this, [this] { Read(); });
    connect(m_write, &QPushButton::clicked, this, [this] { Write(); });
    connect(m_verify, &QPushButton::clicked, this, [this] { Verify(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    if (count == 0) {
        layout->addWidget(new QLabel(tr("This device has no fuses to show."), this));
        m_read->setEnabled(false);
    }
    layout->addLayout(groups);
    layout->addWidget(m_status);
    layout->addWidget(m_result);
    layout->addWidget(buttons);
    Show();
    if (count != 0) {
        Read();  // what the chip holds is shown without asking
    }
}

CUpdiFusesDlg::~CUpdiFusesDlg() {
    // A window closed while a hex field has the focus finishes the edit as
    // it hides, which is after this window's own members are gone.
    for (QLineEdit* hex : m_hex) {
        disconnect(hex, nullptr, this, nullptr);
    }
}

size_t CUpdiFusesDlg::LayoutIndex(const char* fuse) const {
    for (size_t i = 0; m_part != nullptr && i < m_part->fuses.count; ++i) {
        if (QString::fromLatin1(m_part->fuses.fuses[i].name)
                .compare(QLatin1String(fuse), Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return m_values.size();
}

void CUpdiFusesDlg::SetValue(size_t fuse, uint8_t value) {
    if (fuse < m_values.size()) {
        m_values[fuse] = value;
    }
    Show();
}

QString CUpdiFusesDlg::SettingText(size_t line) const {
    if (line >= m_words.size()) {
        return QString();
    }
    const QComboBox* box = m_settings[line];
    if (box == nullptr) {
        return m_words[line]->text();
    }
    return box->currentIndex() >= 0 ? box->currentText() : box->placeholderText();
}

QString CUpdiFusesDlg::StatusText() const {
    return m_status->text();
}

QString CUpdiFusesDlg::ResultText() const {
    return m_result->text();
}

void CUpdiFusesDlg::Show() {
    for (size_t i = 0; i < m_hex.size(); ++i) {
        const QSignalBlocker block(m_hex[i]);
        m_hex[i]->setEnabled(m_haveRead);
        m_hex[i]->setText(m_haveRead ? HexByte(m_values[i]) : QString());
    }
    const std::vector<SUpdiFuseLine> lines =
        m_part != nullptr ? DecodeUpdiFuses(*m_part, m_values) : std::vector<SUpdiFuseLine>();
    for (size_t line = 0; line < m_words.size() && line < lines.size(); ++line) {
        m_words[line]->setText(m_haveRead ? QString::fromStdString(lines[line].words) : QString());
        QComboBox* box = m_settings[line];
        if (box == nullptr) {
            continue;
        }
        const QSignalBlocker block(box);
        box->clear();
        box->setEnabled(m_haveRead);
        const SUpdiFuseField* field = lines[line].field;
        if (!m_haveRead || field == nullptr) {
            box->setPlaceholderText(QString());
            continue;
        }
        for (size_t c = 0; c < field->count; ++c) {
            box->addItem(QString::fromLatin1(field->choices[c].words));
        }
        // A value the datasheet does not list is said so, and none of the
        // listed ones is selected.
        box->setPlaceholderText(QString::fromStdString(lines[line].words));
        box->setCurrentIndex(lines[line].choice != nullptr
                                 ? static_cast<int>(lines[line].choice - field->choices)
                                 : -1);
    }
    if (!m_haveRead) {
        m_status->setText(m_readFailed ? tr("The fuses could not be read: no adapter, no chip, "
                                            "or another device answered (the main window's "
                                            "messages say which). Nothing is shown until Read "
                                            "succeeds.")
                                       : QString());
    } else if (m_values == m_chip) {
        m_status->setText(m_written ? tr("The values shown are the chip's, as written and read "
                                         "back.")
                                    : tr("The values shown are the chip's, as read."));
    } else {
        m_status->setText(
            tr("The values shown are edited and not yet written: Write puts the "
               "fuses changed into the chip, Read shows the chip's again."));
    }
    m_write->setEnabled(m_haveRead);
    m_verify->setEnabled(m_haveRead);
}

void CUpdiFusesDlg::HexEdited(size_t fuse) {
    QString text = m_hex[fuse]->text();
    text.remove(QStringLiteral("0x"), Qt::CaseInsensitive);
    bool ok = false;
    const uint value = text.toUInt(&ok, kHexBase);
    SetValue(fuse, ok ? static_cast<uint8_t>(value) : m_values[fuse]);
}

void CUpdiFusesDlg::SettingChosen(size_t line, int index) {
    if (m_part == nullptr || !m_haveRead || index < 0) {
        return;
    }
    const std::vector<SUpdiFuseLine> lines = DecodeUpdiFuses(*m_part, m_values);
    const SUpdiFuseField* field = line < lines.size() ? lines[line].field : nullptr;
    const size_t fuse = line < lines.size() ? LayoutIndex(lines[line].fuse) : m_values.size();
    if (field == nullptr || static_cast<size_t>(index) >= field->count || fuse >= m_values.size()) {
        return;
    }
    m_values[fuse] =
        ApplyUpdiFuseChoice(m_values[fuse], *field, field->choices[static_cast<size_t>(index)]);
    Show();
}

void CUpdiFusesDlg::SetResultLine(std::function<std::string()> lastLine) {
    m_lastLine = std::move(lastLine);
    if (m_haveResult) {
        ShowResult(m_lastOk);
    }
}

void CUpdiFusesDlg::ShowResult(bool ok, const QString& detail) {
    m_haveResult = true;
    m_lastOk = ok;
    QString line = m_lastLine ? QString::fromStdString(m_lastLine()).trimmed() : QString();
    if (line.isEmpty()) {
        line = ok ? tr("Done.") : tr("Failed.");
    }
    m_result->setText(detail.isEmpty() ? line : line + QLatin1Char(' ') + detail);
}

bool CUpdiFusesDlg::Read() {
    UpdiFuseBytes fuses;
    const bool ok = m_session.Operations().ReadUpdiFuses(fuses);
    m_written = false;
    m_haveRead = ok && fuses.size() == m_values.size() && !fuses.empty();
    m_readFailed = !m_haveRead;
    if (m_haveRead) {
        m_chip = fuses;
        m_values = fuses;
    }
    Show();
    ShowResult(ok);
    return ok;
}

bool CUpdiFusesDlg::Write() {
    if (!m_haveRead || m_part == nullptr) {
        return false;
    }
    // Only the fuses changed are named; with none, all are, and none differs.
    uint32_t which = 0;
    for (size_t i = 0; i < m_values.size(); ++i) {
        which |= m_values[i] != m_chip[i] ? 1u << i : 0u;
    }
    if (which == 0) {
        which = (1u << m_values.size()) - 1;
    }
    QString reasons = QString::fromStdString(UpdiFuseCutOffReasons(*m_part, m_chip, m_values));
    reasons.replace(QLatin1Char('\n'), QStringLiteral(".\n"));
    const bool consent = !reasons.isEmpty() && m_consent(this, reasons);
    if (!reasons.isEmpty() && !consent) {
        return false;  // nothing written, nothing said: the user said no
    }
    const bool ok = m_session.Operations().WriteUpdiFuses(m_values, which, consent, &m_chip);
    if (ok) {
        m_chip = m_values;
        m_written = true;
    }
    Show();
    ShowResult(ok);
    return ok;
}

bool CUpdiFusesDlg::Verify() {
    if (!m_haveRead || m_part == nullptr) {
        return false;
    }
    UpdiFuseBytes chip;
    uint32_t differing = 0;
    const uint32_t all = (1u << m_values.size()) - 1;
    const bool ok = m_session.Operations().VerifyUpdiFuses(m_values, all, &chip, &differing);
    QStringList details;
    for (size_t i = 0; i < m_values.size() && i < chip.size(); ++i) {
        if ((differing >> i & 1u) != 0) {
            details << tr("%1: the chip has 0x%2, this window 0x%3.")
                           .arg(QLatin1String(m_part->fuses.fuses[i].name))
                           .arg(HexByte(chip[i]), HexByte(m_values[i]));
        }
    }
    ShowResult(ok, details.join(QLatin1Char(' ')));
    return ok;
}
