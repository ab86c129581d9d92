#include "app/ProfileFile.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <unistd.h>
#define BRENWICK_HAVE_FSYNC 1
#endif

namespace fs = std::filesystem;

namespace {

constexpr char kSectionOpen = '[';
constexpr char kSectionClose = ']';
constexpr char kAssign = '=';
constexpr char kComment = ';';

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// One line of the file: where it starts, its text without the line break,
// and the line break that followed it (empty for a last line without one).
struct Line {
    size_t start;
    std::string_view text;
    std::string_view ending;
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = (nl == std::string::npos) ? text.size() : nl;
        size_t textEnd = end;
        if (textEnd > pos && text[textEnd - 1] == '\r') {
            --textEnd;
        }
        size_t next = (nl == std::string::npos) ? text.size() : nl + 1;
        lines.push_back({pos, std::string_view(text).substr(pos, textEnd - pos),
                         std::string_view(text).substr(textEnd, next - textEnd)});
        pos = next;
    }
    return lines;
}

// The section name of a header line ("[name]"), or false when the line is
// not one.
bool SectionName(std::string_view line, std::string_view& name) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() != kSectionOpen) {
        return false;
    }
    size_t close = t.rfind(kSectionClose);
    if (close == std::string_view::npos || close == 0) {
        return false;
    }
    name = Trim(t.substr(1, close - 1));
    return true;
}

// The name and value of an entry line ("name=value"), or false when the
// line is not one (comments, blank lines, text without '='). The value is
// the raw rest of the line: blanks around it belong to it.
bool EntryParts(std::string_view line, std::string_view& name, std::string_view& value) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == kComment) {
        return false;
    }
    size_t eq = line.find(kAssign);
    if (eq == std::string_view::npos) {
        return false;
    }
    name = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return !name.empty();
}

// Where a section and an entry of it sit in the lines; -1 for "not there".
struct Location {
    long section = -1;     // header line of the first matching section
    long sectionEnd = -1;  // first line after it (next header or the end)
    long entry = -1;       // first matching entry line inside it
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view entry) {
    Location loc;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (SectionName(lines[i].text, name)) {
            if (loc.section >= 0) {
                loc.sectionEnd = static_cast<long>(i);
                return loc;
            }
            if (SameName(name, section)) {
                loc.section = static_cast<long>(i);
            }
            continue;
        }
        std::string_view key, value;
        if (loc.section >= 0 && loc.entry < 0 && EntryParts(lines[i].text, key, value) &&
            SameName(key, entry)) {
            loc.entry = static_cast<long>(i);
        }
    }
    if (loc.section >= 0) {
        loc.sectionEnd = static_cast<long>(lines.size());
    }
    return loc;
}

std::string LineBreakOf(const std::string& text) {
    return text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
}

// Ends the last line of text before another line is added after it. A last
// line that ends in a lone carriage return (a file cut off between "\r" and
// "\n") only gets its line feed: the carriage return must stay part of the
// line break, not become the last character of the line's value or run the
// added line into it.
void EndLastLine(std::string& text, const std::string& br) {
    if (text.empty() || text.back() == '\n') {
        return;
    }
    text += text.back() == '\r' ? std::string(1, '\n') : br;
}

std::string UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    std::string suffix = ".tmp";
#ifdef BRENWICK_HAVE_FSYNC
    suffix += std::to_string(static_cast<long>(::getpid()));
#endif
    suffix += "-" + std::to_string(counter++);
    return suffix;
}

#ifdef BRENWICK_HAVE_FSYNC
void SyncPath(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
#endif

}  // namespace

bool CProfileFile::IsStorableName(std::string_view name) {
    if (Trim(name).empty() || Trim(name).size() != name.size()) {
        return false;
    }
    for (char c : name) {
        if (c == '\n' || c == '\r' || c == '\0' || c == kAssign || c == kSectionOpen ||
            c == kSectionClose) {
            return false;
        }
    }
    return name.front() != kComment;
}

bool CProfileFile::IsStorableValue(std::string_view value) {
    for (char c : value) {
        if (c == '\n' || c == '\r' || c == '\0') {
            return false;
        }
    }
    return true;
}

int CProfileFile::ParseInt(std::string_view text, int nDefault) {
    text = Trim(text);
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return nDefault;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > INT_MAX) {
            return INT_MAX;
        }
    }
    return static_cast<int>(value);
}

bool CProfileFile::FindEntry(const std::string& text, std::string_view section,
                             std::string_view entry, std::string& value) {
    std::vector<Line> lines = SplitLines(text);
    Location loc = Locate(lines, section, entry);
    if (loc.entry < 0) {
        return false;
    }
    std::string_view key, raw;
    EntryParts(lines[static_cast<size_t>(loc.entry)].text, key, raw);
    value.assign(raw);
    return true;
}

std::string CProfileFile::SetEntry(const std::string& text, std::string_view section,
                                   std::string_view entry, std::string_view value) {
    const std::string br = LineBreakOf(text);
    std::vector<Line> lines = SplitLines(text);
    Location loc = Locate(lines, section, entry);

    if (loc.entry >= 0) {
        // Keep the stored spelling of the name and the line's own break.
        const Line& line = lines[static_cast<size_t>(loc.entry)];
        std::string_view key, old;
        EntryParts(line.text, key, old);
        std::string result = text.substr(0, line.start);
        result.append(key).append(1, kAssign).append(value);
        result.append(line.ending);
        result.append(text, line.start + line.text.size() + line.ending.size(), std::string::npos);
        return result;
    }

    std::string newLine = std::string(entry) + kAssign + std::string(value);
    if (loc.section >= 0) {
        // After the section's last non-blank line, so that a blank line
        // separating it from the next section stays where it is.
        size_t after = static_cast<size_t>(loc.section);
        for (long i = loc.section + 1; i < loc.sectionEnd; ++i) {
            if (!Trim(lines[static_cast<size_t>(i)].text).empty()) {
                after = static_cast<size_t>(i);
            }
        }
        const Line& prev = lines[after];
        size_t insertAt = prev.start + prev.text.size() + prev.ending.size();
        std::string result = text.substr(0, insertAt);
        EndLastLine(result, br);
        result += newLine + br;
        result.append(text, insertAt, std::string::npos);
        return result;
    }

    std::string result = text;
    EndLastLine(result, br);
    if (!lines.empty() && !Trim(lines.back().text).empty()) {
        result += br;  // a blank line between sections
    }
    result += std::string(1, kSectionOpen) + std::string(section) + kSectionClose + br;
    result += newLine + br;
    return result;
}

bool CProfileFile::ReadAll(std::string& text) const {
    text.clear();
    std::error_code ec;
    fs::path path = fs::u8path(m_strPath);
    if (!fs::exists(path, ec)) {
        return !ec;  // missing: empty, not an error
    }
    if (fs::is_directory(path, ec)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return false;
    }
    text = buffer.str();
    return true;
}

bool CProfileFile::ReplaceAll(const std::string& text) const {
    std::error_code ec;
    fs::path target = fs::u8path(m_strPath);
    // Write through a symbolic link rather than replacing the link itself.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec) {
            return false;
        }
        target = resolved;
    }
    fs::path folder = target.parent_path();
    if (!folder.empty()) {
        fs::create_directories(folder, ec);
        if (ec) {
            return false;
        }
    }
    fs::path temp = target;
    temp += UniqueSuffix();
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temp, ec);
            return false;
        }
    }
#ifdef BRENWICK_HAVE_FSYNC
    SyncPath(temp);
#endif
    fs::file_status old = fs::status(target, ec);
    if (!ec && fs::exists(old)) {
        fs::permissions(temp, old.permissions(), ec);
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
#ifdef BRENWICK_HAVE_FSYNC
    if (!folder.empty()) {
        SyncPath(folder);
    }
#endif
    return true;
}

int CProfileFile::GetInt(std::string_view section, std::string_view entry, int nDefault) const {
    std::string text, value;
    if (!ReadAll(text) || !FindEntry(text, section, entry, value)) {
        return nDefault;
    }
    return ParseInt(value, nDefault);
}

std::string CProfileFile::GetString(std::string_view section, std::string_view entry,
                                    std::string_view strDefault) const {
    std::string text, value;
    if (!ReadAll(text) || !FindEntry(text, section, entry, value)) {
        return std::string(strDefault);
    }
    return value;
}

bool CProfileFile::WriteString(std::string_view section, std::string_view entry,
                               std::string_view value) {
    if (!IsStorableName(section) || !IsStorableName(entry) || !IsStorableValue(value)) {
        return false;
    }
    std::string text;
    if (!ReadAll(text)) {
        return false;  // never replace a file that exists but cannot be read
    }
    return ReplaceAll(SetEntry(text, section, entry, value));
}

bool CProfileFile::WriteInt(std::string_view section, std::string_view entry, int value) {
    return WriteString(section, entry, std::to_string(value));
}
