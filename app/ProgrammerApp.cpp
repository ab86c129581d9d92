#include "app/ProgrammerApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/FileChooser.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerDlg.h"
#include "app/SettingsKeys.h"

std::string CProgrammerApp::SettingsFileName() {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
#ifdef _WIN32
    const QString base = exe.completeBaseName();
#else
    const QString base = exe.fileName();  // executables carry no extension here
#endif
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(folder).filePath(base + QString::fromLatin1(settings::kFileSuffix)).toStdString();
}

int CProgrammerApp::Run() {
    m_strProfileName = SettingsFileName();
    CProfileFile profile(m_strProfileName);
    CQtFileChooser chooser;
    {
        CProgrammerDlg dlg(profile, chooser);
        dlg.exec();
    }  // the window goes first: the adapter releases RESET and closes the port
    return 0;
}
