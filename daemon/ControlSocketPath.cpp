#include "daemon/ControlSocketPath.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "daemon/ControlMessages.h"
#include "protocol/KxSec.h"

namespace kx::ControlSocketPath {

namespace {
// 8 bytes of SHA-256 of the folder's path, as 16 hexadecimal digits.
constexpr std::size_t nameHashBytes = 8;

void requirePrivate(const std::filesystem::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0)
        throw ControlError("cannot use the runtime folder " + folder.string() + ": " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        throw ControlError("the runtime folder " + folder.string() +
                           " is not a private folder of this user; set XDG_RUNTIME_DIR to one");
}
}  // namespace

std::filesystem::path runtimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        std::filesystem::path folder(runtime);
        requirePrivate(folder);
        return folder;
    }
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("kestrix-" + std::to_string(::geteuid()));
    if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST)
        throw ControlError("cannot create the runtime folder " + folder.string() + ": " + std::strerror(errno));
    requirePrivate(folder);
    return folder;
}

std::filesystem::path forDataFolder(const std::filesystem::path& dataFolder) {
    Key32 digest = KxSec::sha256(asBytes(dataFolder.string()));
    std::string name = "kestrixd-";
    for (std::size_t i = 0; i < nameHashBytes; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        name += hex;
    }
    name += ".sock";
    std::filesystem::path path = runtimeFolder() / name;
    if (path.string().size() >= sizeof(sockaddr_un::sun_path))
        throw ControlError("the runtime folder's path is too long for a socket: " + path.string());
    return path;
}

}  // namespace kx::ControlSocketPath
