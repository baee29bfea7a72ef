#include "protocol/HandshakeMessages.h"

#include <nlohmann/json.hpp>

#include "protocol/JSONFields.h"

namespace kx {

namespace {

using OrderedJSON = nlohmann::ordered_json;

ClientIdentity decodeClient(const nlohmann::json& object) {
    const nlohmann::json& client = JSONFields::require(object, "client");
    if (!client.is_object()) throw JSONDecodeError("client is not an object");
    return {JSONFields::requiredString(client, "name"), JSONFields::requiredString(client, "app"),
            JSONFields::requiredString(client, "os")};
}

}  // namespace

// Encoding throws nlohmann::json::type_error when a string is not valid UTF-8.
std::string SecHello::encode() const {
    OrderedJSON json;
    json["ephPub"] = ephPub;
    json["nonce"] = nonce;
    json["pairing"] = pairing;
    json["protocol"] = protocolVersions;
    return json.dump();
}

SecHello SecHello::decode(std::string_view text) {
    const nlohmann::json json = JSONFields::parseObject(text);
    SecHello hello;
    hello.ephPub = JSONFields::requiredString(json, "ephPub");
    hello.nonce = JSONFields::requiredString(json, "nonce");
    hello.pairing = JSONFields::requiredBool(json, "pairing");
    hello.protocolVersions = JSONFields::requiredIntegerArray(json, "protocol");
    return hello;
}

std::string SecAuth::encode() const {
    OrderedJSON json;
    json["ephPub"] = ephPub;
    json["nonce"] = nonce;
    if (deviceId) json["deviceId"] = *deviceId;
    if (sig) json["sig"] = *sig;
    json["client"] = OrderedJSON{{"name", client.name}, {"app", client.app}, {"os", client.os}};
    json["protocol"] = protocolVersions;
    return json.dump();
}

SecAuth SecAuth::decode(std::string_view text) {
    const nlohmann::json json = JSONFields::parseObject(text);
    SecAuth auth;
    auth.ephPub = JSONFields::requiredString(json, "ephPub");
    auth.nonce = JSONFields::requiredString(json, "nonce");
    auth.deviceId = JSONFields::optionalString(json, "deviceId");
    auth.sig = JSONFields::optionalString(json, "sig");
    auth.client = decodeClient(json);
    auth.protocolVersions = JSONFields::requiredIntegerArray(json, "protocol");
    return auth;
}

}  // namespace kx
