#include "protocol/Envelope.h"

#include "protocol/EnvelopeReader.h"
#include "protocol/JSONConversion.h"
#include "protocol/ProtocolVersion.h"

namespace kx {

std::string_view wireString(MessageKind kind) {
    switch (kind) {
        case MessageKind::request: return "req";
        case MessageKind::response: return "res";
        case MessageKind::event: return "evt";
    }
    return "req";
}

std::optional<MessageKind> messageKindFromWire(std::string_view text) {
    if (text == "req") return MessageKind::request;
    if (text == "res") return MessageKind::response;
    if (text == "evt") return MessageKind::event;
    return std::nullopt;
}

const char* ValidationFailure::what() const noexcept {
    switch (which) {
        case Case::unsupportedVersion: return "unsupported protocol version";
        case Case::missingID: return "missing id";
        case Case::missingMethod: return "missing method";
        case Case::missingOK: return "missing ok";
        case Case::missingError: return "missing error";
        case Case::missingSequence: return "missing sequence";
    }
    return "invalid envelope";
}

Envelope Envelope::request(std::string id, std::string method, std::optional<JSONObject> params) {
    Envelope e;
    e.t = MessageKind::request;
    e.id = std::move(id);
    e.m = std::move(method);
    e.p = std::move(params);
    return e;
}

Envelope Envelope::success(std::string id, std::optional<JSONObject> result) {
    Envelope e;
    e.t = MessageKind::response;
    e.id = std::move(id);
    e.p = std::move(result);
    e.ok = true;
    return e;
}

Envelope Envelope::failure(std::string id, WireError error) {
    Envelope e;
    e.t = MessageKind::response;
    e.id = std::move(id);
    e.ok = false;
    e.e = std::move(error);
    return e;
}

Envelope Envelope::event(std::string method, std::uint64_t seq, std::optional<JSONObject> params) {
    Envelope e;
    e.t = MessageKind::event;
    e.m = std::move(method);
    e.seq = seq;
    e.p = std::move(params);
    return e;
}

void Envelope::validate() const {
    using C = ValidationFailure::Case;
    if (!ProtocolVersion::isSupported(v)) throw ValidationFailure(C::unsupportedVersion, v);
    switch (t) {
        case MessageKind::request:
            if (!id) throw ValidationFailure(C::missingID);
            if (!m) throw ValidationFailure(C::missingMethod);
            break;
        case MessageKind::response:
            if (!id) throw ValidationFailure(C::missingID);
            if (!ok) throw ValidationFailure(C::missingOK);
            if (!*ok && !e) throw ValidationFailure(C::missingError);
            break;
        case MessageKind::event:
            if (!m) throw ValidationFailure(C::missingMethod);
            if (!seq) throw ValidationFailure(C::missingSequence);
            break;
    }
}

std::string Envelope::encode() const {
    constexpr std::size_t typicalLength = 128;
    std::string out;
    out.reserve(typicalLength);
    out += "{\"v\":";
    out += std::to_string(v);
    out += ",\"t\":\"";
    out += wireString(t);
    out += '"';
    if (id) appendJSONString(out += ",\"id\":", *id);
    if (m) appendJSONString(out += ",\"m\":", *m);
    if (p) appendJSONText(out += ",\"p\":", *p);
    if (ok) out += *ok ? ",\"ok\":true" : ",\"ok\":false";
    if (e) appendJSONText(out += ",\"e\":", e->toJSON());
    if (seq) (out += ",\"seq\":") += std::to_string(*seq);
    out += '}';
    return out;
}

Envelope Envelope::decode(std::string_view text) {
    return EnvelopeReader::read(text);
}

}  // namespace kx
