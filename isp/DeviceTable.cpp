#include "isp/DeviceTable.h"

// The search order of selection and identification. The ATtiny10/11/12 row
// carries 0x159, wider than a byte: the signature check of programming-mode
// entry, which compares the whole value, never accepts it, while
// identification, which compares the low eight bits, can.
const DeviceInfo g_deviceTable[kDeviceCount] = {
    {8535, 0x03, 8192, 512, "AT90S8535", 0x00, 0xFF, 0xFF},
    {4434, 0x02, 4096, 256, "AT90S4434", 0x00, 0xFF, 0xFF},
    {1200, 0x01, 1024, 64, "AT90S1200", 0x00, 0xFF, 0xFF},
    {4414, 0x01, 4096, 256, "AT90S4414", 0x80, 0x7F, 0x7F},
    {8515, 0x01, 8192, 512, "AT90S8515", 0x80, 0x7F, 0x7F},
    {2313, 0x01, 2048, 128, "AT90S2313", 0x80, 0x7F, 0x7F},
    {2323, 0x02, 2048, 128, "AT90S2323", 0x00, 0xFF, 0xFF},
    {2343, 0x03, 2048, 128, "AT90S2343", 0x00, 0xFF, 0xFF},
    {10, 0x159, 1024, 64, "ATtiny10/11/12", 0xFF, 0xFF, 0xFF},
    {4433, 0x03, 4096, 256, "AT90S4433", 0x00, 0xFF, 0xFF},
    {2333, 0x05, 2048, 128, "AT90S2333", 0x00, 0xFF, 0xFF},
    {15, 0x06, 1024, 64, "ATtiny15", 0xFF, 0xFF, 0xFF},
    {22, 0x06, 2048, 128, "ATtiny22", 0xFF, 0xFF, 0xFF},
    {103, 0x01, 131072, 2048, "ATmega103", 0x00, 0xFF, 0xFF},
    {161, 0x01, 16384, 512, "ATmega161", 0x00, 0xFF, 0xFF},
};

namespace {

struct SizeCode {
    int32_t progSize;
    uint8_t code;
};

// Second signature byte: the program memory size. 0x95 and 0x96 have none.
constexpr SizeCode kSizeCodes[] = {
    {1024, 0x90}, {2048, 0x91}, {4096, 0x92}, {8192, 0x93}, {16384, 0x94}, {131072, 0x97},
};

}  // namespace

uint8_t SizeCodeForProgSize(int32_t progSize) {
    for (const SizeCode& s : kSizeCodes) {
        if (s.progSize == progSize) {
            return s.code;
        }
    }
    return 0;
}

int32_t ProgSizeForSizeCode(uint8_t code) {
    for (const SizeCode& s : kSizeCodes) {
        if (s.code == code) {
            return s.progSize;
        }
    }
    return 0;
}
