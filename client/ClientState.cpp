#include "client/ClientState.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <system_error>

#include "agent/support/AtomicFile.h"
#include "agent/support/DataDirectory.h"
#include "client/ClientError.h"
#include "protocol/Base64URL.h"

namespace kx {

namespace {

constexpr mode_t kStateFileMode = 0600;
constexpr mode_t kShared = S_IRWXG | S_IRWXO;
constexpr int kIndent = 2;

std::string text(const nlohmann::json& json, const char* key) {
    auto it = json.find(key);
    if (it == json.end() || !it->is_string() || it->get_ref<const std::string&>().empty())
        throw StateFileError(std::string("state file: ") + key + " is missing or not text");
    return it->get<std::string>();
}

std::uint16_t portNumber(const nlohmann::json& json) {
    auto it = json.find("port");
    if (it == json.end() || !it->is_number_unsigned() || it->get<std::uint64_t>() > UINT16_MAX)
        throw StateFileError("state file: port is missing or not a port number");
    return static_cast<std::uint16_t>(it->get<std::uint64_t>());
}

Key32 seed(const nlohmann::json& json) {
    auto bytes = base64URLDecode(text(json, "deviceKey"));
    if (!bytes || bytes->size() != Key32{}.size()) throw StateFileError("state file: deviceKey is not a 32-byte key");
    Key32 key{};
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

}  // namespace

DeviceCredentials ClientState::credentials() const {
    return {deviceId, SigningKey::fromSeed(deviceKey)};
}

std::string ClientState::encode() const {
    nlohmann::json json = {{"host", host},           {"port", port},         {"agentFingerprint", agentFingerprint},
                           {"agentName", agentName}, {"deviceId", deviceId}, {"deviceKey", base64URLEncode(deviceKey)}};
    return json.dump(kIndent, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

ClientState ClientState::decode(std::string_view textForm) {
    auto json = nlohmann::json::parse(textForm, nullptr, false);
    if (json.is_discarded() || !json.is_object()) throw StateFileError("state file is not a JSON object");
    ClientState state;
    state.host = text(json, "host");
    state.port = portNumber(json);
    state.agentFingerprint = text(json, "agentFingerprint");
    state.agentName = text(json, "agentName");
    state.deviceId = text(json, "deviceId");
    state.deviceKey = seed(json);
    return state;
}

ClientState ClientState::load(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            throw StateFileError("not paired yet: no state file at " + path.string() + " (run kxctl pair first)");
        throw StateFileError("cannot read " + path.string() + ": " + std::strerror(errno));
    }
    if ((info.st_mode & kShared) != 0)
        throw StateFileError(path.string() + " holds a private key but others can read it: chmod 600 it");
    auto contents = readWholeFile(path);
    if (!contents) throw StateFileError("cannot read " + path.string());
    try {
        return decode(*contents);
    } catch (const StateFileError& error) {
        throw StateFileError(path.string() + ": " + error.what());
    }
}

void ClientState::save(const std::filesystem::path& path) const {
    if (path.has_parent_path()) ensureDirectory(path.parent_path());
    try {
        writeFileAtomically(path, encode(), kStateFileMode);
    } catch (const std::system_error& error) {
        throw StateFileError("cannot write " + path.string() + ": " + error.code().message());
    }
}

std::optional<std::filesystem::path> ClientState::defaultPath() {
    auto folder = defaultConfigDirectory();
    if (!folder) return std::nullopt;
    return *folder / defaultFileName;
}

}  // namespace kx
