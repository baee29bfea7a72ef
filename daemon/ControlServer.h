#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>

#include "daemon/ControlMessages.h"

namespace kx {

// The running agent's local control socket: `kestrixd pair`, `kestrixd revoke ID` and the like
// from another terminal of the same user. Each connection carries one request line and gets one
// reply line. The socket file is mode 0600 in the user's private runtime folder, and the peer's
// user id is checked on every connection. Requests run one at a time on the server's thread.
class ControlServer {
public:
    // Gets the words after the command's name; returns the reply or throws ControlError.
    using Handler = std::function<ControlReply(const std::vector<std::string>& arguments)>;
    struct Command {
        std::string name;     // one or more words, e.g. "shutdown cancel"
        std::string usage;    // e.g. "revoke ID"
        std::string summary;  // one line for the command list
        Handler handler;
    };

    // A request line longer than this is refused.
    static constexpr std::size_t maxRequestBytes = 65536;
    // A client that has not sent its request by then is dropped.
    static constexpr std::chrono::seconds requestTimeout{5};

    // Claims the socket at once. Throws ControlError when an agent already answers there (the
    // message names `dataFolder`) or when the socket cannot be created.
    ControlServer(std::filesystem::path socketPath, std::filesystem::path dataFolder);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Before start. The longest name matching the leading words of a request wins.
    void addCommand(std::string name, std::string usage, std::string summary, Handler handler);
    void start();
    // Stops serving and removes the socket file.
    void stop();

    ControlReply handle(const ControlRequest& request) const;
    std::vector<Command> commands() const;
    const std::filesystem::path& socketPath() const { return socketPath_; }

private:
    void acceptNext();
    void serve(asio::local::stream_protocol::socket connection);

    std::filesystem::path socketPath_;
    std::filesystem::path dataFolder_;
    std::map<std::string, Command> commands_;
    asio::io_context io_;
    asio::local::stream_protocol::acceptor acceptor_;
    std::thread thread_;
    bool removed_ = false;
};

}  // namespace kx
