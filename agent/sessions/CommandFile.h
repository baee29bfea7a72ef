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

    // Pretty-printed with sorted keys.
    std::string encode() const;
    // Absent when the text is not JSON, either key is missing, or any element lacks a field or
    // has one of the wrong type.
    static std::optional<CommandFile> decode(std::string_view text);
};

}  // namespace kx
