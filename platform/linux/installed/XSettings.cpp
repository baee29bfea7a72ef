#include "platform/linux/installed/XSettings.h"

#include <cstdint>

namespace kx {

namespace {

// Reads the settings blob: a byte-order byte, 3 unused, serial, count, then each setting as
// type (1 byte), unused (1), name length (2), name padded to 4, serial (4), value.
class Reader {
public:
    Reader(std::string_view data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

    bool skip(std::size_t bytes) {
        if (bytes > data_.size() - at_) return false;
        at_ += bytes;
        return true;
    }
    std::optional<std::uint32_t> number(std::size_t bytes) {
        if (bytes > data_.size() - at_) return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            auto byte = static_cast<unsigned char>(data_[at_ + (bigEndian_ ? i : bytes - 1 - i)]);
            value = value << 8 | byte;
        }
        at_ += bytes;
        return value;
    }
    std::optional<std::string_view> padded(std::size_t length) {
        if (length > data_.size() - at_) return std::nullopt;
        auto text = data_.substr(at_, length);
        return skip((length + 3) / 4 * 4) ? std::optional(text) : std::nullopt;
    }

private:
    std::string_view data_;
    std::size_t at_ = 0;
    bool bigEndian_;
};

enum SettingType : std::uint32_t { integerSetting = 0, stringSetting = 1, colorSetting = 2 };

}  // namespace

std::optional<std::string> XSettings::parseString(std::string_view data, std::string_view name) {
    if (data.empty()) return std::nullopt;
    Reader reader(data, data[0] != 0);
    if (!reader.skip(8)) return std::nullopt;
    auto count = reader.number(4);
    if (!count) return std::nullopt;
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto type = reader.number(1);
        auto nameLength = reader.skip(1) ? reader.number(2) : std::nullopt;
        auto settingName = nameLength ? reader.padded(*nameLength) : std::nullopt;
        if (!type || !settingName || !reader.skip(4)) return std::nullopt;
        switch (*type) {
            case integerSetting:
                if (!reader.skip(4)) return std::nullopt;
                break;
            case colorSetting:
                if (!reader.skip(8)) return std::nullopt;
                break;
            case stringSetting: {
                auto length = reader.number(4);
                auto value = length ? reader.padded(*length) : std::nullopt;
                if (!value) return std::nullopt;
                if (*settingName == name) return std::string(*value);
                break;
            }
            default: return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace kx
