#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/update/AgentVersion.h"

namespace kx {

// The release a verified manifest offers for this platform.
struct UpdateRelease {
    AgentVersion version;  // never a development version
    AgentVersion minimumVersion;
    std::string url;     // https with a host
    std::string sha256;  // 64 lower-case hexadecimal characters
    std::int64_t size = 0;
    std::vector<std::string> notes;
    std::vector<std::string> caps;

    friend bool operator==(const UpdateRelease&, const UpdateRelease&) = default;
};

}  // namespace kx
