// A real FTDI cable through libftdi1: opened by vendor, product and serial
// number, the kernel's serial driver detached while in use and attached
// again at close, so that the cable is a serial port again afterwards.
#pragma once

#include <string>
#include <vector>

#include "ports/FtdiDevice.h"

struct ftdi_context;

class CLibFtdiDevice : public IFtdiDevice {
public:
    CLibFtdiDevice();
    ~CLibFtdiDevice() override;
    CLibFtdiDevice(const CLibFtdiDevice&) = delete;
    CLibFtdiDevice& operator=(const CLibFtdiDevice&) = delete;

    bool Open(const std::string& serial, uint8_t outputMask, int pinClockHz) override;
    bool SetPinClock(int pinClockHz) override;
    bool Exchange(const uint8_t* out, uint8_t* samples, size_t count) override;
    void Close() override;
    std::string LastError() const override { return m_error; }

    // The FT232R and FT231X cables on the USB; false with the reason when
    // the bus cannot be searched.
    static bool List(std::vector<FtdiCable>& cables, std::string& error);

private:
    bool Fail(const char* what);

    ftdi_context* m_ftdi = nullptr;
    bool m_open = false;
    std::string m_error;
};
