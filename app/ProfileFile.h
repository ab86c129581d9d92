// An INI-format settings file read and written entry by entry, as the classic
// private-profile calls do: every read looks at the file as it is on disk,
// every write is on disk (replaced atomically) before the call returns, and
// everything the call does not touch (other sections, entries, comments,
// unknown lines) is kept as it was.
//
// Section and entry names compare without regard to ASCII case. A value is
// the raw text after the first '=' up to the line break; there is no
// quoting, escaping or list syntax. When a section or an entry occurs
// more than once, the first occurrence is the one read and the one written.
//
// Plain standard C++ (no Qt), so that it can be linked into small tools and
// fuzzers on its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CProfileFile {
public:
    explicit CProfileFile(std::string path) : m_strPath(std::move(path)) {}

    const std::string& Path() const { return m_strPath; }

    // The entry's value read as a decimal integer: its leading digits (after
    // any blanks), clamped to the largest int; the default when the file, section or entry is
    // missing or the value does not start with a digit.
    int GetInt(std::string_view section, std::string_view entry, int nDefault) const;

    // The entry's value, or the default when the file, section or entry is
    // missing.
    std::string GetString(std::string_view section, std::string_view entry,
                          std::string_view strDefault) const;

    // Sets the entry to value, creating the file, its folder, the section and
    // the entry as needed. false when nothing was written: a name or value
    // that cannot be stored as one line (line breaks, '=' or ']' in names,
    // empty names, NUL), or a failure of the file system.
    bool WriteString(std::string_view section, std::string_view entry, std::string_view value);
    bool WriteInt(std::string_view section, std::string_view entry, int value);

    // For tests and tools: the whole text of an INI file after setting one
    // entry, without touching any file.
    static std::string SetEntry(const std::string& text, std::string_view section,
                                std::string_view entry, std::string_view value);
    // Looks an entry up in the text of an INI file; false when it is missing.
    static bool FindEntry(const std::string& text, std::string_view section, std::string_view entry,
                          std::string& value);
    // Whether a name (section or entry) or a value can be written as one line.
    static bool IsStorableName(std::string_view name);
    static bool IsStorableValue(std::string_view value);
    // The integer an entry's text stands for, or nDefault when it has none.
    static int ParseInt(std::string_view text, int nDefault);

private:
    bool ReadAll(std::string& text) const;
    bool ReplaceAll(const std::string& text) const;

    std::string m_strPath;
};
