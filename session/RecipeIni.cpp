#include "session/RecipeIni.h"

#include "base/NameText.h"

namespace {

constexpr char kSectionOpen = '[';
constexpr char kSectionClose = ']';
constexpr char kAssign = '=';
constexpr const char* kBlanks = " \t\r";

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsCommentStart(char c) {
    return c == ';' || c == '#';
}

// The line without a trailing comment: one that starts after a blank.
std::string WithoutComment(const std::string& line) {
    for (size_t i = 1; i < line.size(); ++i) {
        if (IsCommentStart(line[i]) && (line[i - 1] == ' ' || line[i - 1] == '\t')) {
            return line.substr(0, i);
        }
    }
    return line;
}

}  // namespace

bool CRecipeIni::Parse(const std::string& text, const std::string& fileName,
                       const std::vector<IniKeyName>& known, std::string& error) {
    m_fileName = fileName;
    m_values.clear();
    m_sections.clear();
    std::string section;
    int lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find('\n', start);
        const std::string raw =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() + 1 : end + 1;
        ++lineNumber;
        const std::string whole = Trimmed(raw);
        if (whole.empty() || IsCommentStart(whole[0])) {
            continue;
        }
        const std::string line = Trimmed(WithoutComment(whole));
        if (line[0] == kSectionOpen) {
            if (line.back() != kSectionClose || line.size() < 3) {
                error = Where(lineNumber) + "a section line is [Name]";
                return false;
            }
            const std::string name = LowerCase(Trimmed(line.substr(1, line.size() - 2)));
            bool isKnown = false;
            for (const IniKeyName& entry : known) {
                isKnown = isKnown || LowerCase(entry.section) == name;
            }
            if (!isKnown) {
                error = Where(lineNumber) + "unknown section " + line;
                return false;
            }
            if (!m_sections.emplace(name, lineNumber).second) {
                error = Where(lineNumber) + "section " + line + " given twice";
                return false;
            }
            section = name;
            continue;
        }
        const size_t assign = line.find(kAssign);
        if (assign == std::string::npos || assign == 0) {
            error = Where(lineNumber) + "expected key = value, not \"" + line + "\"";
            return false;
        }
        if (section.empty()) {
            error = Where(lineNumber) + "\"" + line + "\" comes before any [Section]";
            return false;
        }
        const std::string key = LowerCase(Trimmed(line.substr(0, assign)));
        const std::string value = Trimmed(line.substr(assign + 1));
        bool isKnown = false;
        for (const IniKeyName& entry : known) {
            isKnown = isKnown || (LowerCase(entry.section) == section && entry.key == key);
        }
        if (!isKnown) {
            error = Where(lineNumber) + "unknown key \"" + key + "\" in [" + section + "]";
            return false;
        }
        if (value.empty()) {
            error = Where(lineNumber) + key + " has no value";
            return false;
        }
        if (!m_values.emplace(std::make_pair(section, key), IniValue{value, lineNumber}).second) {
            error = Where(lineNumber) + key + " given twice in [" + section + "]";
            return false;
        }
    }
    return true;
}

const IniValue* CRecipeIni::Find(const char* section, const char* key) const {
    const auto it = m_values.find(std::make_pair(LowerCase(section), std::string(key)));
    return it == m_values.end() ? nullptr : &it->second;
}

bool CRecipeIni::HasSection(const char* section) const {
    return m_sections.count(LowerCase(section)) != 0;
}

int CRecipeIni::SectionLine(const char* section) const {
    const auto it = m_sections.find(LowerCase(section));
    return it == m_sections.end() ? 0 : it->second;
}

std::string CRecipeIni::Where(int line) const {
    return m_fileName + ":" + std::to_string(line) + ": ";
}
