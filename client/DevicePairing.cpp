#include "client/DevicePairing.h"

#include "protocol/Base64URL.h"
#include "protocol/Params.h"

namespace kx {

namespace {

constexpr std::size_t kFingerprintLength = 43;

}  // namespace

PairingPayload parsePairingCode(std::string_view text) {
    PairingPayload code;
    try {
        code = PairingPayload::decode(text);
    } catch (const JSONDecodeError& error) {
        throw InvalidPairingCode(std::string("not a pairing code: ") + error.what());
    }
    if (code.v != PairingPayload::currentVersion)
        throw InvalidPairingCode("pairing code version " + std::to_string(code.v) + " is not supported");
    if (code.port == 0) throw InvalidPairingCode("the agent was not listening when this code was made");
    auto fingerprint = base64URLDecode(code.fp);
    if (code.fp.size() != kFingerprintLength || !fingerprint)
        throw InvalidPairingCode("the pairing code's key fingerprint is malformed");
    if (code.host.empty() || code.token.empty()) throw InvalidPairingCode("the pairing code lacks a host or token");
    return code;
}

ClientState pairWithCode(const PairingPayload& code, const ClientIdentity& client, std::chrono::milliseconds timeout) {
    ConnectOptions options;
    options.host = code.host;
    options.port = code.port;
    options.pinnedFingerprint = code.fp;
    options.client = client;
    options.timeout = timeout;
    auto connection = KxClient::connect(options);

    const auto deviceKey = SigningKey::generate();
    JSONObject params = {{"token", code.token},
                         {"devicePubKey", base64URLEncode(deviceKey.publicKey)},
                         {"client", JSONObject{{"name", client.name}, {"os", client.os}}}};
    JSONObject result;
    try {
        result = connection->call("pair.begin", params, timeout);
    } catch (const ErrorResponse& refusal) {
        throw PairingRefused(refusal.error.msg, refusal.error);
    }
    auto deviceId = params::string(result, "deviceId");
    if (!deviceId || deviceId->empty()) throw ProtocolViolation("the agent's pairing answer has no deviceId");
    connection->close();
    return ClientState{code.host, code.port, code.fp, connection->auth().agent.name, *deviceId, deviceKey.seed};
}

}  // namespace kx
