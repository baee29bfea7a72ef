#include "agent/support/SalvagedJSON.h"

#include "agent/support/UTF8.h"

namespace kx {

namespace {

using nlohmann::json;

constexpr std::size_t kDescribedIDLength = 40;

}  // namespace

SalvagedJSON SalvagedJSON::parse(std::string_view text) {
    SalvagedJSON result;
    bool rootIsArray = false;
    std::string key;
    // Depth of an element's closing event: 1 inside a top-level array, 2 inside an array under a top-level key.
    auto collect = [&](int depth, json::parse_event_t event, json& parsed) {
        if (depth == 0 && event == json::parse_event_t::array_start) rootIsArray = true;
        if (!rootIsArray && depth == 1 && event == json::parse_event_t::key) key = parsed.get<std::string>();
        if (event == json::parse_event_t::object_end && depth == (rootIsArray ? 1 : 2))
            result.objects[rootIsArray ? std::string() : key].push_back(parsed);
        return true;
    };
    try {
        result.document = json::parse(text, collect);
    } catch (const json::exception& error) {
        result.error = error.what();
    }
    return result;
}

std::optional<std::vector<json>> SalvagedJSON::array(const std::string& key) const {
    if (!document) {
        auto it = objects.find(key);
        return it == objects.end() ? std::vector<json>() : it->second;
    }
    const json* value = &*document;
    if (!key.empty()) {
        if (!document->is_object() || !document->contains(key)) return std::nullopt;
        value = &document->at(key);
    }
    if (!value->is_array()) return std::nullopt;
    return value->get<std::vector<json>>();
}

std::string SalvagedJSON::describe(std::size_t index, const json& element) {
    std::string text = "entry " + std::to_string(index + 1);
    if (auto it = element.find("id"); it != element.end() && it->is_string())
        text += " (id \"" + repairUTF8(it->get_ref<const std::string&>().substr(0, kDescribedIDLength)) + "\")";
    return text;
}

}  // namespace kx
