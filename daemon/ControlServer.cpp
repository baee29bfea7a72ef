#include "daemon/ControlServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include <asio/post.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "agent/support/Log.h"

namespace kx {

namespace {
using asio::local::stream_protocol;

// True when something answers on the socket: a live agent, not a file left by a crash.
bool someoneListens(const std::filesystem::path& path) {
    asio::io_context io;
    stream_protocol::socket probe(io);
    asio::error_code error;
    probe.connect(stream_protocol::endpoint(path.string()), error);
    return !error;
}

bool sameUser(stream_protocol::socket& connection) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(connection.native_handle(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return peer.uid == ::geteuid();
}

std::string joinWords(const std::vector<std::string>& words, std::size_t count) {
    std::string name;
    for (std::size_t i = 0; i < count; ++i) name += (i ? " " : "") + words[i];
    return name;
}

// Holds one of the server's connection slots until the connection is destroyed.
class ConnectionSlot {
public:
    explicit ConnectionSlot(std::shared_ptr<std::atomic<std::size_t>> count) : count_(std::move(count)) {}
    ~ConnectionSlot() { --*count_; }
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;

private:
    std::shared_ptr<std::atomic<std::size_t>> count_;
};

std::string encodeSafely(const ControlReply& reply) {
    try {
        return reply.encode() + "\n";
    } catch (const std::exception& error) {
        log::error(std::string("control: cannot encode a reply: ") + error.what());
        return ControlReply::failure("the agent could not encode its reply").encode() + "\n";
    }
}

// One accepted connection: read a line on the server's thread, run its command on a worker,
// write the reply back on the server's thread, close.
struct ControlConnection : std::enable_shared_from_this<ControlConnection> {
    ControlConnection(stream_protocol::socket socket, const ControlServer& server, WorkerPool& workers,
                      std::shared_ptr<std::atomic<std::size_t>> connections)
        : socket(std::move(socket)),
          timer(this->socket.get_executor()),
          input(ControlServer::maxRequestBytes),
          server(server),
          workers(workers),
          slot(std::move(connections)) {}

    void run() {
        closeAfter(ControlServer::requestTimeout);
        asio::async_read_until(socket, input, '\n',
                               [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                                   self->timer.cancel();
                                   if (error) return;
                                   std::string line;
                                   std::istream stream(&self->input);
                                   std::getline(stream, line);
                                   self->workers.post([self, line] { self->execute(line); });
                               });
    }

    // On a worker thread.
    void execute(const std::string& line) {
        ControlReply answer;
        try {
            answer = server.handle(ControlRequest::decode(line));
        } catch (const ControlError& error) {
            answer = ControlReply::failure(error.what());
        } catch (const std::exception& error) {
            answer = ControlReply::failure(std::string("the agent could not run the command: ") + error.what());
        } catch (...) {
            answer = ControlReply::failure("the agent could not run the command");
        }
        asio::post(socket.get_executor(), [self = shared_from_this(), text = encodeSafely(answer)]() mutable {
            self->reply(std::move(text));
        });
    }

    void reply(std::string text) {
        output = std::move(text);
        closeAfter(ControlServer::replyTimeout);
        asio::async_write(socket, asio::buffer(output),
                          [self = shared_from_this()](const asio::error_code&, std::size_t) {
                              self->timer.cancel();
                              asio::error_code ignored;
                              self->socket.shutdown(stream_protocol::socket::shutdown_both, ignored);
                          });
    }

    void closeAfter(std::chrono::seconds limit) {
        timer.expires_after(limit);
        timer.async_wait([self = shared_from_this()](const asio::error_code& error) {
            if (!error) self->socket.close();
        });
    }

    stream_protocol::socket socket;
    asio::steady_timer timer;
    asio::streambuf input;
    std::string output;
    const ControlServer& server;
    WorkerPool& workers;
    ConnectionSlot slot;
};
}  // namespace

ControlServer::ControlServer(std::filesystem::path socketPath, std::filesystem::path dataFolder)
    : socketPath_(std::move(socketPath)), dataFolder_(std::move(dataFolder)), acceptor_(io_), acceptRetry_(io_) {
    if (someoneListens(socketPath_))
        throw ControlError("another agent is already running for data folder " + dataFolder_.string());
    ::unlink(socketPath_.c_str());  // left over from an agent that ended without cleaning up
    try {
        // Close-on-exec from the start: children the agent spawns must not inherit the socket.
        int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (descriptor < 0) throw std::system_error(errno, std::system_category());
        asio::error_code error;
        acceptor_.assign(stream_protocol(), descriptor, error);
        if (error) {
            ::close(descriptor);
            throw std::system_error(error);
        }
        acceptor_.bind(stream_protocol::endpoint(socketPath_.string()));
        ::chmod(socketPath_.c_str(), S_IRUSR | S_IWUSR);
        acceptor_.listen();
    } catch (const std::system_error& error) {
        throw ControlError("cannot create the control socket " + socketPath_.string() + ": " + error.code().message());
    }
}

ControlServer::~ControlServer() {
    stop();
}

void ControlServer::addCommand(std::string name, std::string usage, std::string summary, Handler handler) {
    Command command{name, std::move(usage), std::move(summary), std::move(handler)};
    commands_[std::move(name)] = std::move(command);
}

void ControlServer::start() {
    acceptNext();
    thread_ = std::thread([this] {
        for (;;) {
            try {
                io_.run();
                return;
            } catch (const std::exception& error) {
                log::error(std::string("control: ") + error.what());
            }
        }
    });
}

void ControlServer::stop() {
    if (thread_.joinable()) {
        io_.stop();
        thread_.join();
    }
    workers_.reset();
    asio::error_code ignored;
    acceptor_.close(ignored);
    if (!removed_) {
        ::unlink(socketPath_.c_str());
        removed_ = true;
    }
}

void ControlServer::acceptNext() {
    acceptor_.async_wait(stream_protocol::acceptor::wait_read, [this](const asio::error_code& error) {
        if (error == asio::error::operation_aborted) return;
        if (error) {
            log::error("control: waiting for connections failed: " + error.message());
            return;
        }
        // When every slot is taken, further clients wait in the listen queue.
        if (connections_->load() >= maxConnections) return acceptLater();
        int descriptor = ::accept4(acceptor_.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor >= 0)
            serve(descriptor);
        else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            return acceptLater();  // the pending connection stays readable: without a pause this would spin
        acceptNext();
    });
}

void ControlServer::acceptLater() {
    acceptRetry_.expires_after(acceptRetryDelay);
    acceptRetry_.async_wait([this](const asio::error_code& error) {
        if (!error) acceptNext();
    });
}

void ControlServer::serve(int descriptor) {
    stream_protocol::socket connection(io_);
    asio::error_code error;
    connection.assign(stream_protocol(), descriptor, error);
    if (error) {
        ::close(descriptor);
        return;
    }
    if (!sameUser(connection)) {
        log::error("control: refused a connection from another user");
        return;
    }
    ++*connections_;
    std::make_shared<ControlConnection>(std::move(connection), *this, *workers_, connections_)->run();
}

ControlReply ControlServer::handle(const ControlRequest& request) const {
    for (std::size_t count = request.words.size(); count >= 1; --count) {
        auto command = commands_.find(joinWords(request.words, count));
        if (command == commands_.end()) continue;
        std::vector<std::string> arguments(request.words.begin() + static_cast<std::ptrdiff_t>(count),
                                           request.words.end());
        try {
            return command->second.handler(arguments);
        } catch (const ControlError& error) {
            return ControlReply::failure(error.what());
        } catch (const std::exception& error) {
            return ControlReply::failure(command->first + " failed: " + error.what());
        } catch (...) {
            return ControlReply::failure(command->first + " failed");
        }
    }
    if (request.words.empty()) return ControlReply::failure("no command given");
    return ControlReply::failure("unknown command \"" + joinWords(request.words, request.words.size()) +
                                 "\" (kestrixd commands lists them)");
}

std::vector<ControlServer::Command> ControlServer::commands() const {
    std::vector<Command> list;
    for (const auto& [name, command] : commands_) list.push_back(command);
    return list;
}

}  // namespace kx
