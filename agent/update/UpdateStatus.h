#pragma once

#include <optional>
#include <string>

#include "agent/update/UpdateRelease.h"
#include "agent/update/UpdateState.h"
#include "protocol/JSONValue.h"

namespace kx {

// A snapshot of the update service, as the menu and the phones see it.
struct UpdateStatus {
    std::string version;  // the running version's text
    UpdateState state = UpdateState::idle;
    std::optional<UpdateRelease> available;
    bool required = false;
    std::optional<std::string> message;  // set only in `failed`
    std::optional<double> progress;      // 0.0 to 1.0 in whole-percent steps

    // The result of "agent.update.status".
    JSONObject statusResult() const;
    // The parameters of the "agent.update" event.
    JSONObject eventParams() const;

    friend bool operator==(const UpdateStatus&, const UpdateStatus&) = default;
};

}  // namespace kx
