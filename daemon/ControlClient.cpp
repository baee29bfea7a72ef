#include "daemon/ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "daemon/ControlSocketPath.h"

namespace kx::ControlClient {

namespace {
constexpr std::size_t maxReplyBytes = 16 * 1024 * 1024;
constexpr std::size_t chunkSize = 4096;

// Closes the descriptor on every path.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

void sendAll(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw ControlError(std::string("cannot talk to the agent: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(n);
    }
}

std::string receiveAll(int fd) {
    std::string reply;
    auto deadline = std::chrono::steady_clock::now() + replyTimeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw ControlError("the agent did not answer in time");
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[chunkSize];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw ControlError(std::string("cannot read the agent's reply: ") + std::strerror(errno));
        if (n == 0) return reply;
        reply.append(chunk, static_cast<std::size_t>(n));
        if (reply.size() > maxReplyBytes) throw ControlError("the agent's reply is too long");
    }
}
}  // namespace

ControlReply send(const std::filesystem::path& dataFolder, const std::vector<std::string>& words) {
    std::filesystem::path path = ControlSocketPath::forDataFolder(dataFolder);
    Descriptor socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (socket.fd < 0) throw ControlError(std::string("cannot create a socket: ") + std::strerror(errno));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED)
            throw ControlError("no agent is running for data folder " + dataFolder.string());
        throw ControlError("cannot reach the agent at " + path.string() + ": " + std::strerror(errno));
    }
    sendAll(socket.fd, ControlRequest{words}.encode() + "\n");
    std::string reply = receiveAll(socket.fd);
    if (reply.empty()) throw ControlError("the agent closed the connection without an answer");
    return ControlReply::decode(reply);
}

}  // namespace kx::ControlClient
