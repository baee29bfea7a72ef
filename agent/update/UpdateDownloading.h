#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

namespace kx {

// Streams a release archive to a temporary file and returns it. Blocks; throws on any failure
// (UpdateFailure for problems the user should read) and leaves no file behind then.
class UpdateDownloading {
public:
    using Progress = std::function<void(std::int64_t bytesReceived)>;

    virtual ~UpdateDownloading() = default;
    virtual std::filesystem::path download(const std::string& url, std::int64_t expectedSize, const Progress& progress,
                                           std::stop_token stop) = 0;
};

}  // namespace kx
