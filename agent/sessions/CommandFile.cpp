#include "agent/sessions/CommandFile.h"

#include <nlohmann/json.hpp>

namespace kx {

namespace {

using nlohmann::json;

constexpr int kIndent = 2;

json encodeCommand(const SavedCommand& c) {
    return {
        {"id", c.id},        {"name", c.name}, {"icon", c.icon}, {"command", c.command}, {"templateId", c.templateId},
        {"danger", c.danger}};
}

json encodeTemplate(const SessionTemplate& t) {
    return {{"id", t.id}, {"name", t.name}, {"icon", t.icon}, {"cwd", t.cwd}, {"program", t.program}};
}

// Every field is required and must have its own type; get<> would convert between numbers and
// booleans, so the types are checked first.
const std::string& text(const json& object, const char* key) {
    const auto& value = object.at(key);
    if (!value.is_string()) throw std::invalid_argument(key);
    return value.get_ref<const std::string&>();
}

SavedCommand decodeCommand(const json& j) {
    const auto& danger = j.at("danger");
    if (!danger.is_boolean()) throw std::invalid_argument("danger");
    return {text(j, "id"),      text(j, "name"),       text(j, "icon"),
            text(j, "command"), text(j, "templateId"), danger.get<bool>()};
}

SessionTemplate decodeTemplate(const json& j) {
    return {text(j, "id"), text(j, "name"), text(j, "icon"), text(j, "cwd"), text(j, "program")};
}

}  // namespace

std::string CommandFile::encode() const {
    json commandArray = json::array();
    for (const auto& c : commands) commandArray.push_back(encodeCommand(c));
    json templateArray = json::array();
    for (const auto& t : templates) templateArray.push_back(encodeTemplate(t));
    // nlohmann's objects keep their keys sorted.
    return json{{"commands", std::move(commandArray)}, {"templates", std::move(templateArray)}}.dump(kIndent) + "\n";
}

std::optional<CommandFile> CommandFile::decode(std::string_view text) {
    try {
        auto root = json::parse(text);
        const auto& commandArray = root.at("commands");
        const auto& templateArray = root.at("templates");
        if (!commandArray.is_array() || !templateArray.is_array()) return std::nullopt;
        CommandFile file;
        for (const auto& c : commandArray) file.commands.push_back(decodeCommand(c));
        for (const auto& t : templateArray) file.templates.push_back(decodeTemplate(t));
        return file;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace kx
