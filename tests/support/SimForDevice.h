// Test and benchmark convenience: the simulated chip for a row of the
// programmer's device table. Only the row's name is taken from the table;
// every fact comes from the simulator's own datasheet table, which is what
// lets a wrong entry in the description fail a test.
#pragma once

#include "parts/DeviceTable.h"
#include "sim/SimTarget.h"

// A row outside the table gives the default SimConfig.
inline SimConfig SimConfigForDevice(int deviceIndex) {
    if (deviceIndex < 0 || deviceIndex >= kDeviceCount) {
        return SimConfig();
    }
    return SimConfigForPart(g_deviceTable[deviceIndex].name);
}
