// The production window: a recipe's part and files, the next serial number,
// the chips passed and failed, the last chip's result in large letters, and
// "Program next" (Enter or Space). Automatic mode waits for a chip, programs
// it, waits until it is taken out and goes on, probing the socket only while
// idle. Stop (or Esc) ends the chip under way as Stop does in the main
// window. The chip is reached only through session/ (a production station).
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <memory>
#include <string>

#include "session/ProductionRun.h"
#include "session/ProductionStation.h"
#include "session/Recipe.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

class CProductionDlg : public QDialog {
    Q_OBJECT
public:
    // port: the name the station opens (a device path or sim: name).
    CProductionDlg(const Recipe& recipe, const std::string& port, QWidget* parent = nullptr);
    ~CProductionDlg() override;

    // Takes the serial numbers, opens the log and the port; false with the
    // reason (the window then is not shown).
    bool Start(std::string& error);

    int Passed() const { return m_passed; }
    int Failed() const { return m_failed; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Idle { Manual, WaitingForChip, WaitingForRemoval };

    void OnProgramNext();
    void OnAutomatic(bool on);
    void OnStop();
    void OnPoll();
    void ProgramOne();
    void ShowRecord(const ChipRecord& record);
    void ShowState();
    void SetIdle(Idle idle);
    void YieldToWindow();

    Recipe m_recipe;
    std::string m_port;
    std::unique_ptr<CProductionRun> m_run;
    std::unique_ptr<CProductionStation> m_station;
    QLabel* m_recipeLabel = nullptr;
    QLabel* m_serialLabel = nullptr;
    QLabel* m_countersLabel = nullptr;
    QLabel* m_resultLabel = nullptr;
    QLabel* m_failureLabel = nullptr;
    QLabel* m_stateLabel = nullptr;
    QPushButton* m_programButton = nullptr;
    QCheckBox* m_automaticBox = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    QTimer* m_pollTimer = nullptr;
    QElapsedTimer m_sinceYield;
    Idle m_idle = Idle::Manual;
    bool m_busy = false;
    bool m_stopRequested = false;
    int m_passed = 0;
    int m_failed = 0;
};
