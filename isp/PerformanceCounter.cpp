#include "isp/PerformanceCounter.h"
