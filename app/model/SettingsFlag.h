#pragma once

#include <filesystem>
#include <string>

namespace kx {

// One boolean kept in the app's small JSON settings file, beside the keys others keep there
// (which are left as they are). A file that cannot be read counts as the flag being off.
class SettingsFlag {
public:
    SettingsFlag(std::filesystem::path file, std::string key) : file_(std::move(file)), key_(std::move(key)) {}

    bool isSet() const;
    // Throws std::system_error when the file cannot be written.
    void set(bool value) const;

private:
    std::filesystem::path file_;
    std::string key_;
};

}  // namespace kx
