#pragma once

#include <functional>
#include <string>

namespace kx {

// Identifier of a feature area; any string is a valid capability.
struct Capability {
    std::string rawValue;

    Capability() = default;
    explicit Capability(std::string raw) : rawValue(std::move(raw)) {}

    friend bool operator==(const Capability&, const Capability&) = default;
    friend auto operator<=>(const Capability&, const Capability&) = default;

    static const Capability inputPointer, inputKey, inputText;
    static const Capability systemVolume, systemBrightness, systemMedia, systemPower;
    static const Capability systemShutdown, systemScreenshot, systemApps, systemNowPlaying;
    static const Capability systemAppsLaunch, sessionTmux, commands;
    static const Capability appChromeTabs, appFinder, appXcode, appSlack, appShortcuts;
    static const Capability agentUpdate, clipboardText, clipboardFile;
};

}  // namespace kx

template <>
struct std::hash<kx::Capability> {
    std::size_t operator()(const kx::Capability& c) const { return std::hash<std::string>{}(c.rawValue); }
};
