#pragma once

#include "agent/update/CurlRequest.h"
#include "agent/update/UpdateDownloading.h"

namespace kx {

// Streams a release archive over HTTPS into "Kestrix-update-<UUID>.zip" in the temporary
// folder through a 64 KiB buffer, stopping as soon as more than the published size arrived.
// Any failure removes the partial file.
class HTTPUpdateDownloader : public UpdateDownloading {
public:
    static constexpr std::size_t bufferSize = 65'536;
    static constexpr std::chrono::seconds timeout{60};
    static constexpr const char* insecureReason = "The update address is not secure";
    static constexpr const char* cannotSaveReason = "Could not save the update";
    static constexpr const char* downloadFailedReason = "Could not download the update";
    static constexpr const char* mismatchReason = "The download did not match the published update";

    explicit HTTPUpdateDownloader(HTTPSettings settings) : settings_(std::move(settings)) {}

    std::filesystem::path download(const std::string& url, std::int64_t expectedSize, const Progress& progress,
                                   std::stop_token stop) override;

    // "Kestrix-update-" + a fresh random UUID in upper case + ".zip".
    static std::string temporaryFileName();

private:
    HTTPSettings settings_;
};

}  // namespace kx
