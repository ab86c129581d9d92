// What the window and the command-line tool share below their own
// presentation: the port stack (the real port, simulated adapters for sim:
// names), the adapter with the selected device and the two images, the
// operations, and the commands around them that post message lines: select
// a device, identify it, check the adapter, read and save hex files. The
// front ends keep only what differs: widgets and dialogs, or arguments and
// terminal output. No widgets here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/ElfImage.h"
#include "image/ImageFormats.h"
#include "image/IntelHex.h"
#include "isp/IspAdapter.h"
#include "isp/PerformanceCounter.h"
#include "isp/QtSerialPort.h"
#include "isp/RoutingPort.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "sim/SimPortOptions.h"

// What reading a memory image from a file in any format gave.
struct ImageFileResult {
    ImageFormat format = ImageFormat::IntelHex;
    HexReadStatus hexStatus = HexReadStatus::Ok;  // Intel HEX
    std::string error;                            // raw binary and ELF: why the file cannot be used
    std::string sections;                         // ELF: the sections the memory came from
    bool Ok() const { return hexStatus == HexReadStatus::Ok && error.empty(); }
};

// The adapter check's outcome as both front ends show it.
extern const char* const kAdapterReadyText;     // "Prog. Key ready"
extern const char* const kAdapterNotFoundText;  // "Not found"

class CProgrammingSession {
public:
    // host receives the message lines and is what the operations report
    // through; it is not used before the first command. counter: the time
    // base of every protocol wait and of the simulated adapters; nullptr for
    // the steady clock. Both must outlive the session.
    explicit CProgrammingSession(IOperationHost& host, IPerformanceCounter* counter = nullptr);
    ~CProgrammingSession();
    CProgrammingSession(const CProgrammingSession&) = delete;
    CProgrammingSession& operator=(const CProgrammingSession&) = delete;

    CIspAdapter& Adapter() { return m_adapter; }
    COperations& Operations() { return m_operations; }
    // The simulated adapters that sim: names lead to.
    CSimPortKind& SimPorts() { return m_simPorts; }
    // Saves every simulated chip that keeps a state file.
    bool SaveSimState(std::string& error);

    // Makes the device with that number the selected one (when the table has
    // it; else the selection stays), sizes both images to it, erased, and
    // posts "Select device : <name>". false when the number is unknown.
    bool SelectDevice(int number);
    // The same for the row at that index of the table (every part, those
    // without a device number included).
    bool SelectDeviceRow(int row);
    // Both images at the selected device's sizes, every byte erased.
    void BlankImages();
    // Asks the chip for its signature: posts "Auto Select device : " and
    // then the device found (which becomes the selected one) or
    // " Device Error "; leaves programming mode either way.
    bool AutoDetect();
    // Opens COM port n on the adapter (in place of the one it had) and
    // tests whether the adapter answers.
    bool CheckAdapter(int port);

    // Reads hex text into image at the size of the selected device's program
    // (prog) or data memory; posts nothing.
    HexReadStatus ReadHexText(bool prog, const std::string& text,
                              std::vector<uint8_t>& image) const;
    // Posts what reading path gave: "File <path> Opened" and, after a
    // failure, the checksum or address error line.
    void PostHexRead(bool prog, const std::string& path, HexReadStatus status);
    // Saves the program or data image to path as Intel HEX, replacing the
    // file only once all is written; posts "Save Prog File <path>" (or
    // Data) and, when it failed, " File Save Error." with the reason in error.
    bool SaveHexFile(bool prog, const std::string& path, std::string& error);

    // The same for a file in any format (session/ImageFiles.cpp): Intel HEX
    // as ReadHexText, raw binary, or the flash or EEPROM of an ELF file.
    // An ELF file must be for the selected device: its .signature (when it
    // has one) must be that device's, and its memories must fit. A file
    // that cannot be used leaves image as it was.
    ImageFileResult ReadImageBytes(bool prog, const std::string& path, const std::string& bytes,
                                   FormatChoice choice, std::vector<uint8_t>& image) const;
    // Posts what reading path gave: Intel HEX as PostHexRead; otherwise
    // "File <path> Opened" and the ELF sections read, or the reason the
    // file could not be used.
    void PostImageRead(bool prog, const std::string& path, const ImageFileResult& result);
    // Saves the image in the format choice gives for path: Intel HEX as
    // SaveHexFile, or raw binary; ELF files are never written.
    bool SaveImageFile(bool prog, const std::string& path, FormatChoice choice, std::string& error);
    // The memories of an ELF file, checked against the selected device as
    // ReadImageBytes does; false with the reason in error.
    bool ReadElfForDevice(const std::string& bytes, ElfMemories& memories,
                          std::string& error) const;

private:
    IOperationHost& m_host;
    CQtSerialPort m_realPort;
    CSteadyCounter m_steadyCounter;
    IPerformanceCounter& m_counter;
    CSimPortKind m_simPorts;
    CRoutingPort m_router;
    CIspAdapter m_adapter;
    COperations m_operations;
};
