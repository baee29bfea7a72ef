#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/pairing/PairingPayload.h"
#include "daemon/ControlMessages.h"

namespace kx {

class AgentService;
class ControlServer;
class StatusReport;

// How the agent was asked to listen, for `kestrixd resume`.
struct ListenSettings {
    std::optional<std::uint16_t> port;
    bool advertise = true;
};

// The HOST of `pair [HOST]`, checked; throws ControlError on more arguments or a bad host name.
std::optional<std::string> pairingHost(const std::vector<std::string>& arguments);
// Issues a new pairing code: its text, how long it is valid, and the code to draw as a QR code.
ControlReply issuePairingCode(AgentService& service, std::optional<std::string> host);
// The same for a code that was issued already, while it is still the active one.
ControlReply pairingCodeReply(AgentService& service, const PairingPayload& payload);

// pair, devices, revoke ID, ring, disconnect, resume, status, commands; and the core's status lines.
// `onPairingCode` runs after `pair` has issued a code.
void registerCoreControlCommands(ControlServer& control, AgentService& service, StatusReport& status,
                                 ListenSettings listen, std::function<void()> onPairingCode = {});

}  // namespace kx
