#include "cli/CliRunner.h"

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/CliHost.h"
#include "cli/CliSignals.h"
#include "cli/ToolchainArgs.h"
#include "image/FileAccess.h"
#include "image/IntelHex.h"
#include "parts/DeviceTable.h"
#include "parts/FuseFields.h"
#include "parts/UpdiFuseFields.h"
#include "session/ProgrammingSession.h"

namespace {

constexpr const char* kToolName = "brenwick-cli: ";
constexpr const char* kLockBitsPrefix = "Lock bits : ";
constexpr const char* kFusesPrefix = "Fuses : ";
constexpr uint8_t kFuseByteBits[kFuseByteCount] = {kLowFuse, kHighFuse, kExtendedFuse};
constexpr size_t kCalibrationLineLength = 32;
constexpr const char* kStandardOutput = "-";
constexpr const char* kVerifiedByReadBack = " Verify : every byte written was read back\r\n";

bool IsProgAction(CliActionKind kind) {
    return kind == CliActionKind::WriteProg || kind == CliActionKind::VerifyProg ||
           kind == CliActionKind::ReadProg;
}

bool ReadsFile(CliActionKind kind) {
    return kind == CliActionKind::WriteProg || kind == CliActionKind::WriteData ||
           kind == CliActionKind::VerifyProg || kind == CliActionKind::VerifyData;
}

bool WritesFile(CliActionKind kind) {
    return kind == CliActionKind::ReadProg || kind == CliActionKind::ReadData ||
           kind == CliActionKind::ReadUserRow;
}

bool IsUserRowValueAction(CliActionKind kind) {
    return kind == CliActionKind::WriteUserRow || kind == CliActionKind::VerifyUserRow;
}

constexpr size_t kFuseValueLength = 8;
constexpr size_t kFuseHeadLength = 32;

class CCliRunner {
public:
    CCliRunner(const CliOptions& options, std::ostream& out, std::ostream& err, bool showProgress)
        : m_options(options),
          m_out(out),
          m_err(err),
          m_host(out, showProgress ? &err : nullptr, &err),
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
            if (TakesValueFile(action) && !WrittenEarlier(i)) {
                // Fuse and lock values from a file: checked now, read again
                // when their action runs.
                std::array<uint8_t, kFuseByteCount> fuses{};
                uint8_t mask = 0;
                LockTicks ticks;
                std::vector<uint8_t> values;
                if (IsUserRowValueAction(action.kind)) {
                    if (!UserRowValues(action, values)) {
                        return false;
                    }
                    continue;
                }
                if (!(action.kind == CliActionKind::WriteFuses ||
                              action.kind == CliActionKind::VerifyFuses
                          ? FuseValues(action, fuses, mask)
                          : LockValues(action, ticks))) {
                    return false;
                }
                continue;
            }
            if (TakesValueFile(action) || !ReadsFile(action.kind) || WrittenEarlier(i)) {
                continue;
            }
            std::string text;
            if (!ReadFile(action.file, text)) {
                return false;
            }
            std::vector<uint8_t> image;
            const ImageFileResult result = ReadImage(action, text, image);
            if (!result.Ok()) {
                ReportRead(action, result);
                return false;
            }
            m_inputs[i] = text;
        }
        return true;
    }

    bool WrittenEarlier(size_t index) const {
        for (size_t j = 0; j < index; ++j) {
            const CliAction& earlier = m_options.actions[j];
            if ((WritesFile(earlier.kind) || earlier.value != CliValue::None) &&
                earlier.file == m_options.actions[index].file) {
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

    ImageFileResult ReadImage(const CliAction& action, const std::string& text,
                              std::vector<uint8_t>& image) const {
        return m_session.ReadImageBytes(IsProgAction(action.kind), action.file, text, action.format,
                                        image);
    }

    // The lines the window's reader posts.
    void ReportRead(const CliAction& action, const ImageFileResult& result) {
        m_session.PostImageRead(IsProgAction(action.kind), action.file, result);
    }

    static bool TakesValueFile(const CliAction& action) {
        return !action.file.empty() &&
               (action.kind == CliActionKind::WriteFuses ||
                action.kind == CliActionKind::VerifyFuses || IsUserRowValueAction(action.kind) ||
                action.kind == CliActionKind::WriteLock ||
                action.kind == CliActionKind::VerifyLock);
    }

    // The bytes of an action's value file: the fuse or lock section of an
    // ELF file, or the values of a value file (-U lfuse:w:FILE:h).
    bool ValueBytes(const CliAction& action, bool fuses, std::vector<uint8_t>& values, bool& elf) {
        std::string text;
        if (!ReadFile(action.file, text)) {
            return false;
        }
        std::string error;
        elf = ResolveFormat(action.format, action.file, text) == ImageFormat::Elf;
        if (elf) {
            ElfMemories memories;
            if (!m_session.ReadElfForDevice(text, memories, error)) {
                Error("cannot use " + action.file + ": " + error);
                return false;
            }
            values = fuses ? memories.fuses : memories.lock;
            if (values.empty()) {
                Error(action.file + " has no " + (fuses ? "fuse" : "lock") + " section");
                return false;
            }
            return true;
        }
        if (!ReadValueFile(text, action.valueFormat, values, error)) {
            Error("cannot use " + action.file + ": " + error);
            return false;
        }
        return true;
    }

    // The fuse bytes an action writes or verifies: its own, or those of its
    // file; of an ELF file every byte it holds unless the action names some.
    bool FuseValues(const CliAction& action, std::array<uint8_t, kFuseByteCount>& fuses,
                    uint8_t& mask) {
        fuses = action.fuses;
        mask = action.fuseMask;
        if (action.file.empty()) {
            return true;
        }
        std::vector<uint8_t> values;
        bool elf = false;
        if (!ValueBytes(action, true, values, elf)) {
            return false;
        }
        uint8_t present = 0;
        for (size_t i = 0; i < values.size() && i < static_cast<size_t>(kFuseByteCount); ++i) {
            present = static_cast<uint8_t>(present | 1U << i);
        }
        if (mask == 0) {
            mask = present;
        }
        for (int i = 0; i < kFuseByteCount; ++i) {
            if ((mask >> i & 1) == 0) {
                continue;
            }
            // A value file gives the one byte named; an ELF file each at its place.
            const size_t at = elf ? static_cast<size_t>(i) : 0;
            if (at >= values.size()) {
                Error(action.file + " holds no value for that fuse byte");
                return false;
            }
            fuses[static_cast<size_t>(i)] = values[at];
        }
        return true;
    }

    bool LockValues(const CliAction& action, LockTicks& ticks) {
        ticks = action.ticks;
        if (action.file.empty()) {
            return true;
        }
        std::vector<uint8_t> values;
        std::string error;
        bool elf = false;
        if (!ValueBytes(action, false, values, elf)) {
            return false;
        }
        if (!LockTicksFromByte(values[0], ticks, error)) {
            Error("cannot use " + action.file + ": " + error);
            return false;
        }
        return true;
    }

    // A value read (-U lfuse:r:FILE:h) into its file, or standard output.
    bool PutValues(const CliAction& action, const std::vector<uint8_t>& values) {
        const std::string text = FormatValueFile(values, action.valueFormat);
        if (action.file == kStandardOutput) {
            m_host.ClearProgress();
            m_out << text << std::flush;
            return true;
        }
        std::string error;
        if (!WriteFileAtomically(action.file, text, error)) {
            Error("cannot write " + action.file + ": " + error);
            return false;
        }
        return true;
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
        const ImageFileResult result = ReadImage(action, text, image);
        ReportRead(action, result);
        return result.Ok();
    }

    bool SaveImage(const CliAction& action) {
        const bool prog = IsProgAction(action.kind);
        if (action.file == kStandardOutput) {
            const std::vector<uint8_t>& image =
                prog ? m_session.Images().m_progImage : m_session.Images().m_dataImage;
            m_host.ClearProgress();
            m_out << (ResolveFormat(action.format, action.file, std::string()) ==
                              ImageFormat::Binary
                          ? FormatBinaryImage(image)
                          : FormatHexImage(image))
                  << std::flush;
            return true;
        }
        std::string error;
        if (!m_session.SaveImageFile(prog, action.file, action.format, error)) {
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

    // The values given (or a file's); settings by name are made on top of
    // what the chip holds: it is read first, and the write goes ahead only
    // while it still holds that.
    bool WriteFuses(const CliAction& action) {
        if (const SUpdiPart* part = UpdiPart()) {
            return WriteUpdiFuses(action, *part);
        }
        std::array<uint8_t, kFuseByteCount> given{};
        uint8_t mask = 0;
        if (!FuseValues(action, given, mask)) {
            return false;
        }
        if (action.fuseSettings.empty()) {
            return m_operations.WriteFuses(given, mask, m_options.allowCutOff);
        }
        std::array<uint8_t, kFuseByteCount> now{};
        uint8_t present = 0;
        int calibration = -1;
        if (!m_operations.ReadFuses(now, present, calibration)) {
            return false;
        }
        FuseByteValues next{now[0], now[1], now[2]};
        for (size_t i = 0; i < next.size(); ++i) {
            if ((mask & kFuseByteBits[i]) != 0) {
                next[i] = given[i];
            }
        }
        uint8_t touched = 0;
        std::string error;
        if (!ApplyFuseSettings(*m_session.Device(), action.fuseSettings, next, touched, error)) {
            Error(error);
            return false;
        }
        const std::array<uint8_t, kFuseByteCount> fuses{next[0], next[1], next[2]};
        return m_operations.WriteFuses(fuses, static_cast<uint8_t>(mask | touched),
                                       m_options.allowCutOff, &now);
    }

    const SUpdiPart* UpdiPart() const {
        const DeviceInfo* device = m_session.Device();
        return device != nullptr ? device->updiPart : nullptr;
    }

    // The bytes of -U userrow:w or :v: given at once, or a value file's.
    bool UserRowValues(const CliAction& action, std::vector<uint8_t>& values) {
        values = action.values;
        bool elf = false;
        return action.file.empty() || ValueBytes(action, false, values, elf);
    }

    // The settings of a UPDI fuse action as the part's fuse fields take
    // them: fuse numbers named, a toolchain's value file read.
    bool UpdiSettings(const CliAction& action, const SUpdiPart& part, std::string& settings) {
        if (action.fuseMask != 0) {
            Error("lfuse, hfuse and efuse are fuse bytes of the parts of today; the " +
                  std::string(part.name) + "'s fuses: " + UpdiFuseNameList(part));
            return false;
        }
        settings = action.fuseSettings;
        if (!action.updiFuse.empty() && !action.file.empty()) {
            std::vector<uint8_t> values;
            bool elf = false;
            if (!ValueBytes(action, true, values, elf)) {
                return false;
            }
            char value[kFuseValueLength];
            std::snprintf(value, sizeof value, "0x%02X", values[0]);
            settings = action.updiFuse + "=" + value;
        }
        std::string error;
        if (settings.empty()) {
            Error("name the fuses: settings (rstpincfg=gpio) or bytes (syscfg0=0xF6)");
            return false;
        }
        if (!NameUpdiFuseNumbers(part, settings, settings, error)) {
            Error(error);
            return false;
        }
        return true;
    }

    // The fuses a UPDI fuse action wants: the chip's, read first, with the
    // settings made on top; which names the fuses they reach.
    bool UpdiTarget(const CliAction& action, const SUpdiPart& part, UpdiFuseBytes& now,
                    UpdiFuseBytes& next, uint32_t& which) {
        std::string settings;
        if (!UpdiSettings(action, part, settings) || !m_operations.ReadUpdiFuses(now)) {
            return false;
        }
        next = now;
        std::string error;
        if (!ApplyUpdiFuseSettings(part, settings, next, which, error)) {
            Error(error);
            return false;
        }
        return true;
    }

    bool WriteUpdiFuses(const CliAction& action, const SUpdiPart& part) {
        UpdiFuseBytes now;
        UpdiFuseBytes next;
        uint32_t which = 0;
        return UpdiTarget(action, part, now, next, which) &&
               m_operations.WriteUpdiFuses(next, which, m_options.allowCutOff, &now);
    }

    bool VerifyUpdiFuses(const CliAction& action, const SUpdiPart& part) {
        UpdiFuseBytes now;
        UpdiFuseBytes next;
        uint32_t which = 0;
        return UpdiTarget(action, part, now, next, which) &&
               m_operations.VerifyUpdiFuses(next, which);
    }

    // Every fuse by name with its byte and, where the part's fuses are
    // known in words, its settings; or one fuse into a value file.
    bool ReadUpdiFuses(const CliAction& action, const SUpdiPart& part) {
        UpdiFuseBytes fuses;
        if (!m_operations.ReadUpdiFuses(fuses)) {
            return false;
        }
        if (action.value == CliValue::Fuse) {
            size_t index = 0;
            if (!FindUpdiFuse(part, action.updiFuse, index) || index >= fuses.size()) {
                Error(m_session.DeviceName() + " has no such fuse");
                return false;
            }
            return PutValues(action, {fuses[index]});
        }
        std::string list;
        for (size_t i = 0; i < fuses.size(); ++i) {
            char value[kFuseValueLength];
            std::snprintf(value, sizeof value, "0x%02X", fuses[i]);
            list += (list.empty() ? "" : ",") + std::string(part.fuses.fuses[i].name) + "=" + value;
        }
        m_host.PrintLine(kFusesPrefix + list);
        const std::vector<SUpdiFuseLine> lines = DecodeUpdiFuses(part, fuses);
        for (size_t i = 0; i < fuses.size(); ++i) {
            const char* name = part.fuses.fuses[i].name;
            char head[kFuseHeadLength];
            std::snprintf(head, sizeof head, "%s = 0x%02X", name, fuses[i]);
            m_host.PrintLine(head);
            for (const SUpdiFuseLine& line : lines) {
                if (std::string(line.fuse) == name) {
                    m_host.PrintLine("  " + std::string(line.title) + " : " + line.words);
                }
            }
        }
        return true;
    }

    bool ReadUserRow(const CliAction& action) {
        std::vector<uint8_t> row;
        return m_operations.ReadUserRow(row) && PutValues(action, row);
    }

    bool ReadFuses(const CliAction& action) {
        if (const SUpdiPart* part = UpdiPart()) {
            return ReadUpdiFuses(action, *part);
        }
        std::array<uint8_t, kFuseByteCount> fuses{};
        uint8_t present = 0;
        int calibration = -1;
        if (!m_operations.ReadFuses(fuses, present, calibration)) {
            return false;
        }
        if (action.value == CliValue::Calibration) {
            if (calibration < 0) {
                Error(m_session.DeviceName() + " gives no calibration byte");
                return false;
            }
            return PutValues(action, {static_cast<uint8_t>(calibration)});
        }
        if (action.value == CliValue::Fuse) {
            std::vector<uint8_t> values;
            for (int i = 0; i < kFuseByteCount; ++i) {
                if ((action.fuseMask >> i & 1) == 0) {
                    continue;
                }
                if ((present >> i & 1) == 0) {
                    Error(m_session.DeviceName() + " has no such fuse byte");
                    return false;
                }
                values.push_back(fuses[static_cast<size_t>(i)]);
            }
            return PutValues(action, values);
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

    // The verify a write asked for: its own read-back where the programmer
    // confirms every write so, else a pass over the chip.
    bool VerifiedAfterWrite(const CliAction& action, bool prog) {
        if (!action.verifyAfter) {
            return true;
        }
        if (m_session.Programmer().WritesAreReadBack()) {
            m_host.AddMessage(kVerifiedByReadBack);
            return true;
        }
        return prog ? m_operations.VerifyProg() : m_operations.VerifyData();
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
                return LoadImage(index) && m_operations.WriteProg() &&
                       VerifiedAfterWrite(action, true);
            case CliActionKind::WriteData:
                return LoadImage(index) && m_operations.WriteData() &&
                       VerifiedAfterWrite(action, false);
            case CliActionKind::VerifyProg:
                return LoadImage(index) && m_operations.VerifyProg();
            case CliActionKind::VerifyData:
                return LoadImage(index) && m_operations.VerifyData();
            case CliActionKind::ReadProg:
                return m_operations.ReadProg() && SaveImage(action);
            case CliActionKind::ReadData:
                return m_operations.ReadData() && SaveImage(action);
            case CliActionKind::WriteLock:
                return LockValues(action, m_host.Ticks()) && m_operations.WriteLock();
            case CliActionKind::VerifyLock:
                return LockValues(action, m_host.Ticks()) && m_operations.VerifyLock();
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
                return ReadFuses(action);
            case CliActionKind::WriteFuses:
                return WriteFuses(action);
            case CliActionKind::ReadUserRow:
                return ReadUserRow(action);
            case CliActionKind::WriteUserRow:
            case CliActionKind::VerifyUserRow: {
                std::vector<uint8_t> values;
                if (!UserRowValues(action, values)) {
                    return false;
                }
                return action.kind == CliActionKind::WriteUserRow
                           ? m_operations.WriteUserRow(values)
                           : m_operations.VerifyUserRow(values);
            }
            case CliActionKind::VerifyFuses: {
                if (const SUpdiPart* part = UpdiPart()) {
                    return VerifyUpdiFuses(action, *part);
                }
                std::array<uint8_t, kFuseByteCount> fuses{};
                uint8_t mask = 0;
                return FuseValues(action, fuses, mask) && m_operations.VerifyFuses(fuses, mask);
            }
            case CliActionKind::Detect:
                if (!m_session.AutoDetect()) {
                    return false;
                }
                return action.value != CliValue::Signature || PutSignature(action);
            case CliActionKind::Check:
                return Check();
        }
        return false;
    }

    // The signature of the chip Detect found: vendor, size code, part code.
    bool PutSignature(const CliAction& action) {
        const DeviceInfo* device = m_session.Device();
        if (device == nullptr) {
            return false;
        }
        const uint8_t sizeCode =
            device->sizeCode != 0 ? device->sizeCode : SizeCodeForProgSize(device->progSize);
        const std::vector<uint8_t> signature = {kAtmelVendorCode, sizeCode,
                                                static_cast<uint8_t>(device->signature)};
        return PutValues(action, signature);
    }

    const CliOptions& m_options;
    std::ostream& m_out;
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
