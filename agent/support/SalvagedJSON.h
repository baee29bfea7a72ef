#pragma once

#include <cstddef>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// JSON text parsed as far as it goes. When the text is cut short or breaks part-way, the objects that were complete
// in the top-level arrays are still at hand, so that a damaged state file keeps what can be read.
struct SalvagedJSON {
    std::optional<nlohmann::json> document;  // the whole text, when it parses
    std::string error;                       // why it does not
    // Complete objects of the top-level array (key "") or of an array under a key of the top-level object.
    std::map<std::string, std::vector<nlohmann::json>> objects;

    static SalvagedJSON parse(std::string_view text);

    // The elements of the top-level array (`key` empty) or of the array under `key` in the top-level object: all of
    // them when the text parsed, else the complete objects seen before it broke. Absent when the parsed text has no
    // such array.
    std::optional<std::vector<nlohmann::json>> array(const std::string& key) const;

    // "entry 3 (id "d_x")" for log lines: the id is shortened and made valid UTF-8.
    static std::string describe(std::size_t index, const nlohmann::json& element);
};

}  // namespace kx
