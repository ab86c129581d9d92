#include "ports/LibFtdiDevice.h"

#include <ftdi.h>

#include <chrono>

namespace {

constexpr uint16_t kProducts[] = {kFt232rProduct, kFt231xProduct};
// A read of a partly filled buffer waits for the latency timer: 1 ms, the
// least the chip takes, while programming.
constexpr unsigned char kLatencyMs = 1;
// An exchange whose samples do not all come back within this time means the
// cable has gone.
constexpr auto kExchangeTimeout = std::chrono::milliseconds(1000);
constexpr int kStringLength = 128;

}  // namespace

CLibFtdiDevice::CLibFtdiDevice() = default;

CLibFtdiDevice::~CLibFtdiDevice() {
    Close();
}

bool CLibFtdiDevice::Fail(const char* what) {
    m_error = std::string(what) + ": " + (m_ftdi != nullptr ? ftdi_get_error_string(m_ftdi) : "");
    return false;
}

bool CLibFtdiDevice::Open(const std::string& serial, uint8_t outputMask, int pinClockHz) {
    Close();
    m_ftdi = ftdi_new();
    if (m_ftdi == nullptr) {
        m_error = "cannot set up libftdi";
        return false;
    }
    // The cable is a serial port again once the program lets it go.
    m_ftdi->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    const char* wanted = serial.empty() ? nullptr : serial.c_str();
    bool opened = false;
    for (uint16_t product : kProducts) {
        if (ftdi_usb_open_desc(m_ftdi, kFtdiVendor, product, nullptr, wanted) == 0) {
            opened = true;
            break;
        }
    }
    if (!opened) {
        Fail(serial.empty()
                 ? "no FT232R or FT231X cable could be opened"
                 : ("the cable with serial number " + serial + " could not be opened").c_str());
        ftdi_free(m_ftdi);
        m_ftdi = nullptr;
        return false;
    }
    m_open = true;
    if (ftdi_set_latency_timer(m_ftdi, kLatencyMs) != 0 ||
        ftdi_set_bitmode(m_ftdi, outputMask, BITMODE_SYNCBB) != 0 || !SetPinClock(pinClockHz) ||
        ftdi_tcioflush(m_ftdi) != 0) {
        Fail("cannot set the cable to bit-bang mode");
        Close();
        return false;
    }
    return true;
}

bool CLibFtdiDevice::SetPinClock(int pinClockHz) {
    return m_open &&
           (ftdi_set_baudrate(m_ftdi, pinClockHz) == 0 || Fail("cannot set the pin clock"));
}

bool CLibFtdiDevice::Exchange(const uint8_t* out, uint8_t* samples, size_t count) {
    if (!m_open) {
        m_error = "the cable is not open";
        return false;
    }
    const int size = static_cast<int>(count);
    if (ftdi_write_data(m_ftdi, out, size) != size) {
        return Fail("the cable stopped answering");
    }
    int got = 0;
    const auto until = std::chrono::steady_clock::now() + kExchangeTimeout;
    while (got < size) {
        const int read = ftdi_read_data(m_ftdi, samples + got, size - got);
        if (read < 0 || std::chrono::steady_clock::now() > until) {
            return Fail("the cable stopped answering");
        }
        got += read;
    }
    return true;
}

void CLibFtdiDevice::Close() {
    if (m_ftdi == nullptr) {
        return;
    }
    if (m_open) {
        ftdi_set_bitmode(m_ftdi, 0, BITMODE_RESET);
        ftdi_usb_close(m_ftdi);
    }
    ftdi_free(m_ftdi);
    m_ftdi = nullptr;
    m_open = false;
}

bool CLibFtdiDevice::List(std::vector<FtdiCable>& cables, std::string& error) {
    cables.clear();
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) {
        error = "cannot set up libftdi";
        return false;
    }
    bool ok = true;
    for (uint16_t product : kProducts) {
        ftdi_device_list* list = nullptr;
        if (ftdi_usb_find_all(ftdi, &list, kFtdiVendor, product) < 0) {
            error = ftdi_get_error_string(ftdi);
            ok = false;
            continue;
        }
        for (ftdi_device_list* at = list; at != nullptr; at = at->next) {
            char description[kStringLength] = {};
            char serial[kStringLength] = {};
            // Without access to the device its strings stay empty.
            ftdi_usb_get_strings(ftdi, at->dev, nullptr, 0, description, kStringLength, serial,
                                 kStringLength);
            cables.push_back({serial, description});
        }
        ftdi_list_free(&list);
    }
    ftdi_free(ftdi);
    return ok;
}
