#pragma once

#include <functional>
#include <string>

namespace kx {

// A recipe for starting a terminal session.
struct SessionTemplate {
    std::string id;       // "t_" + 22 base64url characters when made by the agent
    std::string name;     // label
    std::string icon;     // icon name
    std::string cwd;      // working directory of a new session
    std::string program;  // started in the session; empty means the login shell

    friend bool operator==(const SessionTemplate&, const SessionTemplate&) = default;
};

}  // namespace kx

template <>
struct std::hash<kx::SessionTemplate> {
    std::size_t operator()(const kx::SessionTemplate& t) const {
        std::hash<std::string> h;
        std::size_t seed = h(t.id);
        for (const auto* field : {&t.name, &t.icon, &t.cwd, &t.program}) seed = seed * 31 + h(*field);
        return seed;
    }
};
