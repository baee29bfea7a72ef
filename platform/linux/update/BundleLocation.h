#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kx {

// Where the running program is installed. A portable installation ("bundle") is a folder holding
// bin/ with the executables, share/, the version file, the update key and the signed file list;
// it can replace itself. Anything else (a development build, the package's files under /usr) cannot.
struct BundleLocation {
    static constexpr std::string_view versionFileName = "version";
    static constexpr std::string_view updateKeyFileName = "update-public-key.txt";
    // The version file is one short line.
    static constexpr std::size_t maxVersionBytes = 64;

    std::filesystem::path executable;           // the running program
    std::optional<std::filesystem::path> root;  // the bundle folder, when it runs from one

    // The location of the program at `executable` (by default this process's, from /proc/self/exe).
    static BundleLocation of(const std::filesystem::path& executable);
    static BundleLocation running();

    // The version text in the bundle's version file (surrounding whitespace dropped).
    static std::optional<std::string> versionOf(const std::filesystem::path& root);
    // The bundle's version when running from one, else `builtIn`.
    std::string version(const std::string& builtIn) const;
};

}  // namespace kx
