#include "image/IntelHex.h"
