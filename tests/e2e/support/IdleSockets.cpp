#include "tests/e2e/support/IdleSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kx::e2e {

IdleSockets::IdleSockets(std::string sourceAddress) : source_(std::move(sourceAddress)) {}

IdleSockets::~IdleSockets() {
    closeAll();
}

std::size_t IdleSockets::open(std::uint16_t port, std::size_t count) {
    sockaddr_in source{}, agent{};
    source.sin_family = agent.sin_family = AF_INET;
    ::inet_pton(AF_INET, source_.c_str(), &source.sin_addr);
    agent.sin_port = htons(port);
    agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::size_t started = 0;
    for (std::size_t i = 0; i < count; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) break;
        bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
                  (::connect(fd, reinterpret_cast<sockaddr*>(&agent), sizeof agent) == 0 || errno == EINPROGRESS);
        if (!ok) {
            ::close(fd);
            continue;
        }
        sockets_.push_back(fd);
        ++started;
    }
    return started;
}

void IdleSockets::closeAll() {
    for (int fd : sockets_) ::close(fd);
    sockets_.clear();
}

}  // namespace kx::e2e
