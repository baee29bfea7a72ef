#pragma once

#include <cstdint>
#include <filesystem>

namespace kx {

// Unpacks a release archive (tar, optionally compressed) into an empty folder, refusing anything
// that could reach outside it or flood the disk: absolute paths, ".." components, links that point
// outside, devices, FIFOs and sockets, more than `maxEntries` entries or `maxBytes` unpacked bytes.
// Set-user-id and group/other write bits are dropped. Throws UpdateFailure(unpackFailedReason);
// what was unpacked before the refusal stays for the caller to remove.
class BundleUnpacker {
public:
    static constexpr const char* unpackFailedReason = "The update could not be unpacked";
    static constexpr std::int64_t maxBytes = std::int64_t{1} << 30;
    static constexpr std::size_t maxEntries = 10'000;

    static void unpack(const std::filesystem::path& archive, const std::filesystem::path& destination);
};

}  // namespace kx
