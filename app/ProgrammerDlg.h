// The main window: memory views, lock and fuse tick boxes, message pane,
// progress bar, the command buttons and the File, Device and Help menus. It
// owns the adapter (and through it the port and the memory images) for the
// whole run, and it is the host the programming operations report through.
// It reaches the programmer only through the session.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "ops/OperationHost.h"
#include "session/ProgrammingSession.h"

class CFusesDlg;
class CProfileFile;
class IFileChooser;
class CHexTableView;
class QAbstractButton;
class QAction;
class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// Number of names each recent-file submenu remembers.
constexpr int kRecentCount = 2;

class CProgrammerDlg : public QDialog, public IOperationHost {
    Q_OBJECT

public:
    // Builds the window and runs its initialisation: settings, device,
    // port. profile and chooser must outlive the window.
    CProgrammerDlg(CProfileFile& profile, IFileChooser& chooser, QWidget* parent = nullptr);
    // The same window with every protocol wait, and any simulated adapter
    // its ports lead to, running on counter instead of the steady clock: on
    // a virtual counter a whole device programs in a fraction of a second.
    // For tests and benchmarks; counter must outlive the window.
    CProgrammerDlg(CProfileFile& profile, IFileChooser& chooser, IPerformanceCounter& counter,
                   QWidget* parent = nullptr);
    ~CProgrammerDlg() override;

    // IOperationHost
    void TakeFromScreen() override;
    void ShowOnScreen() override;
    void AddMessage(const std::string& text) override;
    void AppendMessage(const std::string& text) override;
    void ScrollToEnd() override;
    void SetProgressRange(int maximum) override;
    void SetProgressPos(int position) override;
    LockTicks& Ticks() override { return m_ticks; }
    void ImageChanged(bool prog, bool loaded) override;
    void Yield() override;
    // Stop or Esc, or a close of the window, during the operation; asking
    // lets the window's events run as Yield does.
    bool StopRequested() override;
    void RequestStop() override { m_bStopRequested = true; }

    // Rebuild a view from its image.
    void RefreshProgView();
    void RefreshDataView();

    // Makes a device of the table the selected one (settings, adapter,
    // labels, images, views, pane).
    void SetDevice(int nDevice);
    // Enabled states and check marks of the menu bar's drop-down items.
    void RefreshCommandStates();
    // The pane's newest line, without its line end.
    std::string LastLine() const;
    // Replaces the whole message text and shows it.
    void ReplaceMessages(const std::string& text);

    // Runs a long operation on this thread. Meanwhile Yield() lets the
    // window's events run, but of the user's input only Stop (its button
    // or Esc) answers; a request to close the window stops the operation
    // and closes the window once it has ended.
    void RunOperation(const std::function<void()>& operation);
    bool IsOperationRunning() const { return m_nOperationDepth > 0; }

    // Recent files (settings <-> submenus).
    void FillRecentMenus();
    void SaveRecentFiles();

    // The images and the files named by m_strProgFile and m_strDataFile.
    // A reader loads the whole file into its image at the device's size and
    // posts what it found; a file that cannot be read changes nothing. A
    // writer replaces the file only once the whole image is written, and
    // posts " File Save Error.\r\n" after its line when that failed; with
    // no name it writes and posts nothing.
    void ReadProgFile();
    void ReadDataFile();
    void WriteProgFile();
    void WriteDataFile();

    // Every button and menu command arrives here by its id.
    void OnCommand(int id);

    CProfileFile& Profile() { return m_profile; }
    IFileChooser& Chooser() { return m_chooser; }
    CProgrammingSession& Session() { return m_session; }
    // The chooser of the Device menu's last entry: gives the name of the
    // part chosen, empty when none was. Tests answer it without a dialog.
    using DeviceChooser = std::function<QString(QWidget*, const QStringList&)>;
    void SetDeviceChooser(DeviceChooser chooser) { m_deviceChooser = std::move(chooser); }
    CHexTableView* ProgView() const { return m_listProg; }
    CHexTableView* DataView() const { return m_listData; }

    // Window state, as the rest of the program knows it.
    std::string m_strProgFile;
    std::string m_strDataFile;
    std::string m_strRecentProg[kRecentCount];
    std::string m_strRecentData[kRecentCount];
    std::string m_strProgPath;
    std::string m_strDataPath;
    int m_bProgLoaded = 0;
    int m_bDataLoaded = 0;
    // The fuse section of the ELF file last opened as the program, offered
    // to the Fuses window as values to write; mask 0 when there is none.
    std::array<uint8_t, kFuseByteCount> m_fileFuses{};
    uint8_t m_fileFuseMask = 0;
    std::string m_fileFuseSource;
    void OfferFileFuses(CFusesDlg& dlg) const;

private:
    CProgrammerDlg(CProfileFile& profile, IFileChooser& chooser, IPerformanceCounter* counter,
                   QWidget* parent);

    // The device, the images, the ports and the operations.
    CProgrammingSession m_session;

public:
    LockTicks m_ticks;
    std::string m_strProgRange;
    std::string m_strDataRange;
    std::string m_strMessages;

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Whether an input event, as delivered to watched, is on its way to Stop.
    bool MeantForStop(QObject* watched, QEvent* event) const;
    // Column widths for the rows the view holds now, and the view's width.
    static void FitView(CHexTableView* view);

private:
    void BuildControls();
    void BuildMenus();
    QMenu* BuildFileMenu();
    QMenu* BuildDeviceMenu();
    QAction* AddCommand(QMenu* menu, const QString& caption, int id);
    void InitDialog();
    void ReadPortNames();
    // What shows the selected device: the settings entry (its number, or its
    // name for a part without one), the group caption, the range labels, the
    // FSTRT box, both views and the pane.
    void ShowDevice();
    // The visible, enabled button of this window whose access key the key
    // event is (Alt and the underlined letter); nullptr when none.
    QAbstractButton* ButtonForAccessKey(QObject* watched, const QKeyEvent& key) const;

    // Commands.
    void OnAutoDetect();
    void OnOtherDevice();
    void OnFuses();
    void OnSetUp();
    // Opens a recipe and its production window on the window's port
    // (app/ProgrammerDlgProduction.cpp).
    void OnProduction();
    void OnAbout();
    void OnOperationButton(int id);
    void OnFileCommand(int id);

    // File commands, one per menu item (the views' context menu uses the
    // same ones); they live with the recent-file handling.
    void OnFileOpen();
    void OnFileClose();
    void OnOpenProgFile();
    void OnSaveProgFile();
    void OnSaveAsProgFile();
    void OnOpenDataFile();
    void OnSaveDataFile();
    void OnSaveAsDataFile();
    void OnFileSave();
    void OnFileSaveAs();
    void OnRecentFile(int id);

    // One side of the file handling: the program image or the data image.
    struct FileSide;
    FileSide ProgSide();
    FileSide DataSide();
    void ReadImageFile(const FileSide& side);
    // Keeps the fuse section of an ELF file read as the program.
    void TakeFileFuses(const std::string& path, const std::string& text,
                       const ImageFileResult& result);
    void WriteImageFile(const FileSide& side);
    // The open chooser over the side's remembered folder; the chosen path
    // becomes the side's file, is read, and its folder is remembered. false
    // when the user cancelled.
    bool OpenWithChooser(const FileSide& side);
    // Makes path the side's file, reads it and remembers its folder.
    void OpenAndRemember(const FileSide& side, const std::string& path);
    void SaveSide(const FileSide& side);
    void SaveSideAs(const FileSide& side);

    CProfileFile& m_profile;
    IFileChooser& m_chooser;

    QMenuBar* m_menuBar = nullptr;
    QMenu* m_menuRecentProg = nullptr;
    QMenu* m_menuRecentData = nullptr;
    CHexTableView* m_listProg = nullptr;
    CHexTableView* m_listData = nullptr;
    QLabel* m_labelProgRange = nullptr;
    QLabel* m_labelDataRange = nullptr;
    QGroupBox* m_groupMemory = nullptr;
    QCheckBox* m_checkLockBit1 = nullptr;
    QCheckBox* m_checkLockBit2 = nullptr;
    QCheckBox* m_checkFstrt = nullptr;
    QCheckBox* m_checkSpien = nullptr;
    QPlainTextEdit* m_editMessages = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_buttonStop = nullptr;  // shown while an operation runs

    // What the pane shows, so that a show after an append only adds the rest.
    std::string m_strShownMessages;

    // The progress position last set, and whether the bar still has to
    // take it (see SetProgressPos).
    int m_nProgressPos = 0;
    bool m_bProgressPending = false;
    void ShowProgress();

    // While an operation runs: whether an input event is the user's and
    // must wait (anything but Stop); Esc asks for the stop here.
    bool HoldsBackInput(QObject* watched, QEvent* event);

    int m_nOperationDepth = 0;
    bool m_bStopRequested = false;
    bool m_bCloseAfterOperation = false;
    DeviceChooser m_deviceChooser;
    QElapsedTimer m_yieldClock;
};
