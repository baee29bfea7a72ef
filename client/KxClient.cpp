#include "client/KxClient.h"

#include <sys/utsname.h>
#include <unistd.h>

#include "client/ClientConnection.h"

namespace kx {

ClientIdentity defaultClientIdentity(const std::string& app) {
    constexpr std::size_t kHostNameMax = 256;
    char host[kHostNameMax] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::string os = "Linux";
    if (utsname info{}; ::uname(&info) == 0) os = std::string(info.sysname) + " " + info.release;
    return {*host ? host : "unknown", app, os};
}

ConnectOptions ConnectOptions::forDevice(const ClientState& state, ClientIdentity client) {
    ConnectOptions options;
    options.host = state.host;
    options.port = state.port;
    options.pinnedFingerprint = state.agentFingerprint;
    options.credentials = state.credentials();
    options.client = std::move(client);
    return options;
}

KxClient::KxClient(std::unique_ptr<ClientConnection> connection) : connection_(std::move(connection)) {}

KxClient::~KxClient() = default;

std::unique_ptr<KxClient> KxClient::connect(const ConnectOptions& options) {
    auto connection = std::make_unique<ClientConnection>(options);
    connection->open();
    return std::unique_ptr<KxClient>(new KxClient(std::move(connection)));
}

const AuthReply& KxClient::auth() const {
    return connection_->auth();
}

JSONObject KxClient::call(const std::string& method, const JSONObject& params,
                          std::optional<std::chrono::milliseconds> timeout) {
    auto [id, future] = connection_->send(method, params);
    if (timeout && future.wait_for(*timeout) != std::future_status::ready) {
        connection_->abandon(id);
        throw RequestTimeout(method + ": no answer within " + std::to_string(timeout->count()) + " ms");
    }
    return future.get().unwrap();
}

PendingCall KxClient::callAsync(const std::string& method, const JSONObject& params) {
    return PendingCall(connection_->send(method, params).second);
}

void KxClient::setEventHandler(EventHandler handler) {
    connection_->setEventHandler(std::move(handler));
}

std::optional<Envelope> KxClient::nextEvent(std::chrono::milliseconds timeout) {
    return connection_->nextEvent(timeout);
}

bool KxClient::isOpen() const {
    return connection_->isOpen();
}

void KxClient::close() {
    connection_->close();
}

}  // namespace kx
