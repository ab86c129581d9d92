// The one door of both front ends to the programmer: the selected device and
// the two memory images, the ports (opened by name through the port
// registry), the operations, and the commands around them that post message
// lines: select a device, identify it, check the adapter, read and save hex
// files. The window and the command-line tool keep only what differs:
// widgets and dialogs, or arguments and terminal output. No widgets here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/ElfImage.h"
#include "image/ImageFormats.h"
#include "image/IntelHex.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "ports/PortNames.h"
#include "ports/SerialPort.h"

class CIspAdapter;
class CPortProgrammer;
class CRoutingPort;
class CSerialWire;
class CSimUpdiPorts;
class CUpdiAdapter;
class CSimPortKind;
class IPerformanceCounter;
class IPortKind;
class ISerialPort;

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

// The clock of a session's protocol waits.
enum class SessionClock {
    Steady,                // the real clock, whatever the port
    VirtualWhenSimulated,  // virtual time when the port is a simulated adapter
};

class CProgrammingSession {
public:
    // host receives the message lines and is what the operations report
    // through; it is not used before the first command. counter: the time
    // base of every protocol wait and of the simulated adapters; nullptr for
    // the steady clock. Both must outlive the session.
    explicit CProgrammingSession(IOperationHost& host, IPerformanceCounter* counter = nullptr);
    // The same with the clock chosen for the port that will be opened:
    // portName is looked up in the port registry.
    CProgrammingSession(IOperationHost& host, SessionClock clock, const std::string& portName);
    ~CProgrammingSession();
    CProgrammingSession(const CProgrammingSession&) = delete;
    CProgrammingSession& operator=(const CProgrammingSession&) = delete;

    COperations& Operations() { return *m_operations; }
    MemoryImages& Images() { return m_images; }
    const MemoryImages& Images() const { return m_images; }

    // The selected device: its description (nullptr before the first
    // selection), number (kNoDeviceNumber for the parts stored by name),
    // name and memory sizes.
    const DeviceInfo* Device() const;
    int DeviceNumber() const;
    std::string DeviceName() const;
    int ProgSize() const;
    int DataSize() const;

    // Makes the device with that number the selected one (when the table has
    // it; else the selection stays), sizes both images to it, erased, and
    // posts "Select device : <name>" (unless quietly). false when the
    // number is unknown.
    bool SelectDevice(int number, bool quietly = false);
    // The same for the row at that index of the table (every part, those
    // without a device number included).
    bool SelectDeviceRow(int row);
    // Both images at the selected device's sizes, every byte erased.
    void BlankImages();
    // Asks the chip for its signature: posts "Auto Select device : " and
    // then the device found (which becomes the selected one) or
    // " Device Error "; leaves programming mode either way.
    bool AutoDetect();

    // Where COMn lives here (the window's [Ports] entries).
    void SetPortOverrides(const PortNameMap& overrides);
    // Opens the port with that name in place of the one open: COM1 to COM4,
    // a device path, or a name of a registered kind. false when the name is
    // no good (nothing done then: the port open stays open) or the open
    // failed; LastPortError() says why.
    bool SelectPort(const std::string& name);
    // Opens the port with that name and tests whether the adapter answers.
    // Unlike SelectPort, a COM name outside COM1 to COM4 is tried too (and
    // fails), closing the port open before.
    bool CheckAdapter(const std::string& name);
    // The COM number of the port last opened; kNoPortNumber when it was
    // opened by another name.
    int PortNumber() const;
    // The device the name opens (COMn as the overrides map it).
    std::string PortDevice(const std::string& name) const;
    std::string LastPortError() const;
    // The port as the lines name it: "COM2 (/dev/ttyUSB0)", or the name.
    std::string PortLabel(const std::string& name) const;
    // Why the port with that name could not be opened ("cannot open port
    // COM2 (/dev/ttyUSB0): ..."), in words that say where to look: it is
    // in use by another program, does not exist, may not be opened by this
    // user (and how to be allowed), or else the system's own reason.
    std::string PortOpenError(const std::string& name) const;
    // " COM2 (/dev/ttyUSB0) is in use by another program\r\n" when the last
    // open failed for one of those three reasons; empty otherwise.
    std::string PortTroubleLine(const std::string& name) const;
    // Lets go of the port open (RESET released), so that another session
    // may open it; SelectPort opens it again.
    void ReleasePort();
    // Saves what the ports keep between runs (a sim: state file).
    bool SavePortState(std::string& error);

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

    // The programmer the port open leads to (the ISP or the UPDI adapter),
    // with the selected part: what the operations are given, and what
    // anything else that reaches the chip goes through.
    IProgrammer& Programmer();
    // For tests and benchmarks: the ISP adapter and the simulated adapters
    // that sim: names lead to.
    CIspAdapter& Adapter() { return *m_adapter; }
    CSimPortKind& SimPorts() { return *m_simPorts; }
    // The simulated UPDI adapters that sim:<UPDI chip> names lead to.
    CSimUpdiPorts& SimUpdiPorts() { return *m_simUpdi; }
    // Whether the port open leads to a UPDI adapter.
    bool OnUpdiPort() const;

private:
    CProgrammingSession(IOperationHost& host, IPerformanceCounter* counter, bool virtualTime);
    // Opens a port name as COMn (through the overrides) or as it is; an
    // FTDI cable's serial device the fast way where its USB device opens.
    int OpenNamed(const std::string& name);
    // Opens the port last asked for by name again (a cable plugged back).
    int OpenAgain();
    bool Reopen();
    // Opens a UPDI adapter on the path (a UPDI path or a sim: UPDI name).
    int OpenUpdi(const std::string& path);
    // Back to the ISP adapter: the UPDI adapter and its wire are let go.
    void CloseUpdi();
    // The last open's failure in words, for the three reasons the user can
    // act on; empty for any other.
    std::string PortTrouble() const;

    IOperationHost& m_host;
    std::unique_ptr<IPerformanceCounter> m_ownedCounter;
    IPerformanceCounter& m_counter;
    std::unique_ptr<ISerialPort> m_realPort;
    std::vector<std::unique_ptr<IPortKind>> m_kinds;
    CSimPortKind* m_simPorts = nullptr;
    std::unique_ptr<CRoutingPort> m_router;
    std::unique_ptr<CIspAdapter> m_adapter;
    std::unique_ptr<CSimUpdiPorts> m_simUpdi;
    std::unique_ptr<CSerialWire> m_serialWire;
    std::unique_ptr<CUpdiAdapter> m_updi;
    std::string m_updiError;  // why the last UPDI open failed
    // What the operations are given: the adapter the open port leads to.
    std::unique_ptr<CPortProgrammer> m_programmer;
    MemoryImages m_images;
    std::unique_ptr<COperations> m_operations;
    bool m_bToldFastWay = false;                     // the notice on the slow way was given
    std::string m_portName;                          // the name the port was last asked for by
    PortErrorKind m_openKind = PortErrorKind::None;  // why the last open failed
};
