#include "agent/shortcuts/ShortcutChord.h"

#include <vector>

#include "agent/support/ASCIILowercase.h"
#include "protocol/WireError.h"

namespace kx::ShortcutChord {

namespace {

WireError unsupported() {
    return WireError::invalidParams("That shortcut is not supported");
}

}  // namespace

const std::set<std::string>& allowedKeys() {
    static const std::set<std::string> keys = [] {
        std::set<std::string> names;
        for (char c = 'a'; c <= 'z'; ++c) names.insert(std::string(1, c));
        for (char c = '0'; c <= '9'; ++c) names.insert(std::string(1, c));
        for (const char* punctuation : {"`", "-", "=", "[", "]", "\\", ";", "'", ",", ".", "/"})
            names.insert(punctuation);
        for (int f = 1; f <= 20; ++f) names.insert("f" + std::to_string(f));
        for (const char* name : {"enter", "escape", "tab", "space", "backspace", "delete", "home", "end", "pageup",
                                 "pagedown", "up", "down", "left", "right"})
            names.insert(name);
        return names;
    }();
    return keys;
}

KeyChord validate(const std::string& chord) {
    const std::string lower = asciiLowercase(chord);
    // Every "+" splits, so a trailing one leaves an empty last part, which is no allowed key.
    std::vector<std::string> parts{""};
    for (char c : lower) {
        if (c == '+')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (!allowedKeys().contains(parts.back())) throw unsupported();
    if (parts.back() == "delete") parts.back() = "forwarddelete";

    std::string joined = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) joined += "+" + parts[i];
    try {
        return KeyChord::parse(joined);
    } catch (const KeyChordError&) {
        throw unsupported();
    }
}

}  // namespace kx::ShortcutChord
