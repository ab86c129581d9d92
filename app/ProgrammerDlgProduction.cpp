// File > Production...: a recipe chosen through the window's file chooser,
// run in the production window on the window's own port, which the main
// window lets go of meanwhile.
#include <QString>

#include "app/FileChooser.h"
#include "app/ProductionDlg.h"
#include "app/ProgrammerDlg.h"
#include "session/Recipe.h"

namespace {

const char* const kRecipeTitle = "Open Recipe";
const char* const kRecipeFilter = "Recipes (*.brenwick)|*.brenwick||";
const char* const kRecipeExtension = ".brenwick";
const char* const kLineEnd = "\r\n";

}  // namespace

void CProgrammerDlg::OnProduction() {
    FileChooserSetup setup;
    setup.title = QString::fromLatin1(kRecipeTitle);
    setup.filter = QString::fromLatin1(kRecipeFilter);
    setup.defaultExtension = QString::fromLatin1(kRecipeExtension);
    const QString path = m_chooser.ChooseOpenFile(this, setup);
    if (path.isEmpty()) {
        return;
    }
    Recipe recipe;
    std::string error;
    if (!LoadRecipe(path.toStdString(), recipe, error)) {
        AppendMessage(error + kLineEnd);
        return;
    }
    const std::string portName = ComPortName(m_session.PortNumber());
    m_session.ReleasePort();
    {
        CProductionDlg dlg(recipe, m_session.PortDevice(portName), this);
        if (dlg.Start(error)) {
            dlg.exec();
        } else {
            AppendMessage(error + kLineEnd);
        }
    }
    m_session.SelectPort(portName);
}
