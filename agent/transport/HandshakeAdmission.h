#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// Bounds the connections that have not finished their handshake, so that sockets opened and left
// idle cannot use up the agent's descriptors: at most `limit` in all and `perSource` from one
// address. A newcomer over a bound is let in and the oldest connection of the same address (or, over
// the total, of the address holding the most) is closed: a flood from one address then churns its
// own connections while a phone elsewhere finishes its handshake.
class HandshakeAdmission {
public:
    using Connection = std::uint64_t;
    static constexpr std::size_t defaultLimit = 64;
    static constexpr std::size_t defaultPerSource = 16;

    explicit HandshakeAdmission(std::size_t limit = defaultLimit, std::size_t perSource = defaultPerSource);

    // Records a new connection; returns those to close to make room for it, oldest first.
    std::vector<Connection> admit(Connection connection, const std::string& source);
    // Forgets a connection that finished its handshake or closed.
    void remove(Connection connection);
    // Picks (and forgets) the oldest connection of the address holding the most, to free its
    // descriptor; absent when none is waiting.
    std::optional<Connection> evictOne();
    std::size_t size() const { return waiting_.size(); }
    void clear() { waiting_.clear(); }

private:
    struct Waiting {
        Connection connection;
        std::string source;
    };
    std::optional<Connection> evictOldestFrom(const std::string& source);

    const std::size_t limit_;
    const std::size_t perSource_;
    std::vector<Waiting> waiting_;  // oldest first; small, as it is bounded by limit_
};

}  // namespace kx
