#include "session/Recipe.h"

#include <algorithm>
#include <limits>
#include <sstream>

#include "base/NameText.h"
#include "image/FileAccess.h"
#include "ops/Operations.h"
#include "parts/FuseFields.h"
#include "parts/FuseSet.h"
#include "session/ProgrammingSession.h"
#include "session/RecipeIni.h"

namespace {

constexpr const char* kRecipeSection = "Recipe";
constexpr const char* kSerialSection = "Serial";
constexpr const char* kCalibrationSection = "Calibration";
constexpr const char* kRecipeSuffix = ".brenwick";
constexpr const char* kLogSuffix = ".log.csv";
constexpr const char* kHexPrefix = "0x";
constexpr char kListSeparator = ',';
constexpr char kPlaceSeparator = ':';
constexpr uint64_t kDecimalBase = 10;
constexpr uint64_t kHexBase = 16;
constexpr uint64_t kMaxByte = 0xFF;
constexpr uint8_t kErasedByte = 0xFF;

const std::vector<IniKeyName>& KnownKeys() {
    static const std::vector<IniKeyName> keys = {
        {kRecipeSection, "part"},         {kRecipeSection, "flash"},
        {kRecipeSection, "eeprom"},       {kRecipeSection, "fuses"},
        {kRecipeSection, "allow-cutoff"}, {kRecipeSection, "lock"},
        {kRecipeSection, "steps"},        {kSerialSection, "memory"},
        {kSerialSection, "address"},      {kSerialSection, "size"},
        {kSerialSection, "endian"},       {kSerialSection, "format"},
        {kSerialSection, "width"},        {kSerialSection, "first"},
        {kSerialSection, "step"},         {kSerialSection, "next-file"},
        {kCalibrationSection, "store"},
    };
    return keys;
}

struct StepName {
    const char* name;
    RecipeStep step;
};
constexpr StepName kStepNames[] = {
    {"erase", RecipeStep::Erase},   {"flash", RecipeStep::Flash}, {"eeprom", RecipeStep::Eeprom},
    {"verify", RecipeStep::Verify}, {"fuses", RecipeStep::Fuses}, {"lock", RecipeStep::Lock},
};

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        std::string item = text.substr(start, at - start);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        items.push_back(item);
        if (at == std::string::npos) {
            return items;
        }
        start = at + 1;
    }
}

// Decimal, or 0x and hex digits; false when it is no number or overflows.
bool ParseNumber(const std::string& text, uint64_t& value) {
    const bool hex = text.size() > 2 && StartsWithNoCase(text, kHexPrefix);
    const uint64_t base = hex ? kHexBase : kDecimalBase;
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) {
        return false;
    }
    uint64_t result = 0;
    for (char c : digits) {
        const char lower = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        uint64_t digit = base;
        if (lower >= '0' && lower <= '9') {
            digit = static_cast<uint64_t>(lower - '0');
        } else if (lower >= 'a' && lower <= 'f') {
            digit = static_cast<uint64_t>(lower - 'a') + kDecimalBase;
        }
        if (digit >= base || result > (std::numeric_limits<uint64_t>::max() - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    value = result;
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Resolved(const std::string& folder, const std::string& file) {
    return !file.empty() && file[0] == '/' ? file : folder + file;
}

class CRecipeReader {
public:
    CRecipeReader(const CRecipeIni& ini, Recipe& recipe, std::string& error)
        : m_ini(ini), m_recipe(recipe), m_error(error) {}

    bool Fail(const IniValue& value, const std::string& what) {
        m_error = m_ini.Where(value.line) + what;
        return false;
    }

    bool Part() {
        const IniValue* part = m_ini.Find(kRecipeSection, "part");
        if (part == nullptr) {
            m_error = m_ini.Where(m_ini.SectionLine(kRecipeSection)) + "[Recipe] names no part";
            return false;
        }
        const int row = FindDevice(part->text);
        if (row < 0) {
            return Fail(*part, "unknown part \"" + part->text + "\"");
        }
        m_recipe.partText = part->text;
        m_recipe.deviceRow = row;
        return true;
    }

    bool YesNo(const char* section, const char* key, bool& flag) {
        const IniValue* value = m_ini.Find(section, key);
        if (value == nullptr) {
            return true;
        }
        const std::string word = LowerCase(value->text);
        if (word != "yes" && word != "no") {
            return Fail(*value, std::string(key) + " is yes or no, not \"" + value->text + "\"");
        }
        flag = word == "yes";
        return true;
    }

    bool Fuses() {
        const IniValue* value = m_ini.Find(kRecipeSection, "fuses");
        if (value == nullptr) {
            return true;
        }
        const DeviceInfo& device = g_deviceTable[m_recipe.deviceRow];
        // The tool's write-fuses syntax, settings by name included.
        std::string why;
        if (!ParseFuseSet(value->text, m_recipe.fuses, m_recipe.fuseMask, why,
                          &m_recipe.fuseSettings)) {
            return Fail(*value, why);
        }
        for (const FuseByteInfo& fuse : g_fuseBytes) {
            if ((m_recipe.fuseMask & fuse.mask) != 0 && (device.fuseBytes & fuse.mask) == 0) {
                return Fail(*value, std::string(device.name) + " has no " + fuse.name);
            }
        }
        if (!m_recipe.fuseSettings.empty()) {
            // Settings by name: checked against the part's own fields.
            FuseByteValues probe{kErasedByte, kErasedByte, kErasedByte};
            uint8_t touched = 0;
            if (!ApplyFuseSettings(device, m_recipe.fuseSettings, probe, touched, why)) {
                return Fail(*value, why);
            }
        }
        // A value that cuts the chip off from a chip that could be reached:
        // refused now. (A new clock source depends on the chip's values; the
        // fuses step refuses it on the chip itself.)
        std::array<uint8_t, kFuseByteCount> reachable = m_recipe.fuses;
        auto setBit = [&reachable](int bit, bool one) {
            if (bit < 0) {
                return;
            }
            uint8_t& byte = reachable[static_cast<size_t>(bit / kBitsPerFuse)];
            const auto mask = static_cast<uint8_t>(1U << (bit % kBitsPerFuse));
            byte = static_cast<uint8_t>(one ? byte | mask : byte & ~mask);
        };
        setBit(device.rstdisblBit, true);
        setBit(device.dwenBit, true);
        setBit(device.spienBit, false);
        const std::string reasons =
            FuseCutOffReasons(device, reachable, m_recipe.fuses, m_recipe.fuseMask);
        if (!reasons.empty() && !m_recipe.allowCutOff) {
            return Fail(*value, "these fuses cut the chip off (" + reasons +
                                    "); say allow-cutoff = yes if that is meant");
        }
        return true;
    }

    bool Lock() {
        const IniValue* value = m_ini.Find(kRecipeSection, "lock");
        if (value == nullptr) {
            return true;
        }
        m_recipe.hasLock = true;
        uint64_t number = 0;
        if (StartsWithNoCase(value->text, kHexPrefix)) {
            if (!ParseNumber(value->text, number) || number > kMaxByte) {
                return Fail(*value, "bad lock byte \"" + value->text + "\"");
            }
            m_recipe.lockIsByte = true;
            m_recipe.lockByte = static_cast<uint8_t>(number);
            return true;
        }
        if (LowerCase(value->text) == "none") {
            return true;
        }
        for (const std::string& item : SplitList(LowerCase(value->text), kListSeparator)) {
            if (item == "lb1") {
                m_recipe.lockTicks.m_bLockBit1 = 1;
            } else if (item == "lb2") {
                m_recipe.lockTicks.m_bLockBit2 = 1;
            } else if (item == "fstrt") {
                m_recipe.lockTicks.m_bFstrt = 1;
            } else {
                return Fail(*value, "bad lock \"" + value->text +
                                        "\"; use a lock byte (0x..), none, or lb1,lb2,fstrt");
            }
        }
        return true;
    }

    bool Steps() {
        const IniValue* value = m_ini.Find(kRecipeSection, "steps");
        if (value == nullptr) {
            m_error = m_ini.Where(m_ini.SectionLine(kRecipeSection)) + "[Recipe] has no steps";
            return false;
        }
        for (const std::string& item : SplitList(LowerCase(value->text), kListSeparator)) {
            const StepName* found = nullptr;
            for (const StepName& entry : kStepNames) {
                found = item == entry.name ? &entry : found;
            }
            if (found == nullptr) {
                return Fail(*value, "unknown step \"" + item +
                                        "\"; steps are erase, flash, eeprom, verify, fuses, lock");
            }
            if (m_recipe.Has(found->step)) {
                return Fail(*value, "step " + item + " given twice");
            }
            m_recipe.steps.push_back(found->step);
        }
        if (m_recipe.Has(RecipeStep::Flash) && m_recipe.flashFile.empty()) {
            return Fail(*value, "step flash but no flash file");
        }
        if (m_recipe.Has(RecipeStep::Fuses) && m_recipe.fuseMask == 0 &&
            m_recipe.fuseSettings.empty()) {
            return Fail(*value, "step fuses but no fuses");
        }
        if (m_recipe.Has(RecipeStep::Lock) && !m_recipe.hasLock) {
            return Fail(*value, "step lock but no lock");
        }
        if (!m_recipe.Has(RecipeStep::Flash) && !m_recipe.flashFile.empty()) {
            return Fail(*value, "a flash file but no step flash");
        }
        if (!m_recipe.Has(RecipeStep::Eeprom) && !m_recipe.eepromFile.empty()) {
            return Fail(*value, "an eeprom file but no step eeprom");
        }
        return true;
    }

    // "eeprom:0x10" or "flash:0x7FF0".
    bool Place(const IniValue& value, const std::string& memory, const std::string& address,
               RecipePlace& place) {
        const std::string which = LowerCase(memory);
        if (which != "flash" && which != "eeprom") {
            return Fail(value, "memory is flash or eeprom, not \"" + memory + "\"");
        }
        uint64_t number = 0;
        if (!ParseNumber(address, number) ||
            number > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
            return Fail(value, "bad address \"" + address + "\"");
        }
        place.inFlash = which == "flash";
        place.address = static_cast<int>(number);
        return true;
    }

    // A step that puts the value into the chip must be in the list.
    bool Written(const IniValue& value, const RecipePlace& place, const char* what) {
        const RecipeStep needed = place.inFlash ? RecipeStep::Flash : RecipeStep::Eeprom;
        if (!m_recipe.Has(needed)) {
            return Fail(value, std::string(what) + " goes to the " +
                                   (place.inFlash ? "flash" : "EEPROM") + " but steps has no " +
                                   (place.inFlash ? "flash" : "eeprom"));
        }
        return true;
    }

    bool Serial(const std::string& folder) {
        if (!m_ini.HasSection(kSerialSection)) {
            return true;
        }
        RecipeSerial& serial = m_recipe.serial;
        serial.enabled = true;
        serial.line = m_ini.SectionLine(kSerialSection);
        const IniValue section{"", serial.line};
        for (const char* key : {"memory", "address", "first", "next-file"}) {
            if (m_ini.Find(kSerialSection, key) == nullptr) {
                return Fail(section, std::string("[Serial] needs ") + key);
            }
        }
        const IniValue& memory = *m_ini.Find(kSerialSection, "memory");
        if (!Place(memory, memory.text, m_ini.Find(kSerialSection, "address")->text,
                   serial.place) ||
            !Written(memory, serial.place, "the serial number")) {
            return false;
        }
        if (const IniValue* format = m_ini.Find(kSerialSection, "format")) {
            if (!ParseSerialEncoding(LowerCase(format->text), serial.format.encoding)) {
                return Fail(*format, "format is binary, bcd, ascii-dec or ascii-hex, not \"" +
                                         format->text + "\"");
            }
        }
        uint64_t number = 0;
        if (const IniValue* size = m_ini.Find(kSerialSection, "size")) {
            if (!ParseNumber(size->text, number) || number < kMinSerialSize ||
                number > kMaxSerialSize) {
                return Fail(*size, "size is 1 to 8 bytes, not \"" + size->text + "\"");
            }
            serial.format.size = static_cast<int>(number);
        }
        if (const IniValue* width = m_ini.Find(kSerialSection, "width")) {
            const bool text = serial.format.encoding == SerialEncoding::AsciiDec ||
                              serial.format.encoding == SerialEncoding::AsciiHex;
            if (!text) {
                return Fail(*width, "width is for the ascii formats");
            }
            if (!ParseNumber(width->text, number) || number < 1 || number > kMaxSerialWidth) {
                return Fail(*width, "width is 1 to 20 characters, not \"" + width->text + "\"");
            }
            serial.format.width = static_cast<int>(number);
        }
        if (const IniValue* endian = m_ini.Find(kSerialSection, "endian")) {
            const std::string word = LowerCase(endian->text);
            if (word != "little" && word != "big") {
                return Fail(*endian, "endian is little or big, not \"" + endian->text + "\"");
            }
            serial.format.bigEndian = word == "big";
        }
        const IniValue& first = *m_ini.Find(kSerialSection, "first");
        if (!ParseNumber(first.text, serial.first)) {
            return Fail(first, "bad first number \"" + first.text + "\"");
        }
        if (const IniValue* step = m_ini.Find(kSerialSection, "step")) {
            if (!ParseNumber(step->text, serial.step) || serial.step == 0) {
                return Fail(*step, "step is a number from 1, not \"" + step->text + "\"");
            }
        }
        serial.nextFile = Resolved(folder, m_ini.Find(kSerialSection, "next-file")->text);
        return true;
    }

    bool Calibration() {
        const IniValue* store = m_ini.Find(kCalibrationSection, "store");
        if (m_ini.HasSection(kCalibrationSection) && store == nullptr) {
            return Fail(IniValue{"", m_ini.SectionLine(kCalibrationSection)},
                        "[Calibration] needs store = eeprom:<address> or flash:<address>");
        }
        if (store == nullptr) {
            return true;
        }
        const size_t colon = store->text.find(kPlaceSeparator);
        if (colon == std::string::npos) {
            return Fail(*store, "store is eeprom:<address> or flash:<address>");
        }
        RecipeCalibration& calibration = m_recipe.calibration;
        calibration.enabled = true;
        calibration.line = store->line;
        if (!Place(*store, store->text.substr(0, colon), store->text.substr(colon + 1),
                   calibration.place) ||
            !Written(*store, calibration.place, "the calibration byte")) {
            return false;
        }
        if (!g_deviceTable[m_recipe.deviceRow].calibration) {
            return Fail(*store, std::string(g_deviceTable[m_recipe.deviceRow].name) +
                                    " gives no calibration byte");
        }
        return true;
    }

private:
    const CRecipeIni& m_ini;
    Recipe& m_recipe;
    std::string& m_error;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + static_cast<int>(kDecimalBase);
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + static_cast<int>(kDecimalBase);
    }
    return -1;
}

// The byte at a record's text offset; -1 when the text holds none there.
int HexByte(const std::string& line, size_t at) {
    if (at + 1 >= line.size()) {
        return -1;
    }
    const int high = HexDigit(line[at]);
    const int low = HexDigit(line[at + 1]);
    return high < 0 || low < 0 ? -1 : high * static_cast<int>(kHexBase) + low;
}

// Which bytes an Intel HEX text's data records cover (the reader has
// checked the text already; this only follows the addresses).
void HexCoverage(const std::string& text, std::vector<bool>& used) {
    constexpr int kDataRecord = 0x00;
    constexpr int kEndRecord = 0x01;
    constexpr int kSegmentRecord = 0x02;
    constexpr int kLinearRecord = 0x04;
    constexpr int kSegmentShift = 4;
    constexpr int kLinearShift = 16;
    constexpr size_t kCountAt = 1;
    constexpr size_t kAddressAt = 3;
    constexpr size_t kTypeAt = 7;
    constexpr size_t kDataAt = 9;
    constexpr int kByteBits = 8;
    long base = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] != ':') {
            continue;
        }
        const int count = HexByte(line, kCountAt);
        const int high = HexByte(line, kAddressAt);
        const int low = HexByte(line, kAddressAt + 2);
        const int type = HexByte(line, kTypeAt);
        if (count < 0 || high < 0 || low < 0 || type < 0 || type == kEndRecord) {
            if (type == kEndRecord) {
                return;
            }
            continue;
        }
        if (type == kSegmentRecord || type == kLinearRecord) {
            const long value =
                static_cast<long>(HexByte(line, kDataAt)) << kByteBits | HexByte(line, kDataAt + 2);
            base = value << (type == kSegmentRecord ? kSegmentShift : kLinearShift);
            continue;
        }
        if (type != kDataRecord) {
            continue;
        }
        const long address = base + (static_cast<long>(high) << kByteBits | low);
        for (long i = address; i < address + count; ++i) {
            if (i >= 0 && static_cast<size_t>(i) < used.size()) {
                used[static_cast<size_t>(i)] = true;
            }
        }
    }
}

// Reads a file into image and says which bytes it gives: the records'
// bytes of Intel HEX, the leading bytes of a binary file or ELF section.
bool ReadImage(CProgrammingSession& session, bool prog, const std::string& path,
               const std::string& bytes, std::vector<uint8_t>& image, std::vector<bool>& used,
               std::string& error) {
    const size_t size =
        static_cast<size_t>(std::max(prog ? session.ProgSize() : session.DataSize(), 0));
    const ImageFileResult result =
        session.ReadImageBytes(prog, path, bytes, FormatChoice::ByName, image);
    if (!result.Ok()) {
        error = "cannot use " + path + ": " +
                (!result.error.empty() ? result.error
                 : result.hexStatus == HexReadStatus::ChecksumError
                     ? std::string("a checksum error in its Intel HEX")
                     : std::string("an address outside the ") + session.DeviceName());
        return false;
    }
    used.assign(size, false);
    if (result.format == ImageFormat::IntelHex) {
        HexCoverage(bytes, used);
        return true;
    }
    if (result.format == ImageFormat::Binary) {
        std::fill(used.begin(),
                  used.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())), true);
        return true;
    }
    // An ELF section: what differs from erased, the best a section tells.
    for (size_t i = 0; i < size; ++i) {
        used[i] = image[i] != kErasedByte;
    }
    return true;
}

}  // namespace

bool Recipe::Has(RecipeStep step) const {
    return std::find(steps.begin(), steps.end(), step) != steps.end();
}

bool ParseRecipe(const std::string& text, const std::string& path, Recipe& recipe,
                 std::string& error) {
    CRecipeIni ini;
    if (!ini.Parse(text, path, KnownKeys(), error)) {
        return false;
    }
    Recipe parsed;
    parsed.path = path;
    if (!ini.HasSection(kRecipeSection)) {
        error = path + ":1: no [Recipe] section";
        return false;
    }
    const std::string folder = FolderOf(path);
    CRecipeReader reader(ini, parsed, error);
    if (!reader.Part() || !reader.YesNo(kRecipeSection, "allow-cutoff", parsed.allowCutOff)) {
        return false;
    }
    if (const IniValue* flash = ini.Find(kRecipeSection, "flash")) {
        parsed.flashFile = Resolved(folder, flash->text);
        parsed.flashLine = flash->line;
    }
    if (const IniValue* eeprom = ini.Find(kRecipeSection, "eeprom")) {
        parsed.eepromFile = Resolved(folder, eeprom->text);
        parsed.eepromLine = eeprom->line;
    }
    if (!reader.Fuses() || !reader.Lock() || !reader.Steps() || !reader.Serial(folder) ||
        !reader.Calibration()) {
        return false;
    }
    recipe = parsed;
    return true;
}

bool LoadRecipe(const std::string& path, Recipe& recipe, std::string& error) {
    std::string text;
    std::string why;
    if (!ReadWholeFile(path, text, why)) {
        error = "cannot read " + path + ": " + why;
        return false;
    }
    return ParseRecipe(text, path, recipe, error);
}

std::string DefaultLogPath(const std::string& recipePath) {
    const size_t length = std::string(kRecipeSuffix).size();
    const bool suffixed =
        recipePath.size() > length &&
        recipePath.compare(recipePath.size() - length, length, kRecipeSuffix) == 0;
    return (suffixed ? recipePath.substr(0, recipePath.size() - length) : recipePath) + kLogSuffix;
}

bool PrepareRecipe(const Recipe& recipe, CProgrammingSession& session, uint64_t nextSerial,
                   RecipeImages& images, std::string& error) {
    if (!session.SelectDeviceRow(recipe.deviceRow)) {
        error = recipe.path + ": the part cannot be selected";
        return false;
    }
    RecipeImages read;
    read.partName = session.DeviceName();
    std::vector<bool> flashUsed;
    read.flash.assign(static_cast<size_t>(std::max(session.ProgSize(), 0)), kErasedByte);
    read.eeprom.assign(static_cast<size_t>(std::max(session.DataSize(), 0)), kErasedByte);
    read.eepromUsed.assign(read.eeprom.size(), false);
    for (const bool prog : {true, false}) {
        const std::string& file = prog ? recipe.flashFile : recipe.eepromFile;
        if (file.empty()) {
            continue;
        }
        const int line = prog ? recipe.flashLine : recipe.eepromLine;
        std::string bytes;
        std::string why;
        if (!ReadWholeFile(file, bytes, why)) {
            error = recipe.path + ":" + std::to_string(line) + ": cannot read " + file + ": " + why;
            return false;
        }
        std::vector<bool> used;
        if (!ReadImage(session, prog, file, bytes, prog ? read.flash : read.eeprom, used, why)) {
            error = recipe.path + ":" + std::to_string(line) + ": " + why;
            return false;
        }
        if (!prog) {
            read.eepromUsed = used;
        }
    }
    // Where the serial number and calibration byte go: inside the memory,
    // clear of the program's bytes and of each other.
    struct Area {
        const RecipePlace* place;
        int length;
        int line;
        const char* what;
    };
    std::vector<Area> areas;
    if (recipe.serial.enabled) {
        std::vector<uint8_t> bytes;
        if (!EncodeSerial(nextSerial, recipe.serial.format, bytes)) {
            error = recipe.path + ":" + std::to_string(recipe.serial.line) + ": serial number " +
                    std::to_string(nextSerial) + " does not fit " +
                    std::to_string(recipe.serial.format.Length()) +
                    " bytes in this format (at most " +
                    std::to_string(LargestSerial(recipe.serial.format)) + ")";
            return false;
        }
        areas.push_back({&recipe.serial.place, recipe.serial.format.Length(), recipe.serial.line,
                         "the serial number"});
    }
    if (recipe.calibration.enabled) {
        areas.push_back(
            {&recipe.calibration.place, 1, recipe.calibration.line, "the calibration byte"});
    }
    for (size_t a = 0; a < areas.size(); ++a) {
        const Area& area = areas[a];
        const std::string where = recipe.path + ":" + std::to_string(area.line) + ": ";
        const bool flash = area.place->inFlash;
        const std::vector<uint8_t>& image = flash ? read.flash : read.eeprom;
        const int size = static_cast<int>(image.size());
        if (area.place->address > size - area.length) {
            error = where + area.what + " (" + std::to_string(area.length) + " bytes at " +
                    std::to_string(area.place->address) + ") lies outside the " +
                    std::to_string(size) + " bytes of the " + (flash ? "flash" : "EEPROM");
            return false;
        }
        for (int i = area.place->address; i < area.place->address + area.length; ++i) {
            const size_t at = static_cast<size_t>(i);
            const bool taken = flash ? image[at] != kErasedByte : read.eepromUsed[at];
            if (taken) {
                error = where + area.what + " overlaps the program's own " +
                        (flash ? "flash" : "EEPROM") + " byte at address " + std::to_string(i);
                return false;
            }
        }
        for (size_t b = 0; b < a; ++b) {
            const Area& other = areas[b];
            if (other.place->inFlash == flash &&
                area.place->address < other.place->address + other.length &&
                other.place->address < area.place->address + area.length) {
                error = where + area.what + " overlaps " + other.what;
                return false;
            }
        }
    }
    images = read;
    return true;
}

bool ChipImages(const Recipe& recipe, const RecipeImages& images, bool hasSerial, uint64_t serial,
                int calibration, std::vector<uint8_t>& flash, std::vector<uint8_t>& eeprom,
                std::string& error) {
    flash = images.flash;
    eeprom = images.eeprom;
    if (hasSerial && recipe.serial.enabled) {
        std::vector<uint8_t> bytes;
        if (!EncodeSerial(serial, recipe.serial.format, bytes)) {
            error = "serial number " + std::to_string(serial) + " does not fit its format";
            return false;
        }
        std::vector<uint8_t>& image = recipe.serial.place.inFlash ? flash : eeprom;
        std::copy(bytes.begin(), bytes.end(),
                  image.begin() + static_cast<std::ptrdiff_t>(recipe.serial.place.address));
    }
    if (calibration >= 0 && recipe.calibration.enabled) {
        std::vector<uint8_t>& image = recipe.calibration.place.inFlash ? flash : eeprom;
        image[static_cast<size_t>(recipe.calibration.place.address)] =
            static_cast<uint8_t>(calibration);
    }
    return true;
}
