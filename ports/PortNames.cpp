#include "ports/PortNames.h"

#include <string>

std::string ComPortName(int n) {
    return "COM" + std::to_string(n);
}

std::string ResolvePortName(int n, const PortNameMap& overrides) {
    auto it = overrides.find(n);
    if (it != overrides.end() && !it->second.empty()) {
        return it->second;
    }
#ifdef _WIN32
    return ComPortName(n);
#else
    // COM1 is the first on-board UART.
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}
