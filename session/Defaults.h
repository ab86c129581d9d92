// What both front ends start with when nothing else is given: the device
// and the port of a first run.
#pragma once

constexpr int kDefaultDeviceNumber = 8535;
constexpr int kDefaultPortNumber = 2;
