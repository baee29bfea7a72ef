#include "protocol/JSONValueBuilder.h"

#include <utility>

namespace kx {

JSONValue* JSONValueBuilder::place(JSONValue value) {
    if (open_.empty()) {
        root_ = std::move(value);
        return &root_;
    }
    JSONValue& parent = *open_.back();
    if (parent.isArray()) return &parent.asArray().emplace_back(std::move(value));
    return &parent.asObject().insert_or_assign(std::move(keys_.back()), std::move(value)).first->second;
}

bool JSONValueBuilder::value(JSONValue value) {
    place(std::move(value));
    if (open_.empty()) complete_ = true;
    return true;
}

bool JSONValueBuilder::startObject() {
    if (open_.size() >= maxJSONDepth) return false;
    open_.push_back(place(JSONObject{}));
    keys_.emplace_back();
    return true;
}

bool JSONValueBuilder::startArray() {
    if (open_.size() >= maxJSONDepth) return false;
    open_.push_back(place(JSONArray{}));
    keys_.emplace_back();
    return true;
}

void JSONValueBuilder::key(std::string key) {
    keys_.back() = std::move(key);
}

void JSONValueBuilder::endContainer() {
    open_.pop_back();
    keys_.pop_back();
    if (open_.empty()) complete_ = true;
}

JSONValue JSONValueBuilder::take() {
    complete_ = false;
    JSONValue out = std::move(root_);
    root_ = nullptr;
    return out;
}

}  // namespace kx
