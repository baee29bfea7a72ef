#pragma once

#include <string>

#include "protocol/JSONValue.h"

namespace kx {

// Who the agent is: machine name, version, platform and operating system.
struct AgentDescriptor {
    std::string name;
    std::string version;
    std::string platform;
    std::string os;

    JSONObject toJSON() const;
    // Throws JSONDecodeError unless all four keys are strings.
    static AgentDescriptor fromJSON(const JSONValue& value);
    // The host name with every ".local" removed.
    static std::string nameFromHostName(std::string hostName);

    friend bool operator==(const AgentDescriptor&, const AgentDescriptor&) = default;
};

}  // namespace kx
