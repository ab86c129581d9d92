// Shared pieces of the window tests: a temporary settings file whose [Ports]
// section maps every COM port the window can reach, a scripted file chooser,
// the window on the steady clock or a virtual counter, and helpers to find
// controls and menu items by id.
#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <memory>
#include <string>

#include "app/FileChooser.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerDlg.h"
#include "base/PerformanceCounter.h"
#include "isp/IspAdapter.h"
#include "sim/SimPortOptions.h"

// A path that cannot be opened: COM ports without a simulated adapter point
// here, so that no test ever reaches the machine's real serial ports.
inline std::string MissingPort(int n) {
    return "/nonexistent/ttyBrenwick" + std::to_string(n);
}

class CTestSettings {
public:
    // ports: COMn -> mapping for the ports that should have one; every other
    // COM port the window may open is mapped to a missing path.
    explicit CTestSettings(const std::map<int, std::string>& ports = {{2, "sim:AT90S8535"}}) {
        m_path = m_dir.filePath(QStringLiteral("brenwick.INI")).toStdString();
        m_profile = std::make_unique<CProfileFile>(m_path);
        for (int n = kFirstComPort; n <= kLastComPort; ++n) {
            auto it = ports.find(n);
            m_profile->WriteString("Ports", "COM" + std::to_string(n),
                                   it != ports.end() ? it->second : MissingPort(n));
        }
    }

    CProfileFile& Profile() { return *m_profile; }
    const std::string& Path() const { return m_path; }

    QByteArray Text() const {
        QFile file(QString::fromStdString(m_path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The file's text without its [Ports] section (always first).
    QByteArray TextAfterPorts() const {
        QByteArray all = Text();
        const int next = all.indexOf("\n[", 1);
        return next < 0 ? QByteArray() : all.mid(next + 1);
    }

private:
    QTemporaryDir m_dir;
    std::string m_path;
    std::unique_ptr<CProfileFile> m_profile;
};

// Answers the window's file dialogs from a script: the queued answers first,
// in order, then m_strAnswer. Every set-up shown is kept.
class CScriptedChooser : public IFileChooser {
public:
    QString ChooseOpenFile(QWidget*, const FileChooserSetup& setup) override {
        ++m_nOpenCalls;
        return Answer(setup);
    }
    QString ChooseSaveFile(QWidget*, const FileChooserSetup& setup) override {
        ++m_nSaveCalls;
        return Answer(setup);
    }

    QString m_strAnswer;
    QStringList m_queuedAnswers;
    FileChooserSetup m_lastSetup;
    QList<FileChooserSetup> m_setups;
    int m_nOpenCalls = 0;
    int m_nSaveCalls = 0;

private:
    QString Answer(const FileChooserSetup& setup) {
        m_lastSetup = setup;
        m_setups << setup;
        return m_queuedAnswers.isEmpty() ? m_strAnswer : m_queuedAnswers.takeFirst();
    }
};

// The window over the test settings. Refuses to start unless every COM port
// it can open is mapped away from the real serial devices. With a counter
// (a CVirtualCounter), the adapter's waits and the simulated targets run on
// it, so that whole devices program in test time.
inline std::unique_ptr<CProgrammerDlg> MakeWindow(CTestSettings& settings, IFileChooser& chooser,
                                                  IPerformanceCounter* counter = nullptr) {
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        const std::string mapped =
            settings.Profile().GetString("Ports", "COM" + std::to_string(n), "");
        if (mapped.empty() || mapped.rfind("/dev/", 0) == 0) {
            qFatal("COM%d is not mapped away from the real serial ports", n);
        }
    }
    if (counter != nullptr) {
        return std::make_unique<CProgrammerDlg>(settings.Profile(), chooser, *counter);
    }
    return std::make_unique<CProgrammerDlg>(settings.Profile(), chooser);
}

// Whole files as bytes, for the file command tests.
inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename T>
T* Control(QObject* window, int id) {
    return window->findChild<T*>(QString::number(id));
}

inline QMenu* MenuNamed(QObject* window, const char* name) {
    return window->findChild<QMenu*>(QString::fromLatin1(name));
}

// The item with the id in a menu (not in its submenus).
inline QAction* Item(QMenu* menu, int id) {
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator() && a->menu() == nullptr && a->data().toInt() == id) {
            return a;
        }
    }
    return nullptr;
}

// A click as the window system delivers it: press and release on the
// top-level window at the widget's centre, which Qt then routes to the
// widget under the pointer (through every event filter on the way). The
// window is shown first if it is not.
inline void ClickAsUser(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    QWidget* top = widget->window();
    if (!top->isVisible()) {
        top->show();
    }
    const QPoint at = widget->mapTo(top, widget->rect().center());
    QTest::mouseClick(top->windowHandle(), button, Qt::NoModifier, at);
}

// A key as the window system delivers it: to the top-level window, which
// passes it to the focused widget.
inline void KeyAsUser(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    if (!window->isVisible()) {
        window->show();
    }
    QTest::keyClick(window->windowHandle(), key, modifiers);
}

// Opens a drop-down menu the way the user does, so that its states are
// computed as they would be shown, and closes it again.
inline void ShowMenu(QMenu* menu) {
    menu->popup(QPoint(0, 0));
    QCoreApplication::processEvents();
    menu->hide();
}
