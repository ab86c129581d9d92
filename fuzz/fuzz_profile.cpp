// Any bytes as the text of a settings file. Every entry the program reads is
// looked up and read as a number; then one entry is set, and the text that
// results must give the new value for it and, for every other entry, what
// the old text gave.
//
// Input: the file text, optionally followed by NUL section NUL entry NUL
// value, naming the entry to set. Without a storable name there, one of the
// program's own entries is set instead, chosen by the input's length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/ProfileFile.h"
#include "app/SettingsKeys.h"

namespace {

using Key = std::pair<std::string, std::string>;  // section, entry

// The entries the program reads and writes.
std::vector<Key> ProgramKeys() {
    using namespace settings;
    return {
        {kDeviceSection, kDeviceType}, {kComSection, kComPort},   {kFileProgSection, kName},
        {kFileProgSection, kName2},    {kFileDataSection, kName}, {kFileDataSection, kName2},
        {kPathProgSection, kName},     {kPathDataSection, kName}, {kPortsSection, "COM1"},
        {kPortsSection, "COM2"},       {kPortsSection, "COM3"},   {kPortsSection, "COM4"},
    };
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool SameKey(const Key& a, const Key& b) {
    return SameName(a.first, b.first) && SameName(a.second, b.second);
}

std::string_view TrimBlanks(std::string_view s) {
    const char* const blanks = " \t\r\v\f";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Every look-up reads the whole text again: past a few dozen of them a run
// costs more than it finds.
constexpr size_t kMaxKeysFromText = 16;

// Names that look like sections and entries in the text (the first few):
// candidates only; whether they are found is the parser's to say, before
// and after.
std::vector<Key> KeysInText(const std::string& text) {
    std::vector<Key> keys;
    std::string section;
    size_t start = 0;
    while (start < text.size() && keys.size() < kMaxKeysFromText) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line = TrimBlanks(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            const size_t close = line.rfind(']');
            if (close != std::string_view::npos && close > 0) {
                section = std::string(TrimBlanks(line.substr(1, close - 1)));
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            keys.emplace_back(section, std::string(TrimBlanks(line.substr(0, equals))));
        }
    }
    return keys;
}

struct Found {
    bool found = false;
    std::string value;
};

Found Look(const std::string& text, const Key& key) {
    Found result;
    result.found = CProfileFile::FindEntry(text, key.first, key.second, result.value);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<Key> programKeys = ProgramKeys();
    const std::string input(reinterpret_cast<const char*>(data), size);

    // The file text and the entry to set.
    std::string text = input;
    Key target = programKeys[size % programKeys.size()];
    std::string value = "v" + std::to_string(size);
    const size_t first = input.find('\0');
    if (first != std::string::npos) {
        text = input.substr(0, first);
        const std::string rest = input.substr(first + 1);
        const size_t second = rest.find('\0');
        const size_t third = second == std::string::npos ? second : rest.find('\0', second + 1);
        if (third != std::string::npos) {
            Key named{rest.substr(0, second), rest.substr(second + 1, third - second - 1)};
            std::string namedValue = rest.substr(third + 1);
            if (CProfileFile::IsStorableName(named.first) &&
                CProfileFile::IsStorableName(named.second) &&
                CProfileFile::IsStorableValue(namedValue)) {
                target = std::move(named);
                value = std::move(namedValue);
            }
        }
    }

    // Reading: every entry the program uses, as text and as a number.
    for (const Key& key : programKeys) {
        const Found found = Look(text, key);
        if (found.found) {
            if (found.value.find('\n') != std::string::npos) {
                std::abort();  // a value never reaches past its line
            }
            const int number = CProfileFile::ParseInt(found.value, -1);
            if (number < -1) {
                std::abort();  // leading digits never make a negative number
            }
        }
    }

    // Writing one entry.
    const std::string written = CProfileFile::SetEntry(text, target.first, target.second, value);
    const Found now = Look(written, target);
    if (!now.found || now.value != value) {
        std::abort();  // the entry set must read back as set
    }
    if (CProfileFile::SetEntry(written, target.first, target.second, value) != written) {
        std::abort();  // setting the same value again changes nothing
    }

    // Everything else reads as before: found or not, and the same value.
    std::vector<Key> others = programKeys;
    for (Key& key : KeysInText(text)) {
        others.push_back(std::move(key));
    }
    for (const Key& key : others) {
        if (SameKey(key, target)) {
            continue;
        }
        const Found before = Look(text, key);
        const Found after = Look(written, key);
        if (before.found != after.found || before.value != after.value) {
            std::abort();
        }
    }
    return 0;
}
