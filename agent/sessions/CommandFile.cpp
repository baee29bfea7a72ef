#include "agent/sessions/CommandFile.h"

#include <nlohmann/json.hpp>

#include "agent/support/SalvagedJSON.h"

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
    if (!value.is_string()) throw std::invalid_argument(std::string(key) + " is not a text");
    return value.get_ref<const std::string&>();
}

SavedCommand decodeCommand(const json& j) {
    const auto& danger = j.at("danger");
    if (!danger.is_boolean()) throw std::invalid_argument("danger is not true or false");
    return {text(j, "id"),      text(j, "name"),       text(j, "icon"),
            text(j, "command"), text(j, "templateId"), danger.get<bool>()};
}

SessionTemplate decodeTemplate(const json& j) {
    return {text(j, "id"), text(j, "name"), text(j, "icon"), text(j, "cwd"), text(j, "program")};
}

// Appends every element of the list under `key` that `decode` accepts.
template <typename Value, typename Decode>
void decodeList(const SalvagedJSON& json, const std::string& key, Decode decode, std::vector<Value>& values,
                std::vector<std::string>& problems) {
    auto elements = json.array(key);
    if (!elements) {
        problems.push_back("no list of " + key);
        return;
    }
    for (std::size_t i = 0; i < elements->size(); ++i) {
        try {
            values.push_back(decode((*elements)[i]));
        } catch (const std::exception& error) {
            problems.push_back("skipped " + key + " " + SalvagedJSON::describe(i, (*elements)[i]) + ": " +
                               error.what());
        }
    }
}

}  // namespace

std::string CommandFile::encode() const {
    json commandArray = json::array();
    for (const auto& c : commands) commandArray.push_back(encodeCommand(c));
    json templateArray = json::array();
    for (const auto& t : templates) templateArray.push_back(encodeTemplate(t));
    // nlohmann's objects keep their keys sorted.
    return json{{"commands", std::move(commandArray)}, {"templates", std::move(templateArray)}}.dump(
               kIndent, ' ', false, json::error_handler_t::replace) +
           "\n";
}

std::optional<CommandFile> CommandFile::decode(std::string_view text) {
    std::vector<std::string> problems;
    auto file = decodeReadable(text, problems);
    if (!problems.empty()) return std::nullopt;
    return file;
}

CommandFile CommandFile::decodeReadable(std::string_view text, std::vector<std::string>& problems) {
    auto json = SalvagedJSON::parse(text);
    if (!json.document) problems.push_back("not complete JSON (" + json.error + ")");
    CommandFile file;
    decodeList(json, "commands", decodeCommand, file.commands, problems);
    decodeList(json, "templates", decodeTemplate, file.templates, problems);
    return file;
}

}  // namespace kx
