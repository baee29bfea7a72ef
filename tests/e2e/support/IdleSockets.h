#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx::e2e {

// Sockets opened against an agent on 127.0.0.1 from one loopback address (127.0.0.2 stands for
// another machine) and left idle, as a flood of idle connections would. Connections are started
// without waiting for them, so a full accept queue never blocks the caller. Closes them all at the end.
class IdleSockets {
public:
    explicit IdleSockets(std::string sourceAddress = "127.0.0.2");
    ~IdleSockets();
    IdleSockets(const IdleSockets&) = delete;
    IdleSockets& operator=(const IdleSockets&) = delete;

    // Opens `count` more; returns how many could be started (the rest failed at once).
    std::size_t open(std::uint16_t port, std::size_t count);
    void closeAll();
    std::size_t size() const { return sockets_.size(); }

private:
    std::string source_;
    std::vector<int> sockets_;
};

}  // namespace kx::e2e
