#pragma once

#include <asio.hpp>
#include <cstdint>

namespace kx::testing {

// A loopback port that was free a moment ago and has nothing listening on it now.
inline std::uint16_t closedLoopbackPort() {
    asio::io_context io;
    asio::ip::tcp::acceptor gone(io, {asio::ip::address_v4::loopback(), 0});
    return gone.local_endpoint().port();
}

}  // namespace kx::testing
