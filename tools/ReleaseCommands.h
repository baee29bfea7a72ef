#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kx::release {

// Exit statuses of kx-release.
inline constexpr int exitOK = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitParseError = 2;

// Each command writes its result to `out`, its complaints to `err`, and returns the exit status.
int keygen(const std::filesystem::path& privateKeyFile, std::ostream& out, std::ostream& err);
int sign(const std::filesystem::path& manifest, const std::filesystem::path& privateKeyFile,
         const std::optional<std::filesystem::path>& output, std::ostream& out, std::ostream& err);
int verify(const std::filesystem::path& manifest, const std::string& publicKey, const std::string& platform,
           const std::optional<std::string>& version, std::ostream& out, std::ostream& err);
int canonicalize(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
// Writes the signed list of every file in the installation folder `bundle` into it.
int signBundle(const std::filesystem::path& bundle, const std::filesystem::path& privateKeyFile, std::ostream& out,
               std::ostream& err);

// What `entry` puts in a manifest for one release archive.
struct EntryFields {
    std::string version;
    std::string minimumVersion;
    std::string url;
    std::vector<std::string> notes;
    std::vector<std::string> caps;
    std::string platform;
};
// Prints the release entry for `archive` (its size and SHA-256 read from the file), or with
// `manifest` puts it under "platforms" in that manifest file (created when missing), unsigned.
int entry(const std::filesystem::path& archive, const EntryFields& fields,
          const std::optional<std::filesystem::path>& manifest, std::ostream& out, std::ostream& err);

}  // namespace kx::release
