#include "platform/linux/system/Backlight.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

namespace kx {

namespace {

std::optional<std::string> firstWord(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string word;
    if (!(in >> word)) return std::nullopt;
    return word;
}

std::optional<std::uint32_t> number(const std::filesystem::path& file) {
    auto word = firstWord(file);
    if (!word) return std::nullopt;
    try {
        unsigned long value = std::stoul(*word);
        if (value > UINT32_MAX) return std::nullopt;
        return static_cast<std::uint32_t>(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int rank(const std::string& type) {
    if (type == "firmware") return 0;
    if (type == "platform") return 1;
    if (type == "raw") return 2;
    return 3;
}

}  // namespace

std::optional<Backlight> Backlight::best(const std::filesystem::path& root) {
    std::vector<std::pair<int, Backlight>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
        auto maximum = number(entry.path() / "max_brightness");
        auto brightness = number(entry.path() / "brightness");
        if (!maximum || *maximum == 0 || !brightness) continue;
        int kind = rank(firstWord(entry.path() / "type").value_or(""));
        found.push_back({kind, {entry.path().filename().string(), std::min(*brightness, *maximum), *maximum}});
    }
    if (found.empty()) return std::nullopt;
    return std::min_element(found.begin(), found.end(),
                            [](const auto& a, const auto& b) {
                                return std::tie(a.first, a.second.name) < std::tie(b.first, b.second.name);
                            })
        ->second;
}

std::uint32_t Backlight::stepped(bool up) const {
    std::uint32_t step = std::max<std::uint32_t>(1, (maximum + stepsInRange - 1) / stepsInRange);
    if (up) return maximum - brightness <= step ? maximum : brightness + step;
    // Down stops at the lowest lit level: at 0 many panels go dark, and the phone's user is away.
    return brightness <= step + 1 ? std::min<std::uint32_t>(brightness, 1) : brightness - step;
}

}  // namespace kx
