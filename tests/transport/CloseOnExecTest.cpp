#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "agent/transport/TransportServer.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;

namespace {

// The local port of a TCP socket descriptor; absent for anything else.
std::optional<std::uint16_t> localPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return std::nullopt;
}

}  // namespace

// A child process started while a phone is connected must inherit neither the listener nor the connection.
TEST(TransportSockets, ListenerAndAcceptedConnectionsAreCloseOnExec) {
    auto registry = std::make_shared<DeviceRegistry>();
    auto server =
        TransportServer::create(AgentIdentity::generate(), registry, std::make_shared<PairingService>(registry),
                                std::make_shared<CommandRouter>(), {"host", "1", "linux", "os"}, {});
    server->start(std::nullopt, false);
    std::uint16_t port = server->state().port;
    e2e::RawPeer peer(port);
    peer.readHello();

    int transportSockets = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int fd = std::stoi(entry.path().filename().string());
        // The peer's own socket has an ephemeral local port; the agent's sockets have the listening one.
        if (localPort(fd) != port) continue;
        ++transportSockets;
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
    }
    EXPECT_EQ(transportSockets, 2);  // the listener and the accepted connection
}
