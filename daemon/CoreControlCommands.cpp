#include "daemon/CoreControlCommands.h"

#include <ctime>
#include <sstream>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "agent/service/AgentService.h"
#include "agent/support/HostName.h"
#include "daemon/ControlServer.h"
#include "daemon/StatusReport.h"

namespace kx {

namespace {

std::string localTime(std::chrono::system_clock::time_point at) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    std::tm parts{};
    ::localtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
    return text;
}

double millisecondsSince1970(std::chrono::system_clock::time_point at) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
}

void expectArguments(const std::vector<std::string>& arguments, std::size_t most, const char* usage) {
    if (arguments.size() > most) throw ControlError(std::string("usage: kestrixd ") + usage);
}

}  // namespace

std::optional<std::string> pairingHost(const std::vector<std::string>& arguments) {
    expectArguments(arguments, 1, "pair [HOST]");
    std::optional<std::string> host;
    if (!arguments.empty()) host = arguments[0];
    if (auto problem = host ? HostName::problem(*host) : std::nullopt) throw ControlError("cannot pair: " + *problem);
    return host;
}

ControlReply issuePairingCode(AgentService& service, std::optional<std::string> host) {
    return pairingCodeReply(service, service.beginPairing(host));
}

ControlReply pairingCodeReply(AgentService& service, const PairingPayload& payload) {
    auto token = service.pairing().activeToken();
    if (!token || token->value != payload.token) throw ControlError("the pairing code was replaced or cancelled");
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(token->expiresAt - std::chrono::system_clock::now());
    std::string code = payload.encoded();
    std::string text = "Pairing code for " + payload.name + ", valid for " + std::to_string(seconds.count()) +
                       " seconds; scan it with the phone:\n" + code + "\n";
    if (payload.port == 0) text += "The agent is not listening: pairing works after `kestrixd resume`.\n";
    ControlReply reply = ControlReply::success(text, JSONValue::fromJSONText(code));
    reply.qrCode = code;
    return reply;
}

namespace {

ControlReply pair(AgentService& service, const std::vector<std::string>& arguments) {
    return issuePairingCode(service, pairingHost(arguments));
}

ControlReply devices(AgentService& service) {
    std::ostringstream text;
    JSONArray data;
    for (const PairedDevice& device : service.registry().all()) {
        text << device.id << "  " << device.name << " (" << device.platform << ")  paired "
             << localTime(device.pairedAt) << "  last seen "
             << (device.lastSeen ? localTime(*device.lastSeen) : "never") << "\n";
        JSONObject entry{{"id", device.id},
                         {"name", device.name},
                         {"platform", device.platform},
                         {"pairedAt", millisecondsSince1970(device.pairedAt)}};
        if (device.lastSeen) entry.emplace("lastSeen", millisecondsSince1970(*device.lastSeen));
        data.emplace_back(std::move(entry));
    }
    if (data.empty()) text << "No paired devices.\n";
    return ControlReply::success(text.str(), data);
}

ControlReply revoke(AgentService& service, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) throw ControlError("usage: kestrixd revoke ID (kestrixd devices lists the ids)");
    auto device = service.registry().device(arguments[0]);
    if (!device || !service.registry().revoke(arguments[0]))
        throw ControlError("no paired device has the id " + arguments[0]);
    // The phone is refused and disconnected now, but a revoke that is not on disk would undo itself at a restart.
    if (auto problem = service.registry().saveError())
        throw ControlError("Revoked " + device->name + " (" + device->id +
                           ") until the agent stops, but it could not be saved (" + *problem +
                           "): after a restart the phone is paired again unless a later change is saved");
    return ControlReply::success("Revoked " + device->name + " (" + device->id + "); its connections are closed.\n",
                                 JSONObject{{"id", device->id}});
}

ControlReply resume(AgentService& service, const ListenSettings& listen) {
    TransportState state = service.transport().state();
    if (state.which == TransportState::Case::listening)
        return ControlReply::success("Already listening on port " + std::to_string(state.port) + ".\n",
                                     JSONObject{{"port", state.port}});
    std::optional<std::uint16_t> port = service.listeningPort();
    if (!port) port = listen.port;
    try {
        service.start(port, listen.advertise);
    } catch (const std::system_error& error) {
        throw ControlError("cannot listen on port " + std::to_string(port.value_or(0)) + ": " + error.code().message());
    }
    state = service.transport().state();
    return ControlReply::success("Listening again: " + state.description() + ".\n", JSONObject{{"port", state.port}});
}

std::vector<std::string> coreStatus(AgentService& service) {
    std::vector<std::string> lines{
        "transport: " + service.transport().state().description(),
        "connections: " + std::to_string(service.transport().connectionCount()),
        "paired devices: " + std::to_string(service.registry().all().size()),
        std::string("kept awake: ") + (service.sleepGuard().isHolding() ? "yes" : "no"),
    };
    if (auto problem = service.registry().saveError())
        lines.push_back("paired devices NOT SAVED (a restart undoes the latest changes, revokes too): " + *problem);
    if (auto problem = service.commands().saveError()) lines.push_back("saved commands NOT SAVED: " + *problem);
    return lines;
}

ControlReply commandList(const ControlServer& control) {
    std::string text;
    JSONArray data;
    for (const auto& command : control.commands()) {
        text += "  " + command.usage + std::string(command.usage.size() < 24 ? 24 - command.usage.size() : 1, ' ') +
                command.summary + "\n";
        data.emplace_back(JSONObject{{"usage", command.usage}, {"summary", command.summary}});
    }
    return ControlReply::success(text, data);
}

}  // namespace

void registerCoreControlCommands(ControlServer& control, AgentService& service, StatusReport& status,
                                 ListenSettings listen, std::function<void()> onPairingCode) {
    using Arguments = const std::vector<std::string>&;
    control.addCommand("pair", "pair [HOST]", "issue a new pairing code and show it as a QR code",
                       [&service, onPairingCode = std::move(onPairingCode)](Arguments arguments) {
                           ControlReply reply = pair(service, arguments);
                           if (onPairingCode) onPairingCode();
                           return reply;
                       });
    control.addCommand("devices", "devices", "list the paired devices and when they were last seen",
                       [&service](Arguments arguments) {
                           expectArguments(arguments, 0, "devices");
                           return devices(service);
                       });
    control.addCommand("revoke", "revoke ID", "forget a paired device and close its connections",
                       [&service](Arguments arguments) { return revoke(service, arguments); });
    control.addCommand("ring", "ring", "make the connected phones ring", [&service](Arguments arguments) {
        expectArguments(arguments, 0, "ring");
        std::size_t count = service.ringDevices();
        return ControlReply::success("Rang the connected phones (" + std::to_string(count) + " connection(s) open).\n",
                                     JSONObject{{"connections", count}});
    });
    control.addCommand("disconnect", "disconnect", "stop listening and close every connection",
                       [&service](Arguments arguments) {
                           expectArguments(arguments, 0, "disconnect");
                           service.stop();
                           return ControlReply::success(
                               "Stopped listening and closed every connection; `kestrixd resume` starts again.\n");
                       });
    control.addCommand("resume", "resume", "listen again on the same port after disconnect",
                       [&service, listen](Arguments arguments) {
                           expectArguments(arguments, 0, "resume");
                           return resume(service, listen);
                       });
    control.addCommand(
        "status", "status", "show the listening port, connections and paired devices", [&status](Arguments arguments) {
            expectArguments(arguments, 0, "status");
            auto lines = status.lines();
            std::string text;
            for (const auto& line : lines) text += line + "\n";
            return ControlReply::success(text, JSONObject{{"lines", JSONArray(lines.begin(), lines.end())}});
        });
    control.addCommand("commands", "commands", "list every command the running agent accepts",
                       [&control](Arguments) { return commandList(control); });
    status.add([&service] { return coreStatus(service); });
}

}  // namespace kx
