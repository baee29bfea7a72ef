#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>

#include "protocol/KxSec.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/Subprocess.h"

namespace kx::bench {

// The tests' in-process agent (a fresh identity, the devices file in a temporary folder) in a child
// process of its own, so that its memory and CPU are its own: one paired device, and the X
// display's event poster when DISPLAY is set. It serves until the object goes.
class BenchAgent {
public:
    BenchAgent();
    ~BenchAgent();
    BenchAgent(const BenchAgent&) = delete;
    BenchAgent& operator=(const BenchAgent&) = delete;

    pid_t pid() const { return process_->pid(); }
    std::uint16_t port() const { return port_; }
    // The agent's resident memory now.
    long residentKiB() const;
    // CPU time the agent has used so far (user and system), in seconds.
    double cpuSeconds() const;
    // A peer that has finished its handshake as the paired device.
    std::unique_ptr<e2e::RawPeer> connect() const;

private:
    SigningKey device_;
    std::uint16_t port_ = 0;
    std::unique_ptr<kx::testing::Subprocess> process_;
};

}  // namespace kx::bench
