// kxctl: pairs with a Kestrix agent and drives it from the command line, as a phone would.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "client/DevicePairing.h"
#include "client/KxClient.h"
#include "client/WaitTime.h"

namespace {

using namespace kx;

constexpr int kErrorResponseStatus = 1;
constexpr int kFailureStatus = 2;
constexpr double kDefaultTimeoutSeconds = 10;
constexpr auto kEventPoll = std::chrono::milliseconds(500);

struct Options {
    std::string statePath;
    std::string host;
    int port = 0;  // 0: not overridden
    double timeoutSeconds = kDefaultTimeoutSeconds;
    std::string code;
    std::string method;
    std::string params;
    bool pretty = false;
};

std::chrono::milliseconds timeout(const Options& options) {
    return waitFromSeconds(options.timeoutSeconds);
}

std::filesystem::path statePath(const Options& options) {
    if (!options.statePath.empty()) return options.statePath;
    auto path = ClientState::defaultPath();
    if (!path) throw StateFileError("no configuration folder: pass --state FILE");
    return *path;
}

std::unique_ptr<KxClient> connectAsDevice(const Options& options) {
    auto state = ClientState::load(statePath(options));
    auto connect = ConnectOptions::forDevice(state, defaultClientIdentity("kxctl"));
    if (!options.host.empty()) connect.host = options.host;
    if (options.port != 0) connect.port = static_cast<std::uint16_t>(options.port);
    connect.timeout = timeout(options);
    return KxClient::connect(connect);
}

JSONObject parseParams(const std::string& text) {
    if (text.empty()) return {};
    JSONValue value;
    try {
        value = JSONValue::fromJSONText(text);
    } catch (const JSONDecodeError& error) {
        throw ClientError(std::string("params are not JSON: ") + error.what());
    }
    if (!value.isObject()) throw ClientError("params must be a JSON object, e.g. '{\"text\":\"hi\"}'");
    return value.asObject();
}

void pair(const Options& options) {
    auto code = parsePairingCode(options.code);
    if (!options.host.empty()) code.host = options.host;
    if (options.port != 0) code.port = static_cast<std::uint16_t>(options.port);
    auto state = pairWithCode(code, defaultClientIdentity("kxctl"), timeout(options));
    auto path = statePath(options);
    state.save(path);
    std::cout << "paired with " << state.agentName << " as " << state.deviceId << "; saved to " << path.string()
              << std::endl;
}

void call(const Options& options) {
    auto params = parseParams(options.params);
    auto client = connectAsDevice(options);
    auto result = client->call(options.method, params, timeout(options));
    auto text = JSONValue(result).toJSONText();
    if (options.pretty) text = nlohmann::json::parse(text).dump(2);
    std::cout << text << std::endl;
    client->close();
}

void watch(const Options& options) {
    auto client = connectAsDevice(options);
    std::cerr << "watching events from " << client->auth().agent.name << " (Ctrl-C to stop)" << std::endl;
    for (;;) {
        if (auto event = client->nextEvent(kEventPoll)) std::cout << event->encode() << std::endl;
    }
}

void ping(const Options& options) {
    auto client = connectAsDevice(options);
    const auto start = std::chrono::steady_clock::now();
    client->call("agent.ping", {}, timeout(options));
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("pong from %s: %.3f ms\n", client->auth().agent.name.c_str(), elapsed.count());
    client->close();
}

void addCommands(CLI::App& app, Options& options) {
    auto* pairCommand = app.add_subcommand("pair", "Pair with the agent whose pairing code text is given");
    pairCommand->add_option("code", options.code, "The pairing code text (JSON from the agent)")->required();
    pairCommand->callback([&] { pair(options); });

    auto* callCommand = app.add_subcommand("call", "Call a method and print its result as JSON");
    callCommand->add_option("method", options.method, "Method name, e.g. agent.info")->required();
    callCommand->add_option("params", options.params, "Parameters as a JSON object");
    callCommand->add_flag("--pretty", options.pretty, "Indent the result");
    callCommand->callback([&] { call(options); });

    app.add_subcommand("watch", "Print pushed events, one JSON line each, until interrupted")->callback([&] {
        watch(options);
    });
    app.add_subcommand("ping", "Measure the round trip of agent.ping")->callback([&] { ping(options); });
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kxctl: control a Kestrix agent from the command line, as a paired phone would."};
    Options options;
    app.add_option("--state", options.statePath,
                   "State file with this client's pairing (default: $XDG_CONFIG_HOME/Kestrix/kxctl.json)");
    app.add_option("--host", options.host, "Connect to this host instead of the stored one");
    app.add_option("--port", options.port, "Connect to this port instead of the stored one")
        ->check(CLI::Range(1, 65535));
    app.add_option("--timeout", options.timeoutSeconds, "Seconds to wait for the connection and for each answer");
    app.require_subcommand(1);
    app.fallthrough();  // global options may follow the command
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return "kxctl: " + std::string(error.what()) + " (see --help)\n";
    });
    addCommands(app, options);
    // Before any command runs: a bad value is refused before connecting.
    app.parse_complete_callback([&] { timeout(options); });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : kFailureStatus;
    } catch (const ErrorResponse& error) {
        std::cerr << error.what() << std::endl;
        return kErrorResponseStatus;
    } catch (const std::exception& error) {
        std::cerr << "kxctl: " << error.what() << std::endl;
        return kFailureStatus;
    }
    return 0;
}
