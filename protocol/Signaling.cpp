#include "protocol/Signaling.h"

#include <array>
#include <limits>

#include <nlohmann/json.hpp>

#include "protocol/Base64URL.h"
#include "protocol/JSONFields.h"
#include "protocol/JSONValue.h"
#include "protocol/KxSec.h"

namespace kx::Signaling {

namespace {

using Kind = Message::Kind;

constexpr std::string_view roomLabel = "kestrix/v1/room";
constexpr std::string_view roomPrefix = "kx1-";
constexpr std::size_t roomDigestCharacters = 32;

constexpr std::array<std::pair<Kind, std::string_view>, 4> kindNames{
    {{Kind::offer, "offer"}, {Kind::answer, "answer"}, {Kind::candidate, "candidate"}, {Kind::ready, "ready"}}};

std::string_view wireString(Kind kind) {
    for (const auto& [k, name] : kindNames)
        if (k == kind) return name;
    return "offer";
}

Kind kindFromWire(const std::string& text) {
    for (const auto& [k, name] : kindNames)
        if (name == text) return k;
    throw JSONDecodeError("unknown signaling kind");
}

std::int32_t lineIndex(const nlohmann::json& value) {
    const std::int64_t index = JSONFields::integer(value, "sdpMLineIndex");
    if (index < std::numeric_limits<std::int32_t>::min() || index > std::numeric_limits<std::int32_t>::max())
        throw JSONDecodeError("sdpMLineIndex is out of range");
    return static_cast<std::int32_t>(index);
}

}  // namespace

std::string Message::encode() const {
    nlohmann::ordered_json json;
    json["kind"] = wireString(kind);
    json["payload"] = payload;
    if (sdpMid) json["sdpMid"] = *sdpMid;
    if (sdpMLineIndex) json["sdpMLineIndex"] = *sdpMLineIndex;
    json["session"] = session;
    return json.dump();
}

Message Message::decode(std::string_view text) {
    const nlohmann::json json = JSONFields::parseObject(text);
    Message message;
    message.kind = kindFromWire(JSONFields::requiredString(json, "kind"));
    message.payload = JSONFields::requiredString(json, "payload");
    message.session = JSONFields::requiredString(json, "session");
    message.sdpMid = JSONFields::optionalString(json, "sdpMid");
    if (const nlohmann::json* index = JSONFields::find(json, "sdpMLineIndex"))
        message.sdpMLineIndex = lineIndex(*index);
    return message;
}

std::string room(std::string_view agentFingerprint) {
    std::string labelled(roomLabel);
    labelled += agentFingerprint;
    const std::string digest = base64URLEncode(KxSec::sha256(asBytes(labelled)));
    return std::string(roomPrefix) + digest.substr(0, roomDigestCharacters);
}

}  // namespace kx::Signaling
