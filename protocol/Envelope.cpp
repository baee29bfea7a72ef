#include "protocol/Envelope.h"

#include <cmath>

#include "protocol/JSONConversion.h"
#include "protocol/ProtocolVersion.h"

namespace kx {

namespace {

using njson = nlohmann::json;

const njson* field(const njson& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return nullptr;  // null reads as absent
    return &*it;
}

std::int64_t integerField(const njson& value, const char* what) {
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (std::trunc(d) == d && std::fabs(d) < 9.2e18) return static_cast<std::int64_t>(d);
    }
    throw JSONDecodeError(std::string(what) + " is not an integer");
}

std::string stringField(const njson& value, const char* what) {
    if (!value.is_string()) throw JSONDecodeError(std::string(what) + " is not a string");
    return value.get<std::string>();
}

}  // namespace

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
    std::string out = "{\"v\":";
    out += std::to_string(v);
    out += ",\"t\":\"";
    out += wireString(t);
    out += '"';
    if (id) (out += ",\"id\":") += njson(*id).dump();
    if (m) (out += ",\"m\":") += njson(*m).dump();
    if (p) (out += ",\"p\":") += toNlohmann(JSONValue(*p)).dump();
    if (ok) out += *ok ? ",\"ok\":true" : ",\"ok\":false";
    if (e) (out += ",\"e\":") += toNlohmann(e->toJSON()).dump();
    if (seq) (out += ",\"seq\":") += std::to_string(*seq);
    out += '}';
    return out;
}

Envelope Envelope::decode(std::string_view text) {
    njson obj;
    try {
        obj = njson::parse(text);
    } catch (const njson::exception& ex) {
        throw JSONDecodeError(ex.what());
    }
    if (!obj.is_object()) throw JSONDecodeError("envelope is not an object");
    Envelope env;
    const njson* v = field(obj, "v");
    const njson* t = field(obj, "t");
    if (!v || !t) throw JSONDecodeError("envelope needs v and t");
    env.v = integerField(*v, "v");
    auto kind = messageKindFromWire(stringField(*t, "t"));
    if (!kind) throw JSONDecodeError("unknown message kind");
    env.t = *kind;
    if (auto f = field(obj, "id")) env.id = stringField(*f, "id");
    if (auto f = field(obj, "m")) env.m = stringField(*f, "m");
    if (auto f = field(obj, "p")) {
        if (!f->is_object()) throw JSONDecodeError("p is not an object");
        env.p = fromNlohmann(*f).asObject();
    }
    if (auto f = field(obj, "ok")) {
        if (!f->is_boolean()) throw JSONDecodeError("ok is not a boolean");
        env.ok = f->get<bool>();
    }
    if (auto f = field(obj, "e")) env.e = WireError::fromJSON(fromNlohmann(*f));
    if (auto f = field(obj, "seq")) {
        std::int64_t s = integerField(*f, "seq");
        if (s < 0) throw JSONDecodeError("seq is negative");
        env.seq = static_cast<std::uint64_t>(s);
    }
    return env;
}

}  // namespace kx
