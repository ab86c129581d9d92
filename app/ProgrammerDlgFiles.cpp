// The main window's file commands and its recent-file lists.
#include <QAction>
#include <QMenu>

#include "app/CommandIds.h"
#include "app/FileChooser.h"
#include "app/FusesDlg.h"
#include "app/HexTableView.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerDlg.h"
#include "app/SettingsKeys.h"
#include "image/FileAccess.h"
#include "image/ImageFormats.h"
#include "image/IntelHex.h"

namespace {

const char* const kOpenTitle = "Select the intel hex file to open.";
const char* const kOpenFilter =
    "Hex file (*.hex;*.a90)|*.hex;*.a90|ELF file (*.elf)|*.elf|Binary file (*.bin)|*.bin||";
const char* const kOpenExtension = ".hex";
const char* const kSaveTitle = "Select the intel hex file to save.";
const char* const kSaveFilter = "Hex file (*.hex;*.epp)|*.hex;*.epp|Binary file (*.bin)|*.bin||";
// Not a single extension: the chooser takes its first one, so a name typed
// without an extension gets ".hex".
const char* const kSaveExtension = ".hex;*.epp";

const char* const kLineEnd = "\r\n";

// The data file that goes with a program file: every ".hex" becomes ".epp",
// or, when there is none, every ".a90". Upper and lower case are distinct.
// false when the path holds neither.
const char* const kProgExtensions[] = {".hex", ".a90"};
const char* const kDataExtension = ".epp";

bool DerivedDataFile(const std::string& progFile, std::string& dataFile) {
    // An ELF file holds both memories.
    if (FormatByName(progFile) == ImageFormat::Elf) {
        dataFile = progFile;
        return true;
    }
    for (const char* extension : kProgExtensions) {
        const std::string from(extension);
        std::string derived;
        bool replaced = false;
        size_t start = 0;
        for (size_t at = progFile.find(from); at != std::string::npos;
             at = progFile.find(from, start)) {
            derived.append(progFile, start, at - start).append(kDataExtension);
            start = at + from.size();
            replaced = true;
        }
        if (replaced) {
            dataFile = derived.append(progFile, start, std::string::npos);
            return true;
        }
    }
    return false;
}

// The characters before the path's last separator; empty when it has none.
std::string FolderOf(const std::string& path) {
    const size_t last = path.rfind('/');
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

// A file name as a menu caption: '&' would otherwise mark an access key.
QString MenuCaption(const std::string& path) {
    return QString::fromStdString(path).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void SetItem(QAction* item, const std::string& path, int id) {
    item->setText(MenuCaption(path));
    item->setData(id);
    item->setObjectName(QString::number(id));
}

}  // namespace

void CProgrammerDlg::FillRecentMenus() {
    struct Side {
        const char* section;
        std::string* recent;
        QMenu* menu;
        int firstId, secondId;
    };
    const Side sides[] = {
        {settings::kFileProgSection, m_strRecentProg, m_menuRecentProg, ids::kRecentProg1,
         ids::kRecentProg2},
        {settings::kFileDataSection, m_strRecentData, m_menuRecentData, ids::kRecentData1,
         ids::kRecentData2},
    };
    for (const Side& side : sides) {
        side.recent[0] = m_profile.GetString(side.section, settings::kName, "");
        if (!side.recent[0].empty()) {
            // The blank entry becomes the first name.
            SetItem(side.menu->actions().constFirst(), side.recent[0], side.firstId);
        }
        side.recent[1] = m_profile.GetString(side.section, settings::kName2, "");
        if (!side.recent[1].empty() && side.recent[1] != side.recent[0]) {
            SetItem(AddCommand(side.menu, QString(), side.secondId), side.recent[1], side.secondId);
        }
    }
}

void CProgrammerDlg::SaveRecentFiles() {
    struct Side {
        int loaded;
        const std::string& current;
        const std::string& recent;
        const char* section;
    };
    const Side sides[] = {
        {m_bProgLoaded, m_strProgFile, m_strRecentProg[0], settings::kFileProgSection},
        {m_bDataLoaded, m_strDataFile, m_strRecentData[0], settings::kFileDataSection},
    };
    for (const Side& side : sides) {
        if (side.loaded == 0) {
            continue;
        }
        if (side.current != side.recent) {
            m_profile.WriteString(side.section, settings::kName2, side.recent);
        }
        m_profile.WriteString(side.section, settings::kName, side.current);
    }
}

void CProgrammerDlg::OnFileCommand(int id) {
    switch (id) {
        case ids::kFileOpen:
            OnFileOpen();
            break;
        case ids::kFileClose:
            OnFileClose();
            break;
        case ids::kOpenProgFile:
            OnOpenProgFile();
            break;
        case ids::kSaveProgFile:
            OnSaveProgFile();
            break;
        case ids::kSaveAsProgFile:
            OnSaveAsProgFile();
            break;
        case ids::kOpenDataFile:
            OnOpenDataFile();
            break;
        case ids::kSaveDataFile:
            OnSaveDataFile();
            break;
        case ids::kSaveAsDataFile:
            OnSaveAsDataFile();
            break;
        case ids::kFileSave:
            OnFileSave();
            break;
        case ids::kFileSaveAs:
            OnFileSaveAs();
            break;
        case ids::kRecentProg1:
        case ids::kRecentProg2:
        case ids::kRecentData1:
        case ids::kRecentData2:
            OnRecentFile(id);
            break;
        default:
            break;  // the blank recent entries have no command
    }
}

struct CProgrammerDlg::FileSide {
    bool prog;  // the program image, else the data image
    std::string& file;
    std::string& folder;        // remembered folder of the open chooser
    const char* folderSection;  // where the folder is stored
    int& loaded;
    std::vector<uint8_t>& image;
    void (CProgrammerDlg::*refresh)();
};

CProgrammerDlg::FileSide CProgrammerDlg::ProgSide() {
    return {true,
            m_strProgFile,
            m_strProgPath,
            settings::kPathProgSection,
            m_bProgLoaded,
            m_session.Images().m_progImage,
            &CProgrammerDlg::RefreshProgView};
}

CProgrammerDlg::FileSide CProgrammerDlg::DataSide() {
    return {false,
            m_strDataFile,
            m_strDataPath,
            settings::kPathDataSection,
            m_bDataLoaded,
            m_session.Images().m_dataImage,
            &CProgrammerDlg::RefreshDataView};
}

// ---------------------------------------------------------------------------
// Reading and writing the images.

void CProgrammerDlg::ReadImageFile(const FileSide& side) {
    std::string text;
    std::string error;
    if (!ReadWholeFile(side.file, text, error)) {
        // A missing, unreadable or vanished file, or a folder: nothing changes.
        ShowOnScreen();
        return;
    }
    const ImageFileResult result =
        m_session.ReadImageBytes(side.prog, side.file, text, FormatChoice::ByName, side.image);
    // A hex file's content is in the image from here on, whatever it
    // contains; an ELF or binary file that cannot be used changes nothing,
    // so that a later Save cannot write the old image over it.
    if (result.format == ImageFormat::IntelHex || result.Ok()) {
        side.loaded = 1;
    }
    m_session.PostImageRead(side.prog, side.file, result);
    if (side.prog) {
        TakeFileFuses(side.file, text, result);
    }
    (this->*side.refresh)();
    ShowOnScreen();
    if (result.hexStatus == HexReadStatus::AddressError || !result.error.empty()) {
        ScrollToEnd();
    }
}

void CProgrammerDlg::TakeFileFuses(const std::string& path, const std::string& text,
                                   const ImageFileResult& result) {
    m_fileFuseMask = 0;
    ElfMemories memories;
    std::string error;
    if (result.format != ImageFormat::Elf || !result.Ok() ||
        !m_session.ReadElfForDevice(text, memories, error)) {
        return;
    }
    for (size_t i = 0; i < memories.fuses.size() && i < m_fileFuses.size(); ++i) {
        m_fileFuses[i] = memories.fuses[i];
        m_fileFuseMask = static_cast<uint8_t>(m_fileFuseMask | 1U << i);
    }
    m_fileFuseSource = path;
}

void CProgrammerDlg::OfferFileFuses(CFusesDlg& dlg) const {
    // Its status line tells what the operations posted to this window's
    // pane, which the Fuses window covers.
    dlg.SetResultLine([this] { return LastLine(); });
    if (m_fileFuseMask != 0) {
        dlg.OfferValues(m_fileFuses, m_fileFuseMask, QString::fromStdString(m_fileFuseSource));
    }
}

void CProgrammerDlg::WriteImageFile(const FileSide& side) {
    if (side.file.empty()) {
        // An image read from the device and never given a name.
        ShowOnScreen();
        return;
    }
    std::string error;
    m_session.SaveImageFile(side.prog, side.file, FormatChoice::ByName, error);
    ShowOnScreen();
}

void CProgrammerDlg::ReadProgFile() {
    ReadImageFile(ProgSide());
}

void CProgrammerDlg::ReadDataFile() {
    ReadImageFile(DataSide());
}

void CProgrammerDlg::WriteProgFile() {
    WriteImageFile(ProgSide());
}

void CProgrammerDlg::WriteDataFile() {
    WriteImageFile(DataSide());
}

// ---------------------------------------------------------------------------
// The commands.

void CProgrammerDlg::OpenAndRemember(const FileSide& side, const std::string& path) {
    side.file = path;
    ReadImageFile(side);
    // The folder is remembered whatever the reading found.
    side.folder = FolderOf(side.file);
    m_profile.WriteString(side.folderSection, settings::kName, side.folder);
}

bool CProgrammerDlg::OpenWithChooser(const FileSide& side) {
    FileChooserSetup setup;
    setup.title = QString::fromLatin1(kOpenTitle);
    setup.filter = QString::fromLatin1(kOpenFilter);
    setup.defaultExtension = QString::fromLatin1(kOpenExtension);
    setup.initialFolder = QString::fromStdString(side.folder);
    const QString chosen = m_chooser.ChooseOpenFile(this, setup);
    if (chosen.isEmpty()) {
        return false;
    }
    OpenAndRemember(side, chosen.toStdString());
    return true;
}

void CProgrammerDlg::OnFileOpen() {
    if (OpenWithChooser(ProgSide())) {
        std::string dataFile;
        // A path without either extension leaves the data file as it was:
        // it must never become the program file itself, which a later Save
        // would then overwrite with the data image.
        if (DerivedDataFile(m_strProgFile, dataFile)) {
            OpenAndRemember(DataSide(), dataFile);
        }
    }
    ShowOnScreen();
    ScrollToEnd();
}

void CProgrammerDlg::OnOpenProgFile() {
    OpenWithChooser(ProgSide());
    ShowOnScreen();
    ScrollToEnd();
}

void CProgrammerDlg::OnOpenDataFile() {
    OpenWithChooser(DataSide());
    ShowOnScreen();
    ScrollToEnd();
}

void CProgrammerDlg::SaveSide(const FileSide& side) {
    if (side.loaded != 0) {
        WriteImageFile(side);  // to the current name, even an empty one
    }
}

void CProgrammerDlg::SaveSideAs(const FileSide& side) {
    if (side.loaded == 0) {
        return;
    }
    FileChooserSetup setup;
    setup.title = QString::fromLatin1(kSaveTitle);
    setup.filter = QString::fromLatin1(kSaveFilter);
    setup.defaultExtension = QString::fromLatin1(kSaveExtension);
    const QString chosen = m_chooser.ChooseSaveFile(this, setup);
    if (chosen.isEmpty()) {
        return;
    }
    side.file = chosen.toStdString();
    WriteImageFile(side);
}

void CProgrammerDlg::OnSaveProgFile() {
    SaveSide(ProgSide());
}

void CProgrammerDlg::OnSaveDataFile() {
    SaveSide(DataSide());
}

void CProgrammerDlg::OnSaveAsProgFile() {
    SaveSideAs(ProgSide());
}

void CProgrammerDlg::OnSaveAsDataFile() {
    SaveSideAs(DataSide());
}

void CProgrammerDlg::OnFileSave() {
    OnSaveProgFile();
    OnSaveDataFile();
}

void CProgrammerDlg::OnFileSaveAs() {
    OnSaveAsProgFile();
    OnSaveAsDataFile();
}

void CProgrammerDlg::OnFileClose() {
    SaveRecentFiles();
    m_bProgLoaded = 0;
    m_bDataLoaded = 0;
    m_fileFuseMask = 0;
    // The views stay empty until their next refresh.
    m_listProg->Model()->Clear();
    m_listData->Model()->Clear();
    m_session.BlankImages();
    repaint();
}

void CProgrammerDlg::OnRecentFile(int id) {
    // No chooser, and the remembered folders stay as they are.
    switch (id) {
        case ids::kRecentProg1:
        case ids::kRecentProg2:
            m_strProgFile = m_strRecentProg[id == ids::kRecentProg1 ? 0 : 1];
            ReadProgFile();
            break;
        case ids::kRecentData1:
        case ids::kRecentData2:
            m_strDataFile = m_strRecentData[id == ids::kRecentData1 ? 0 : 1];
            ReadDataFile();
            break;
        default:
            break;
    }
}
