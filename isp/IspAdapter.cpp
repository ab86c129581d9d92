#include "isp/IspAdapter.h"
