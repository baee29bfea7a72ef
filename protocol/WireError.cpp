#include "protocol/WireError.h"

namespace kx {

JSONValue WireError::toJSON() const {
    JSONObject out{{"code", std::string(wireString(code))}, {"msg", msg}};
    if (p) out.emplace("p", *p);
    return out;
}

WireError WireError::fromJSON(const JSONValue& value) {
    if (!value.isObject()) throw JSONDecodeError("error is not an object");
    const auto& obj = value.asObject();
    auto code = obj.find("code");
    auto msg = obj.find("msg");
    if (code == obj.end() || !code->second.isString() || msg == obj.end() || !msg->second.isString())
        throw JSONDecodeError("error needs code and msg");
    auto parsed = errorCodeFromWire(code->second.asString());
    if (!parsed) throw JSONDecodeError("unknown error code");
    WireError out(*parsed, msg->second.asString());
    if (auto p = obj.find("p"); p != obj.end()) {
        if (!p->second.isObject()) throw JSONDecodeError("error params are not an object");
        out.p = p->second.asObject();
    }
    return out;
}

}  // namespace kx
