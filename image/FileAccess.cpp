#include "image/FileAccess.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Closes a descriptor on every way out of the writer.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    // Closes now and reports whether the close succeeded.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

// A hex file of the largest image is under 400 KB; anything past this is
// not a hex file (or never ends, as /dev/zero) and is refused.
constexpr size_t kMaxFileSize = size_t{64} * 1024 * 1024;

// Devices, pipes and the like cannot be replaced by renaming: they are
// written in place, as any program writing to them would.
bool WriteInPlace(const std::string& path, const std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        error = ErrnoText(errno);
        return false;
    }
    CFileDescriptor file(fd);
    if (!WriteAll(fd, text)) {
        error = ErrnoText(errno);
        return false;
    }
    if (!file.Close()) {
        error = ErrnoText(errno);
        return false;
    }
    return true;
}

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as any new file
constexpr mode_t kPermissionBits = 07777;
constexpr int kTempNameAttempts = 100;

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    // Opened without waiting: a named pipe with nobody writing to it (or a
    // device waiting for its carrier) would otherwise block the open for
    // good. Reads then wait as usual, so a pipe that is being written is
    // read to its end; one with no writer reads as empty.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = ErrnoText(errno);
        return false;
    }
    CFileDescriptor file(fd);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = ErrnoText(EISDIR);
        return false;
    }
    if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > kMaxFileSize) {
        error = ErrnoText(EFBIG);
        return false;
    }
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        text.reserve(static_cast<size_t>(info.st_size));
    }
    constexpr size_t kChunk = 64 * 1024;
    char buffer[kChunk];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, kChunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = ErrnoText(errno);
            text.clear();
            return false;
        }
        if (got == 0) {
            break;
        }
        if (text.size() + static_cast<size_t>(got) > kMaxFileSize) {
            error = ErrnoText(EFBIG);
            text.clear();
            return false;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    namespace fs = std::filesystem;
    if (path.empty()) {
        error = ErrnoText(ENOENT);
        return false;
    }
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
        !S_ISDIR(existing.st_mode)) {
        return WriteInPlace(path, text, error);
    }
    std::error_code ec;
    fs::path target(path);
    // A link is followed, so the file it names is the one replaced, as
    // writing through the link would.
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) {
            target = resolved;
        }
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string base = target.filename().string();

    int fd = -1;
    std::string tempName;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
        tempName = (folder / ("." + base + ".tmp" + std::to_string(::getpid()) + "-" +
                              std::to_string(attempt)))
                       .string();
        fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        error = ErrnoText(errno);
        return false;
    }
    CFileDescriptor file(fd);
    auto fail = [&](int code) {
        error = ErrnoText(code);
        ::unlink(tempName.c_str());
        return false;
    };
    // A replaced file keeps its permissions.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (::fchmod(fd, old.st_mode & kPermissionBits) != 0) {
            return fail(errno);
        }
    }
    if (!WriteAll(fd, text) || ::fsync(fd) != 0) {
        return fail(errno);
    }
    if (!file.Close()) {
        return fail(errno);
    }
    if (::rename(tempName.c_str(), target.c_str()) != 0) {
        return fail(errno);
    }
    // Make the rename itself durable; a failure here no longer endangers
    // either file, so it is not reported.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

#else

// Elsewhere the standard library's streams do the work: no open without
// waiting, no kept permissions, no flush to the disk, but the same rules
// otherwise: a size limit, and a target replaced only once all is written.

namespace {

constexpr std::uintmax_t kMaxFileSize = std::uintmax_t{64} * 1024 * 1024;

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    namespace fs = std::filesystem;
    text.clear();
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        error = std::strerror(EISDIR);
        return false;
    }
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) > kMaxFileSize) {
        error = std::strerror(EFBIG);
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(ENOENT);
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = std::strerror(EIO);
        text.clear();
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    namespace fs = std::filesystem;
    if (path.empty()) {
        error = std::strerror(ENOENT);
        return false;
    }
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            error = std::strerror(EIO);
            std::remove(temp.c_str());
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        error = ec.message();
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

#endif
