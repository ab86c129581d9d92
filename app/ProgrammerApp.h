// The application object: it names the settings file, runs the main window
// modally for the whole run and ends the program when the window closes.
#pragma once

#include <string>

class CProgrammerApp {
public:
    // <the user's configuration folder>/<executable base name>.INI
    static std::string SettingsFileName();

    // Creates the main window, runs it until it closes and destroys it.
    // Needs a QApplication. The result is the process's exit status.
    int Run();

private:
    std::string m_strProfileName;
};
