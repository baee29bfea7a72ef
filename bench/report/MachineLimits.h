#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

namespace kx::bench {

// What this machine allows at the moment, measured the way the agent's figures are, so that
// each of those can be read as a ratio to its limit.

// A blocking echo over loopback TCP with TCP_NODELAY on both ends: the floor of any request's
// round trip. One client, one server thread.
class LoopbackEcho {
public:
    explicit LoopbackEcho(std::size_t messageSize);
    ~LoopbackEcho();
    LoopbackEcho(const LoopbackEcho&) = delete;
    LoopbackEcho& operator=(const LoopbackEcho&) = delete;

    // One message there and back, in microseconds.
    double roundTrip();

private:
    std::size_t size_;
    int client_ = -1;
    std::thread server_;
};

// Rates are per second of CPU time on one thread, so that the load of other processes on a shared
// machine moves them little.

// Handshakes per second the two sides' crypto alone allows on `cores` cores: X25519 key
// generation and agreement, Ed25519 signing and verifying, each twice (phone and agent).
double handshakeCryptoPerSecond(int cores, std::chrono::milliseconds length);

struct SealOpenCost {
    double raw = 0;      // libsodium's ChaCha20-Poly1305 seal then open, nanoseconds
    double channel = 0;  // the same through SecureChannel as the session calls it
};
// Interleaved in short rounds so that both see the same machine.
SealOpenCost sealOpenNanoseconds(std::size_t size, std::chrono::milliseconds length);

// Pings per second one core can carry through every step but the network: the phone seals a
// request, the agent opens, decodes, routes and encodes the answer and seals it, the phone opens
// and decodes it.
double requestsPerSecondOneCore(std::chrono::milliseconds length);

}  // namespace kx::bench
