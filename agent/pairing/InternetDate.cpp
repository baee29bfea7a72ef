#include "agent/pairing/InternetDate.h"

#include <charconv>
#include <ctime>

namespace kx {

namespace {

using namespace std::chrono;

constexpr std::size_t kDateTimeLength = 19;  // YYYY-MM-DDTHH:MM:SS
constexpr std::size_t kOffsetLength = 6;     // +HH:MM

// Reads exactly `width` digits at `pos`.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t width) {
    if (pos + width > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool separatorsMatch(std::string_view text) {
    return text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' && text[16] == ':';
}

// Seconds east of UTC for "Z" or "+HH:MM"/"-HH:MM"; absent for anything else.
std::optional<int> offsetSeconds(std::string_view zone) {
    if (zone == "Z") return 0;
    if (zone.size() != kOffsetLength || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') return std::nullopt;
    auto hours = digits(zone, 1, 2);
    auto minutes = digits(zone, 4, 2);
    if (!hours || !minutes || *hours > 23 || *minutes > 59) return std::nullopt;
    int seconds = (*hours * 60 + *minutes) * 60;
    return zone[0] == '+' ? seconds : -seconds;
}

}  // namespace

std::string formatInternetDate(system_clock::time_point time) {
    const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(time));
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[sizeof "YYYY-MM-DDTHH:MM:SSZ" + 8];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::optional<system_clock::time_point> parseInternetDate(std::string_view text) {
    if (text.size() <= kDateTimeLength || !separatorsMatch(text)) return std::nullopt;
    auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    auto offset = offsetSeconds(text.substr(kDateTimeLength));
    if (!year || !month || !day || !hour || !minute || !second || !offset) return std::nullopt;
    const year_month_day date{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                              std::chrono::day(static_cast<unsigned>(*day))};
    // A leap second (":60") is allowed by the format and lands on the next second.
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
    const auto time = sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second) - seconds(*offset);
    return time_point_cast<system_clock::duration>(time);
}

}  // namespace kx
