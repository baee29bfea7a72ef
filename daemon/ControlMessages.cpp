#include "daemon/ControlMessages.h"

#include "agent/support/UTF8.h"

namespace kx {

namespace {
JSONObject parseObject(std::string_view line, const char* what) {
    try {
        JSONValue value = JSONValue::fromJSONText(line);
        if (value.isObject()) return value.asObject();
    } catch (const JSONDecodeError&) {
    }
    throw ControlError(std::string("unreadable control ") + what);
}

// JSON carries only valid UTF-8: a host name or file name with stray bytes gets U+FFFD in their place.
JSONValue repaired(const JSONValue& value) {
    switch (value.kind()) {
        case JSONValue::Kind::string: return repairUTF8(value.asString());
        case JSONValue::Kind::array: {
            JSONArray array;
            for (const auto& item : value.asArray()) array.push_back(repaired(item));
            return array;
        }
        case JSONValue::Kind::object: {
            JSONObject object;
            for (const auto& [key, item] : value.asObject()) object.emplace(repairUTF8(key), repaired(item));
            return object;
        }
        default: return value;
    }
}
}  // namespace

std::string ControlRequest::encode() const {
    JSONArray array;
    for (const auto& word : words) array.emplace_back(repairUTF8(word));
    return JSONValue(JSONObject{{"words", array}}).toJSONText();
}

ControlRequest ControlRequest::decode(std::string_view line) {
    JSONObject object = parseObject(line, "request");
    auto words = object.find("words");
    if (words == object.end() || !words->second.isArray()) throw ControlError("unreadable control request");
    ControlRequest request;
    for (const auto& word : words->second.asArray()) {
        if (!word.isString()) throw ControlError("unreadable control request");
        request.words.push_back(word.asString());
    }
    return request;
}

std::string ControlReply::encode() const {
    JSONObject object{{"ok", ok}};
    if (ok) {
        object.emplace("text", repairUTF8(text));
        object.emplace("data", repaired(data));
        if (qrCode) object.emplace("qr", repairUTF8(*qrCode));
    } else {
        object.emplace("error", repairUTF8(error));
    }
    return JSONValue(object).toJSONText();
}

ControlReply ControlReply::decode(std::string_view line) {
    JSONObject object = parseObject(line, "reply");
    auto text = [&](const char* key) -> std::string {
        auto it = object.find(key);
        return it != object.end() && it->second.isString() ? it->second.asString() : std::string();
    };
    auto ok = object.find("ok");
    if (ok == object.end() || !ok->second.isBool()) throw ControlError("unreadable control reply");
    if (!ok->second.asBool()) return failure(text("error"));
    ControlReply reply = success(text("text"), object.contains("data") ? object.at("data") : JSONValue());
    if (auto qr = object.find("qr"); qr != object.end() && qr->second.isString()) reply.qrCode = qr->second.asString();
    return reply;
}

}  // namespace kx
