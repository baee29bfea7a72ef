#include "platform/linux/update/FolderExchange.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>

#include <cerrno>

namespace kx {

bool exchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    auto aside = a.parent_path() / (a.filename().string() + ".exchange");
    if (::rename(a.c_str(), aside.c_str()) != 0) return false;
    if (::rename(b.c_str(), a.c_str()) != 0) {
        ::rename(aside.c_str(), a.c_str());
        return false;
    }
    return ::rename(aside.c_str(), b.c_str()) == 0;
}

}  // namespace kx
