#include "agent/pairing/PairingPayload.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "protocol/JSONValue.h"

namespace kx {

namespace {

const nlohmann::json& member(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw JSONDecodeError(std::string("pairing code lacks ") + key);
    return *it;
}

std::string stringMember(const nlohmann::json& object, const char* key) {
    const auto& value = member(object, key);
    if (!value.is_string()) throw JSONDecodeError(std::string("pairing code ") + key + " is not text");
    return value.get<std::string>();
}

// Accepts only JSON integers (not 1.5, not "1") within [low, high].
std::int64_t integerMember(const nlohmann::json& object, const char* key, std::int64_t low, std::int64_t high) {
    const auto& value = member(object, key);
    std::int64_t number = 0;
    if (value.is_number_unsigned()) {
        auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw JSONDecodeError(std::string("pairing code ") + key + " is out of range");
        number = static_cast<std::int64_t>(u);
    } else if (value.is_number_integer()) {
        number = value.get<std::int64_t>();
    } else {
        throw JSONDecodeError(std::string("pairing code ") + key + " is not an integer");
    }
    if (number < low || number > high) throw JSONDecodeError(std::string("pairing code ") + key + " is out of range");
    return number;
}

}  // namespace

std::string PairingPayload::encoded() const {
    // nlohmann's object is a sorted map, so the keys come out in the required order.
    nlohmann::json json = {{"v", v}, {"host", host}, {"port", port}, {"fp", fp}, {"token", token}, {"name", name}};
    // Invalid UTF-8 (a strange host name) is replaced rather than making the code unprintable.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

PairingPayload PairingPayload::decode(std::string_view text) {
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) throw JSONDecodeError("pairing code is not JSON");
    if (!json.is_object()) throw JSONDecodeError("pairing code is not a JSON object");
    PairingPayload payload;
    payload.v =
        integerMember(json, "v", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
    payload.host = stringMember(json, "host");
    payload.port =
        static_cast<std::uint16_t>(integerMember(json, "port", 0, std::numeric_limits<std::uint16_t>::max()));
    payload.fp = stringMember(json, "fp");
    payload.token = stringMember(json, "token");
    payload.name = stringMember(json, "name");
    return payload;
}

}  // namespace kx
