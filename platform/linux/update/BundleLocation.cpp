#include "platform/linux/update/BundleLocation.h"

#include "agent/support/AtomicFile.h"
#include "agent/update/BundleFileList.h"

namespace kx {

namespace {
constexpr std::string_view kWhitespace = " \t\r\n";
}

BundleLocation BundleLocation::of(const std::filesystem::path& executable) {
    BundleLocation location{executable, std::nullopt};
    auto bin = executable.parent_path();
    auto root = bin.parent_path();
    std::error_code error;
    if (bin.filename() == "bin" && std::filesystem::is_regular_file(root / versionFileName, error) &&
        std::filesystem::is_regular_file(root / BundleFileList::fileName, error))
        location.root = root;
    return location;
}

BundleLocation BundleLocation::running() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return of(error ? std::filesystem::path() : executable);
}

std::optional<std::string> BundleLocation::versionOf(const std::filesystem::path& root) {
    try {
        std::string text = readRegularFile(root / versionFileName, maxVersionBytes);
        auto first = text.find_first_not_of(kWhitespace);
        if (first == std::string::npos) return std::nullopt;
        return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

std::string BundleLocation::version(const std::string& builtIn) const {
    if (!root) return builtIn;
    return versionOf(*root).value_or(builtIn);
}

}  // namespace kx
