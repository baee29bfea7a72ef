#include "daemon/ControlServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

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

// One accepted connection: read a line, answer it, close.
struct ControlConnection : std::enable_shared_from_this<ControlConnection> {
    ControlConnection(stream_protocol::socket socket, const ControlServer& server)
        : socket(std::move(socket)),
          timer(this->socket.get_executor()),
          input(ControlServer::maxRequestBytes),
          server(server) {}

    void run() {
        timer.expires_after(ControlServer::requestTimeout);
        timer.async_wait([self = shared_from_this()](const asio::error_code& error) {
            if (!error) self->socket.close();
        });
        asio::async_read_until(socket, input, '\n',
                               [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                                   self->timer.cancel();
                                   if (error) return;
                                   std::string line;
                                   std::istream stream(&self->input);
                                   std::getline(stream, line);
                                   self->reply(line);
                               });
    }

    void reply(const std::string& line) {
        ControlReply answer;
        try {
            answer = server.handle(ControlRequest::decode(line));
        } catch (const ControlError& error) {
            answer = ControlReply::failure(error.what());
        }
        output = answer.encode() + "\n";
        asio::async_write(socket, asio::buffer(output),
                          [self = shared_from_this()](const asio::error_code&, std::size_t) {
                              asio::error_code ignored;
                              self->socket.shutdown(stream_protocol::socket::shutdown_both, ignored);
                          });
    }

    stream_protocol::socket socket;
    asio::steady_timer timer;
    asio::streambuf input;
    std::string output;
    const ControlServer& server;
};
}  // namespace

ControlServer::ControlServer(std::filesystem::path socketPath, std::filesystem::path dataFolder)
    : socketPath_(std::move(socketPath)), dataFolder_(std::move(dataFolder)), acceptor_(io_) {
    if (someoneListens(socketPath_))
        throw ControlError("another agent is already running for data folder " + dataFolder_.string());
    ::unlink(socketPath_.c_str());  // left over from an agent that ended without cleaning up
    try {
        acceptor_.open(stream_protocol());
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
    thread_ = std::thread([this] { io_.run(); });
}

void ControlServer::stop() {
    if (thread_.joinable()) {
        io_.stop();
        thread_.join();
    }
    asio::error_code ignored;
    acceptor_.close(ignored);
    if (!removed_) {
        ::unlink(socketPath_.c_str());
        removed_ = true;
    }
}

void ControlServer::acceptNext() {
    acceptor_.async_accept([this](const asio::error_code& error, stream_protocol::socket connection) {
        if (error == asio::error::operation_aborted) return;
        if (!error) serve(std::move(connection));
        acceptNext();
    });
}

void ControlServer::serve(stream_protocol::socket connection) {
    if (!sameUser(connection)) {
        log::error("control: refused a connection from another user");
        return;
    }
    std::make_shared<ControlConnection>(std::move(connection), *this)->run();
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
