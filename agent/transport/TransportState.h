#pragma once

#include <cstdint>
#include <string>

namespace kx {

// The listener's state as the transport server reports it to its owner.
struct TransportState {
    enum class Case { listening, failed, stopped, starting };

    Case which = Case::stopped;
    std::uint16_t port = 0;  // listening
    std::string error;       // failed

    static TransportState listening(std::uint16_t port) { return {Case::listening, port, {}}; }
    static TransportState failed(std::string error) { return {Case::failed, 0, std::move(error)}; }
    static TransportState stopped() { return {Case::stopped, 0, {}}; }
    static TransportState starting() { return {Case::starting, 0, {}}; }

    // "listening on port 4242", "failed: ...", "stopped", "starting".
    std::string description() const;

    friend bool operator==(const TransportState&, const TransportState&) = default;
};

}  // namespace kx
