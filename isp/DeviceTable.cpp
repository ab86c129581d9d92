#include "isp/DeviceTable.h"
