#include "parts/FuseSet.h"

#include <cctype>
#include <cstdio>

#include "base/NameText.h"

namespace {

constexpr char kListSeparator = ',';
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr unsigned kMaxByte = 0xFF;
constexpr size_t kFuseTextLength = 8;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

bool ParseFuseSet(const std::string& text, std::array<uint8_t, kFuseByteCount>& fuses,
                  uint8_t& mask, std::string& error, std::string* settings) {
    std::array<uint8_t, kFuseByteCount> parsed{};
    uint8_t given = 0;
    std::string named;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(kListSeparator, start);
        const std::string item = LowerCase(text.substr(start, comma - start));
        const size_t equals = item.find('=');
        const int index = equals == std::string::npos ? -1 : FindFuseByte(item.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        if (settings != nullptr && index < 0 && equals != std::string::npos && equals > 0 &&
            !value.empty()) {
            // A setting by name: the device's fuse fields say whether it has one.
            named += (named.empty() ? "" : ",") + item;
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
            continue;
        }
        const std::string digits = value.rfind("0x", 0) == 0 ? value.substr(2) : value;
        unsigned number = 0;
        bool hex = !digits.empty() && digits.size() <= 2;
        for (char c : digits) {
            const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + kDecimalBase
                                                     : -1;
            hex = hex && digit >= 0;
            number = number * kHexBase + static_cast<unsigned>(digit < 0 ? 0 : digit);
        }
        if (index < 0 || !hex || number > kMaxByte || (given & g_fuseBytes[index].mask) != 0) {
            error = "bad fuse " + Quoted(item) + " in " + Quoted(text) +
                    "; use a comma list of lfuse=, hfuse=, efuse= with hex values, each once";
            return false;
        }
        parsed[static_cast<size_t>(index)] = static_cast<uint8_t>(number);
        given = static_cast<uint8_t>(given | g_fuseBytes[index].mask);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    fuses = parsed;
    mask = given;
    if (settings != nullptr) {
        *settings = named;
    }
    return true;
}

std::string FormatFuseSet(const std::array<uint8_t, kFuseByteCount>& fuses, uint8_t mask) {
    std::string text;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((mask & g_fuseBytes[i].mask) != 0) {
            char value[kFuseTextLength];
            std::snprintf(value, sizeof value, "0x%02X", fuses[static_cast<size_t>(i)]);
            text += (text.empty() ? "" : ",") + std::string(g_fuseBytes[i].name) + "=" + value;
        }
    }
    return text;
}
