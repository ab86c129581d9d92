// The Fuses window of the Device menu: each fuse byte of the selected part as
// hex and as its bits, each named (or numbered where the part's table was
// not at hand) with one line on what it does, and where the part's tables
// are known each setting in words, chosen from the values the datasheet
// lists; the hex, the bits and the words always agree. The chip is read when
// the window opens; until a read succeeded nothing is shown as its value.
// Read, Write (read back to match) and Verify. A write that would take the chip out of reach of
// this adapter is made only after the user agrees to a question that names what would happen.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "ops/Operations.h"

class CProgrammingSession;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CFusesDlg : public QDialog {
    Q_OBJECT

public:
    // Asked before a write that would cut the chip off; reasons names what
    // would happen. true: write all the same.
    using CutOffConsent = std::function<bool(QWidget*, const QString& reasons)>;

    CFusesDlg(CProgrammingSession& session, QWidget* parent = nullptr);
    ~CFusesDlg() override;
    void SetCutOffConsent(CutOffConsent consent) { m_consent = std::move(consent); }

    // The buttons' commands; each reports in the window's message pane and
    // gives whether it succeeded.
    bool Read();
    bool Write();
    bool Verify();

    // The value shown for fuse byte i (0 low, 1 high, 2 extended), and a
    // new one, as typing it would.
    uint8_t Value(int i) const { return m_values[static_cast<size_t>(i)]; }
    void SetValue(int i, uint8_t value);
    QString CalibrationText() const;
    // Whether the values shown are the chip's (a read succeeded), and what
    // the window says about it.
    bool HaveRead() const { return m_haveRead; }
    QString StatusText() const;
    // The outcome of the last Read, Write or Verify, as this window's own
    // status line shows it; empty before the first.
    QString ResultText() const;
    // Where the outcome's words come from: the last line the operation
    // posted to the main window's pane. Without it only success or
    // failure is said. The read made on opening is told again in those words.
    void SetResultLine(std::function<std::string()> lastLine);
    // The drop-down of setting line (in the order parts/FuseFields gives
    // them: clock source, start-up time, ...); nullptr past the last.
    QComboBox* SettingBox(int line) const {
        return line >= 0 && static_cast<size_t>(line) < m_settings.size()
                   ? m_settings[static_cast<size_t>(line)]
                   : nullptr;
    }
    // Values to write that came from a file (the fuse section of an ELF
    // file, named by source): after each Read they stand in for the chip's
    // values of the bytes in mask, so that Write writes them, through the
    // same question as values typed in.
    void OfferValues(const std::array<uint8_t, kFuseByteCount>& values, uint8_t mask,
                     const QString& source);
    QString OfferedText() const;
    QCheckBox* BitBox(int i, int bit) const {
        return m_bits[static_cast<size_t>(i)][static_cast<size_t>(bit)];
    }

private:
    void Show();
    void BitToggled(int i);
    void HexEdited(int i);
    void SettingChosen(int line, int index);
    void ShowSettings();
    // The note on what the values shown are: the chip's, edited, or a file's.
    QString NoteText() const;
    // The status line after an operation that succeeded or not; detail
    // follows the operation's own line.
    void ShowResult(bool ok, const QString& detail = QString());

    CProgrammingSession& m_session;
    CutOffConsent m_consent;
    uint8_t m_present = 0;
    bool m_haveRead = false;
    std::array<uint8_t, kFuseByteCount> m_read{};
    std::array<uint8_t, kFuseByteCount> m_values{};
    std::array<QGroupBox*, kFuseByteCount> m_groups{};
    std::array<QLineEdit*, kFuseByteCount> m_hex{};
    std::array<std::array<QCheckBox*, 8>, kFuseByteCount> m_bits{};
    std::vector<QComboBox*> m_settings;
    QLabel* m_status = nullptr;
    QLabel* m_result = nullptr;
    std::function<std::string()> m_lastLine;
    bool m_readFailed = false;  // the last read did not succeed
    bool m_haveResult = false;  // an operation ran: its outcome is shown
    bool m_lastOk = false;
    bool m_offerApplied = false;  // the last read put the offered values in
    bool m_written = false;       // the values were written since the read
    QString m_offeredSource;
    QLabel* m_calibration = nullptr;
    std::array<uint8_t, kFuseByteCount> m_offered{};
    uint8_t m_offeredMask = 0;
    QLabel* m_offeredLabel = nullptr;
    QPushButton* m_write = nullptr;
    QPushButton* m_verify = nullptr;
};
