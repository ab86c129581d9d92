#include "cli/CliRunner.h"

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/CliHost.h"
#include "cli/CliSignals.h"
#include "image/FileAccess.h"
#include "image/IntelHex.h"
#include "isp/FuseFields.h"
#include "session/ProgrammingSession.h"

namespace {

constexpr const char* kToolName = "brenwick-cli: ";
constexpr const char* kLockBitsPrefix = "Lock bits : ";
constexpr const char* kFusesPrefix = "Fuses : ";
constexpr uint8_t kFuseByteBits[kFuseByteCount] = {kLowFuse, kHighFuse, kExtendedFuse};
constexpr size_t kCalibrationLineLength = 32;

bool IsProgAction(CliActionKind kind) {
    return kind == CliActionKind::WriteProg || kind == CliActionKind::VerifyProg ||
           kind == CliActionKind::ReadProg;
}

bool ReadsFile(CliActionKind kind) {
    return kind == CliActionKind::WriteProg || kind == CliActionKind::WriteData ||
           kind == CliActionKind::VerifyProg || kind == CliActionKind::VerifyData;
}

bool WritesFile(CliActionKind kind) {
    return kind == CliActionKind::ReadProg || kind == CliActionKind::ReadData;
}

class CCliRunner {
public:
    CCliRunner(const CliOptions& options, std::ostream& out, std::ostream& err, bool showProgress)
        : m_options(options),
          m_err(err),
          m_host(out, showProgress ? &err : nullptr),
          // A simulated chip runs in virtual time; a real one on the clock.
          m_session(m_host, SessionClock::VirtualWhenSimulated, options.portText),
          m_operations(m_session.Operations()) {}

    int Run() {
        int status = RunActions();
        m_host.Finish();
        // The simulated chip is saved whatever the actions gave: it holds
        // what they did to it.
        std::string error;
        if (m_portOpened && !m_session.SavePortState(error)) {
            Error("cannot save the simulator state: " + error);
            status = kCliExitFailed;
        }
        return status;
    }

private:
    int RunActions() {
        // Sizes the images before anything else, also for auto (the
        // identification replaces the row).
        if (m_options.autoDevice) {
            m_session.SelectDevice(kDefaultDeviceNumber, /*quietly=*/true);
        } else {
            if (m_options.deviceRow >= 0) {
                m_session.SelectDeviceRow(m_options.deviceRow);
            } else {
                m_session.SelectDevice(m_options.deviceNumber);
            }
        }
        if (!m_session.SelectPort(m_options.portText)) {
            Error(m_session.PortOpenError(m_options.portText));
            return kCliExitFailed;
        }
        m_portOpened = true;
        if (m_options.autoDevice && !m_session.AutoDetect()) {
            return kCliExitFailed;
        }
        if (!ReadInputFiles()) {
            return kCliExitFailed;
        }
        for (size_t i = 0; i < m_options.actions.size(); ++i) {
            if (StopSignal() != 0) {
                return Stopped(i);
            }
            const bool ok = RunAction(i);
            // A stop that came too late for the action (it had no word left,
            // or none to stop at) still ends the run as stopped.
            if (StopSignal() != 0) {
                return Stopped(i + 1);
            }
            if (!ok) {
                return kCliExitFailed;
            }
        }
        return kCliExitOk;
    }

    // The actions from next on are not run; the one stopped has said where.
    int Stopped(size_t next) {
        if (next < m_options.actions.size()) {
            Error("stopped: " + std::to_string(m_options.actions.size() - next) +
                  " action(s) not run");
        }
        return kCliExitSignalBase + StopSignal();
    }

    void Error(const std::string& text) {
        m_host.ClearProgress();
        m_err << kToolName << text << '\n' << std::flush;
    }

    // Reads and checks every input file before any device operation, so a
    // bad file never leaves a half-programmed chip. Files that an earlier
    // read- action writes are read when their action comes.
    bool ReadInputFiles() {
        for (size_t i = 0; i < m_options.actions.size(); ++i) {
            const CliAction& action = m_options.actions[i];
            if (!ReadsFile(action.kind) || WrittenEarlier(i)) {
                continue;
            }
            std::string text;
            if (!ReadFile(action.file, text)) {
                return false;
            }
            std::vector<uint8_t> image;
            const HexReadStatus status = ReadImage(action, text, image);
            if (status != HexReadStatus::Ok) {
                ReportRead(action, status);
                return false;
            }
            m_inputs[i] = text;
        }
        return true;
    }

    bool WrittenEarlier(size_t index) const {
        for (size_t j = 0; j < index; ++j) {
            if (WritesFile(m_options.actions[j].kind) &&
                m_options.actions[j].file == m_options.actions[index].file) {
                return true;
            }
        }
        return false;
    }

    bool ReadFile(const std::string& path, std::string& text) {
        std::string error;
        if (!ReadWholeFile(path, text, error)) {
            Error("cannot read " + path + ": " + error);
            return false;
        }
        return true;
    }

    HexReadStatus ReadImage(const CliAction& action, const std::string& text,
                            std::vector<uint8_t>& image) const {
        return m_session.ReadHexText(IsProgAction(action.kind), text, image);
    }

    // The lines the window's reader posts.
    void ReportRead(const CliAction& action, HexReadStatus status) {
        m_session.PostHexRead(IsProgAction(action.kind), action.file, status);
    }

    // Loads an action's file into the image it works on.
    bool LoadImage(size_t index) {
        const CliAction& action = m_options.actions[index];
        std::string text;
        const auto input = m_inputs.find(index);
        if (input != m_inputs.end()) {
            text = input->second;
        } else if (!ReadFile(action.file, text)) {
            return false;
        }
        std::vector<uint8_t>& image = IsProgAction(action.kind) ? m_session.Images().m_progImage
                                                                : m_session.Images().m_dataImage;
        const HexReadStatus status = ReadImage(action, text, image);
        ReportRead(action, status);
        return status == HexReadStatus::Ok;
    }

    bool SaveImage(const CliAction& action) {
        std::string error;
        if (!m_session.SaveHexFile(IsProgAction(action.kind), action.file, error)) {
            Error("cannot write " + action.file + ": " + error);
            return false;
        }
        return true;
    }

    bool Check() {
        const bool ready = m_session.CheckAdapter(m_options.portText);
        m_host.PrintLine(ready ? kAdapterReadyText : kAdapterNotFoundText);
        return ready;
    }

    // Settings by name are made on top of what the chip holds: it is read
    // first, and the write goes ahead only while it still holds that.
    bool WriteFuses(const CliAction& action) {
        if (action.fuseSettings.empty()) {
            return m_operations.WriteFuses(action.fuses, action.fuseMask, m_options.allowCutOff);
        }
        std::array<uint8_t, kFuseByteCount> now{};
        uint8_t present = 0;
        int calibration = -1;
        if (!m_operations.ReadFuses(now, present, calibration)) {
            return false;
        }
        FuseByteValues next{now[0], now[1], now[2]};
        for (size_t i = 0; i < next.size(); ++i) {
            if ((action.fuseMask & kFuseByteBits[i]) != 0) {
                next[i] = action.fuses[i];
            }
        }
        uint8_t touched = 0;
        std::string error;
        if (!ApplyFuseSettings(*m_session.Device(), action.fuseSettings, next, touched, error)) {
            Error(error);
            return false;
        }
        const std::array<uint8_t, kFuseByteCount> fuses{next[0], next[1], next[2]};
        return m_operations.WriteFuses(fuses, static_cast<uint8_t>(action.fuseMask | touched),
                                       m_options.allowCutOff, &now);
    }

    bool ReadFuses() {
        std::array<uint8_t, kFuseByteCount> fuses{};
        uint8_t present = 0;
        int calibration = -1;
        if (!m_operations.ReadFuses(fuses, present, calibration)) {
            return false;
        }
        if (present != 0) {
            m_host.PrintLine(kFusesPrefix + FormatFuseSet(fuses, present));
            for (const std::string& line : FuseBitLines(*m_session.Device(), fuses, present)) {
                m_host.PrintLine(line);
            }
        }
        if (calibration >= 0) {
            char line[kCalibrationLineLength];
            std::snprintf(line, sizeof line, "Calibration : 0x%02X", calibration);
            m_host.PrintLine(line);
        }
        return true;
    }

    bool RunAction(size_t index) {
        const CliAction& action = m_options.actions[index];
        switch (action.kind) {
            case CliActionKind::Erase:
                return m_operations.EraseAll();
            case CliActionKind::EraseProg:
                return m_operations.EraseProg();
            case CliActionKind::EraseData:
                return m_operations.EraseData();
            case CliActionKind::WriteProg:
                return LoadImage(index) && m_operations.WriteProg();
            case CliActionKind::WriteData:
                return LoadImage(index) && m_operations.WriteData();
            case CliActionKind::VerifyProg:
                return LoadImage(index) && m_operations.VerifyProg();
            case CliActionKind::VerifyData:
                return LoadImage(index) && m_operations.VerifyData();
            case CliActionKind::ReadProg:
                return m_operations.ReadProg() && SaveImage(action);
            case CliActionKind::ReadData:
                return m_operations.ReadData() && SaveImage(action);
            case CliActionKind::WriteLock:
                m_host.Ticks() = action.ticks;
                return m_operations.WriteLock();
            case CliActionKind::VerifyLock:
                m_host.Ticks() = action.ticks;
                return m_operations.VerifyLock();
            case CliActionKind::ReadLock:
                if (!m_operations.ReadLock()) {
                    return false;
                }
                // A part that cannot report its lock bits has said so; "none"
                // would claim that it reported none programmed.
                if (m_session.Device() != nullptr && m_session.Device()->lockRead != nullptr) {
                    m_host.PrintLine(kLockBitsPrefix + FormatLockSet(m_host.Ticks()));
                }
                return true;
            case CliActionKind::ReadFuses:
                return ReadFuses();
            case CliActionKind::WriteFuses:
                return WriteFuses(action);
            case CliActionKind::VerifyFuses:
                return m_operations.VerifyFuses(action.fuses, action.fuseMask);
            case CliActionKind::Detect:
                return m_session.AutoDetect();
            case CliActionKind::Check:
                return Check();
        }
        return false;
    }

    const CliOptions& m_options;
    std::ostream& m_err;
    CCliHost m_host;
    CProgrammingSession m_session;
    COperations& m_operations;
    std::map<size_t, std::string> m_inputs;  // checked file texts by action index
    bool m_portOpened = false;
};

}  // namespace

int RunCli(const CliOptions& options, std::ostream& out, std::ostream& err, bool showProgress) {
    ClearStopSignal();
    CCliRunner runner(options, out, err, showProgress);
    return runner.Run();
}
