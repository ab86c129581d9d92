// A small strict reader of the INI text of a recipe: [Section] lines, "key =
// value" lines, whole-line and trailing comments (';' or '#', a trailing one
// after a blank), blank lines. Every section and key must be one the caller
// knows, each at most once; anything else is an error that names the file
// and the line. Section and key names are compared without regard to case.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

struct IniKeyName {
    const char* section;
    const char* key;
};

struct IniValue {
    std::string text;
    int line = 0;
};

class CRecipeIni {
public:
    // false with "file:line: what is wrong" in error at the first fault.
    bool Parse(const std::string& text, const std::string& fileName,
               const std::vector<IniKeyName>& known, std::string& error);

    // The value of a key (nullptr when the file does not give it).
    const IniValue* Find(const char* section, const char* key) const;
    bool HasSection(const char* section) const;
    int SectionLine(const char* section) const;
    // "file:line: " for messages about a value.
    std::string Where(int line) const;

private:
    std::string m_fileName;
    std::map<std::pair<std::string, std::string>, IniValue> m_values;
    std::map<std::string, int> m_sections;
};
