#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/JSONValue.h"

namespace kx {

// A failure that a control command reports to the person who typed it.
struct ControlError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One command from `kestrixd WORDS...` to the running agent: one JSON line.
struct ControlRequest {
    std::vector<std::string> words;

    std::string encode() const;
    static ControlRequest decode(std::string_view line);  // throws ControlError
};

// The agent's answer: text for a person, data for scripts (`--json`), and optionally a text that
// the client draws as a QR code in its terminal.
struct ControlReply {
    bool ok = true;
    std::string text;
    JSONValue data;
    std::optional<std::string> qrCode;
    std::string error;  // when not ok

    static ControlReply success(std::string text, JSONValue data = nullptr) {
        return {true, std::move(text), std::move(data), std::nullopt, {}};
    }
    static ControlReply failure(std::string error) { return {false, {}, nullptr, std::nullopt, std::move(error)}; }

    std::string encode() const;
    static ControlReply decode(std::string_view line);  // throws ControlError
};

}  // namespace kx
