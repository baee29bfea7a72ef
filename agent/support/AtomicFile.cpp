#include "agent/support/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
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
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(out).str();
}

}  // namespace kx
