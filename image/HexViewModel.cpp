#include "image/HexViewModel.h"
