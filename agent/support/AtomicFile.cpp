#include "agent/support/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace kx {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write");
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

constexpr std::size_t kReadChunk = 64 * 1024;

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Appends what is left to read from `fd`; false when more than `limit` bytes would be read.
bool readAll(int fd, std::string& out, std::size_t limit, const std::string& what) {
    std::array<char, kReadChunk> chunk;
    for (;;) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("read " + what);
        if (n == 0) return true;
        if (out.size() + static_cast<std::size_t>(n) > limit) return false;
        out.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view contents, mode_t mode) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string tmpl = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) fail("create temporary file for " + path.string());
    try {
        if (::fchmod(fd, mode) != 0) fail("chmod");
        writeAll(fd, contents);
        if (::fsync(fd) != 0) fail("fsync");
        if (::close(fd) != 0) {
            fd = -1;
            fail("close");
        }
        fd = -1;
        if (::rename(tmpl.c_str(), path.c_str()) != 0) fail("rename to " + path.string());
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(tmpl.c_str());
        throw;
    }
    // Make the rename itself durable.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return std::nullopt;
    std::string text;
    try {
        if (!readAll(file.fd, text, text.max_size(), path.string())) return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    return text;
}

std::string readRegularFile(const std::filesystem::path& path, std::size_t limit) {
    const auto what = path.string();
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) fail("open " + what);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) fail("stat " + what);
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        fail(what + " is not a regular file");
    }
    std::string text;
    if (static_cast<std::uintmax_t>(info.st_size) > limit || !readAll(file.fd, text, limit, what)) {
        errno = EFBIG;
        fail(what + " is larger than " + std::to_string(limit) + " bytes");
    }
    return text;
}

}  // namespace kx
