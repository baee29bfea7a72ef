#pragma once

#include <string>

#include "agent/update/CurlRequest.h"
#include "agent/update/UpdateManifestFetching.h"

namespace kx {

// Fetches the manifest over HTTPS: status 200 and at most 1 MiB, or "Unexpected manifest
// response"; transport errors are thrown as they come, for the log.
class HTTPManifestFetcher : public UpdateManifestFetching {
public:
    static constexpr std::size_t maxManifestBytes = 1'048'576;
    static constexpr std::chrono::seconds timeout{30};
    static constexpr const char* unexpectedResponseReason = "Unexpected manifest response";

    HTTPManifestFetcher(std::string url, HTTPSettings settings)
        : url_(std::move(url)), settings_(std::move(settings)) {}

    std::string fetch(std::stop_token stop) override;

private:
    std::string url_;
    HTTPSettings settings_;
};

}  // namespace kx
