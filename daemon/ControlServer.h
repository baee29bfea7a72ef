#pragma once

#include <atomic>
#include <chrono>
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
#include <asio/steady_timer.hpp>

#include "agent/transport/WorkerPool.h"
#include "daemon/ControlMessages.h"

namespace kx {

// The running agent's local control socket: `kestrixd pair`, `kestrixd revoke ID` and the like
// from another terminal of the same user. Each connection carries one request line and gets one
// reply line. The socket file is mode 0600 in the user's private runtime folder, and the peer's
// user id is checked on every connection. The server's thread accepts and reads; each command then
// runs on a thread of its own, so a slow one (an update check) never delays another (shutdown cancel).
class ControlServer {
public:
    // Gets the words after the command's name; returns the reply or throws ControlError. Handlers
    // of different connections run at the same time.
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
    // A client that has not taken its reply by then is dropped.
    static constexpr std::chrono::seconds replyTimeout{5};
    // Connections served at once; further clients wait in the listen queue until one ends.
    static constexpr std::size_t maxConnections = 16;
    // Pause before accepting again when every slot is taken or after running out of descriptors.
    static constexpr std::chrono::milliseconds acceptRetryDelay{100};

    // Claims the socket at once. Throws ControlError when an agent already answers there (the
    // message names `dataFolder`) or when the socket cannot be created.
    ControlServer(std::filesystem::path socketPath, std::filesystem::path dataFolder);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Before start. The longest name matching the leading words of a request wins.
    void addCommand(std::string name, std::string usage, std::string summary, Handler handler);
    void start();
    // Stops serving, waits for the commands still running and removes the socket file.
    void stop();

    ControlReply handle(const ControlRequest& request) const;
    std::vector<Command> commands() const;
    const std::filesystem::path& socketPath() const { return socketPath_; }

private:
    void acceptNext();
    void acceptLater();
    void serve(int descriptor);

    std::filesystem::path socketPath_;
    std::filesystem::path dataFolder_;
    std::map<std::string, Command> commands_;
    // Connections being served; each one's slot is given back when it is destroyed.
    std::shared_ptr<std::atomic<std::size_t>> connections_ = std::make_shared<std::atomic<std::size_t>>(0);
    // One thread per connection that may be served at once, so a command never waits for a thread;
    // reset by stop(), which waits for the commands still running.
    std::unique_ptr<WorkerPool> workers_ = std::make_unique<WorkerPool>(maxConnections);
    asio::io_context io_;
    asio::local::stream_protocol::acceptor acceptor_;
    asio::steady_timer acceptRetry_;
    std::thread thread_;
    bool removed_ = false;
};

}  // namespace kx
