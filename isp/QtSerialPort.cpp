#include "isp/QtSerialPort.h"
