#pragma once

#include <functional>
#include <string>

namespace kx {

// A named command line that the phone can run in a terminal session.
struct SavedCommand {
    std::string id;          // "c_" + 22 base64url characters when made by the agent
    std::string name;        // label shown on the phone
    std::string icon;        // icon name chosen by the client
    std::string command;     // text typed into the terminal
    std::string templateId;  // session template to run it in
    bool danger = false;     // needs confirmation on the computer before it runs

    friend bool operator==(const SavedCommand&, const SavedCommand&) = default;
};

}  // namespace kx

template <>
struct std::hash<kx::SavedCommand> {
    std::size_t operator()(const kx::SavedCommand& c) const {
        std::hash<std::string> h;
        std::size_t seed = h(c.id);
        for (const auto* field : {&c.name, &c.icon, &c.command, &c.templateId}) seed = seed * 31 + h(*field);
        return seed * 31 + static_cast<std::size_t>(c.danger);
    }
};
