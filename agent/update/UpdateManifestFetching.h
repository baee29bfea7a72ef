#pragma once

#include <stop_token>
#include <string>

namespace kx {

// Fetches the raw manifest bytes from the update host. Blocks; throws on any failure.
// A stop request aborts the transfer.
class UpdateManifestFetching {
public:
    virtual ~UpdateManifestFetching() = default;
    virtual std::string fetch(std::stop_token stop) = 0;
};

}  // namespace kx
