// "ISP Com Select": the user picks COM1 to COM4, may test the port for the
// adapter with "Check", and confirms with "OK", which closes the dialog only
// after a passing test. Every test opens the chosen port on the main window's
// adapter in place of the one it had, and that port stays the adapter's even
// when the dialog is cancelled.
#pragma once

#include <QDialog>
#include <string>

class CProgrammingSession;
class QComboBox;
class QLabel;

class CComSelectDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kResultOk = 1;      // TestPort: the adapter answers
    static constexpr int kResultFailed = 3;  // TestPort: no port or no adapter

    CComSelectDlg(CProgrammingSession& session, QWidget* parent = nullptr);

    // Selects the list entry at m_nSelPort and shows the (empty) status.
    // The caller sets m_nSelPort first.
    void InitDialog();

    // Opens port m_nSelPort on the adapter and tests for the adapter.
    int TestPort();

    // Before: the list index to preselect. After "Check" or "OK": the
    // chosen port number (index + 1, 0 with no entry selected).
    int m_nSelPort = 0;
    std::string m_strStatus;
    // Why the last tested port could not be opened; empty when it opened or
    // the system did not say.
    std::string m_strTrouble;

public slots:
    void OnCheck();
    void accept() override;

private:
    void TakeSelection();
    void ShowOnScreen();

    CProgrammingSession& m_session;
    QComboBox* m_comboPort = nullptr;
    QLabel* m_labelStatus = nullptr;
    QLabel* m_labelTrouble = nullptr;
    // The user typed into the list's edit field since choosing an entry.
    bool m_bTyped = false;
};
