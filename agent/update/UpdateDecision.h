#pragma once

#include <optional>

#include "agent/update/UpdateManifest.h"

namespace kx {

// What a verified manifest means for the running version.
struct UpdateDecision {
    enum class Kind { available, upToDate, paused };

    Kind kind = Kind::upToDate;
    std::optional<UpdateRelease> release;  // set for `available`
    bool required = false;                 // running version below the release's minimum

    static UpdateDecision decide(const UpdateManifest& manifest, const std::optional<AgentVersion>& current);

    friend bool operator==(const UpdateDecision&, const UpdateDecision&) = default;
};

}  // namespace kx
