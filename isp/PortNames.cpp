#include "isp/PortNames.h"
