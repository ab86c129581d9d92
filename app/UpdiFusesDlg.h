// The Fuses window of a UPDI part: one group per fuse of the part's layout
// (wdtcfg, bodcfg, ... syscfg0 ...), each with its byte in hex and its
// settings in words, a drop-down per bit field with the values the part's
// datasheet lists (a flash section fuse says what its blocks make). The hex
// and the words always agree. The chip is read when the window opens; until
// a read succeeded nothing is shown as its value. Read, Write (only the fuses
// changed, read back to match) and Verify go through the operations; a write
// that would cut the chip off from every UPDI adapter is made only after the
// user agrees to the question that names what would happen.
#pragma once

#include <QDialog>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "parts/UpdiFuseFields.h"

class CProgrammingSession;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CUpdiFusesDlg : public QDialog {
    Q_OBJECT

public:
    // Asked before a write that would cut the chip off; reasons names what
    // would happen. true: write all the same.
    using CutOffConsent = std::function<bool(QWidget*, const QString& reasons)>;

    // The session's part must be a UPDI part.
    CUpdiFusesDlg(CProgrammingSession& session, QWidget* parent = nullptr);
    ~CUpdiFusesDlg() override;
    void SetCutOffConsent(CutOffConsent consent) { m_consent = std::move(consent); }
    // Where the outcome's words come from: the last line the operation posted
    // to the main window's pane. Without it only success or failure is said.
    // The read made on opening is told again in those words.
    void SetResultLine(std::function<std::string()> lastLine);

    bool Read();
    bool Write();
    bool Verify();

    bool HaveRead() const { return m_haveRead; }
    size_t FuseCount() const { return m_hex.size(); }
    // The value shown for fuse index of the layout, and a new one, as typing
    // it would.
    uint8_t Value(size_t fuse) const { return m_values[fuse]; }
    void SetValue(size_t fuse, uint8_t value);
    QLineEdit* HexField(size_t fuse) const { return m_hex[fuse]; }
    // The drop-down of settings line (in DecodeUpdiFuses' order); nullptr for
    // a section fuse's line or past the last.
    QComboBox* SettingBox(size_t line) const {
        return line < m_settings.size() ? m_settings[line] : nullptr;
    }
    // The words of settings line as shown.
    QString SettingText(size_t line) const;
    QString StatusText() const;
    QString ResultText() const;
    QPushButton* ReadButton() const { return m_read; }
    QPushButton* WriteButton() const { return m_write; }
    QPushButton* VerifyButton() const { return m_verify; }

private:
    void Show();
    void HexEdited(size_t fuse);
    void SettingChosen(size_t line, int index);
    // The fuse's index in the layout of the line's fuse name.
    size_t LayoutIndex(const char* fuse) const;
    void ShowResult(bool ok, const QString& detail = QString());

    CProgrammingSession& m_session;
    const SUpdiPart* m_part = nullptr;
    CutOffConsent m_consent;
    std::function<std::string()> m_lastLine;
    bool m_haveRead = false;
    bool m_written = false;
    bool m_readFailed = false;  // the last read did not succeed
    bool m_haveResult = false;  // an operation ran: its outcome is shown
    bool m_lastOk = false;
    UpdiFuseBytes m_chip;    // as last read (or written and read back)
    UpdiFuseBytes m_values;  // as shown
    std::vector<QLineEdit*> m_hex;
    std::vector<QComboBox*> m_settings;  // one a settings line; nullptr for a section line
    std::vector<QLabel*> m_words;        // one a settings line
    QLabel* m_status = nullptr;
    QLabel* m_result = nullptr;
    QPushButton* m_read = nullptr;
    QPushButton* m_write = nullptr;
    QPushButton* m_verify = nullptr;
};
