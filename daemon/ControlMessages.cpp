#include "daemon/ControlMessages.h"

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
}  // namespace

std::string ControlRequest::encode() const {
    JSONArray array(words.begin(), words.end());
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
        object.emplace("text", text);
        object.emplace("data", data);
        if (qrCode) object.emplace("qr", *qrCode);
    } else {
        object.emplace("error", error);
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
