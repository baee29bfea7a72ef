#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/sessions/SavedCommand.h"
#include "agent/sessions/SessionTemplate.h"

namespace kx {

// The content of "commands.json": {"commands": [...], "templates": [...]}.
struct CommandFile {
    std::vector<SavedCommand> commands;
    std::vector<SessionTemplate> templates;

    // Pretty-printed with sorted keys; invalid UTF-8 in a text is replaced.
    std::string encode() const;
    // Absent when the text is not JSON, either key is missing, or any element lacks a field or
    // has one of the wrong type.
    static std::optional<CommandFile> decode(std::string_view text);
    // Every element that decodes, also from a text cut short; each part that cannot be used
    // (an element, a missing list, the end of the text) is described in `problems`.
    static CommandFile decodeReadable(std::string_view text, std::vector<std::string>& problems);
};

}  // namespace kx
