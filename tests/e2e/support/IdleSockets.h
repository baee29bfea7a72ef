#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
    explicit IdleSockets(std::string sourceAddress = "127.0.0.2") : source_(std::move(sourceAddress)) {}
    ~IdleSockets() {
        for (int fd : sockets_) ::close(fd);
    }
    IdleSockets(const IdleSockets&) = delete;
    IdleSockets& operator=(const IdleSockets&) = delete;

    // Opens `count` more; returns how many could be started (the rest failed at once).
    std::size_t open(std::uint16_t port, std::size_t count) {
        sockaddr_in source{}, agent{};
        source.sin_family = agent.sin_family = AF_INET;
        ::inet_pton(AF_INET, source_.c_str(), &source.sin_addr);
        agent.sin_port = htons(port);
        agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::size_t before = sockets_.size();
        for (std::size_t i = 0; i < count; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0) break;
            if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
                (::connect(fd, reinterpret_cast<sockaddr*>(&agent), sizeof agent) == 0 || errno == EINPROGRESS))
                sockets_.push_back(fd);
            else
                ::close(fd);
        }
        return sockets_.size() - before;
    }
    std::size_t size() const { return sockets_.size(); }

private:
    std::string source_;
    std::vector<int> sockets_;
};

}  // namespace kx::e2e
