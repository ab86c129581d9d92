#include "ports/FtdiPortKind.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

constexpr int kHexBase = 16;

std::string FirstLine(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

int HexValue(const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, kHexBase);
    return text.empty() || *end != '\0' ? -1 : static_cast<int>(value);
}

}  // namespace

ISerialPort* CFtdiPortKind::PortNamed(const std::string& name, std::string& error) {
    auto it = m_cables.find(name);
    if (it == m_cables.end()) {
        FtdiPortOptions options;
        if (!ParseFtdiPortName(name, options, error)) {
            return nullptr;
        }
        Cable cable;
        cable.device = std::make_unique<CLibFtdiDevice>();
        cable.port = std::make_unique<CFtdiPort>(*cable.device, options);
        it = m_cables.emplace(name, std::move(cable)).first;
    }
    return it->second.port.get();
}

bool FtdiCableOfSerialDevice(const std::string& devicePath, std::string& serial,
                             const std::string& sysRoot) {
    namespace fs = std::filesystem;
    std::error_code error;
    // /dev/serial/by-id/... and other links lead to the device itself.
    const fs::path device = fs::canonical(devicePath, error);
    if (error) {
        return false;
    }
    // The tty's device is the USB interface; the USB device above it tells
    // vendor, product and serial number.
    const fs::path tty = fs::path(sysRoot) / "class" / "tty" / device.filename() / "device";
    const fs::path interface = fs::canonical(tty, error);
    if (error) {
        return false;
    }
    const fs::path usb = interface.parent_path();
    const int vendor = HexValue(FirstLine(usb / "idVendor"));
    const int product = HexValue(FirstLine(usb / "idProduct"));
    if (vendor != kFtdiVendor || (product != kFt232rProduct && product != kFt231xProduct)) {
        return false;
    }
    serial = FirstLine(usb / "serial");
    return true;
}
