#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

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

}  // namespace kx::release
