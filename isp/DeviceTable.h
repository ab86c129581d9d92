// The fifteen target devices the programmer knows.
#pragma once

#include <cstdint>

constexpr int kDeviceNameLength = 40;

struct DeviceInfo {
    int32_t number;     // device number: the selection key, stored in the settings
    int32_t signature;  // third signature byte (index 2) the device answers
    int32_t progSize;   // program memory size in bytes
    int32_t dataSize;   // data memory (EEPROM) size in bytes
    char name[kDeviceNameLength];
    uint8_t pollData1;  // a data byte equal to this is confirmed by a fixed wait
    uint8_t pollData2;  // likewise
    uint8_t pollProg;   // a program byte equal to this is confirmed by a fixed wait
};

constexpr int kDeviceCount = 15;
extern const DeviceInfo g_deviceTable[kDeviceCount];

// First signature byte of every Atmel part.
constexpr uint8_t kAtmelVendorCode = 0x1E;

// Size code (second signature byte) of a program memory size in bytes; 0 when
// that size has none.
uint8_t SizeCodeForProgSize(int32_t progSize);
// Program memory size of a size code; 0 when the code has no size.
int32_t ProgSizeForSizeCode(uint8_t code);
