#pragma once

#include <chrono>
#include <thread>

#include "client/KxClient.h"
#include "tests/e2e/support/InProcessAgent.h"

namespace kx::test {

inline ClientIdentity phone() {
    return {"Test phone", "kx-tests", "TestOS 1"};
}

// The agent service with methods of the test's own: "echo" answers with its parameters (after
// "delayMs" when given), "fail" answers an error and "silence" answers too late to matter.
struct EchoAgent : e2e::InProcessAgent {
    EchoAgent() : InProcessAgent(Options{.sleepInhibitor = nullptr, .startNow = false}) {
        auto add = [this](const char* name, MethodHandler handler) {
            service().router().registerMethod(name, std::nullopt, true, std::move(handler));
        };
        add("echo", [](const JSONObject& params, const RequestContext&) {
            if (auto delay = params.find("delayMs"); delay != params.end())
                std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(delay->second.asNumber())));
            return params;
        });
        add("fail", [](const JSONObject&, const RequestContext&) -> JSONObject {
            throw WireError{ErrorCode::targetNotFound, "No such thing"};
        });
        add("silence", [](const JSONObject&, const RequestContext&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return JSONObject{};
        });
        start();
    }

    PairingPayload code() { return service().beginPairing("127.0.0.1"); }
};

}  // namespace kx::test
