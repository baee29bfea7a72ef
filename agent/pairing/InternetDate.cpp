#include "agent/pairing/InternetDate.h"

#include <algorithm>
#include <cstdio>

namespace kx {

namespace {

using namespace std::chrono;

constexpr std::size_t kDateTimeLength = 19;  // YYYY-MM-DDTHH:MM:SS
constexpr std::size_t kOffsetLength = 6;     // +HH:MM
// The times a date may name: those the system clock can hold (years 1677 to 2262 with its
// nanoseconds) and whose UTC year the form can write in four digits.
constexpr auto kEarliest =
    std::max(ceil<seconds>(system_clock::time_point::min()), sys_seconds(sys_days(year(0) / 1 / 1)));
constexpr auto kLatest = std::min(floor<seconds>(system_clock::time_point::max()),
                                  sys_seconds(sys_days(year(9999) / 12 / 31)) + days(1) - seconds(1));

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
    const auto second = floor<seconds>(time);
    const auto day = floor<days>(second);
    const year_month_day date(day);
    const hh_mm_ss clock(second - day);
    char text[sizeof "-YYYYYYYYYY-MM-DDTHH:MM:SSZ"];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
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
    if (time < kEarliest || time > kLatest) return std::nullopt;
    return time_point_cast<system_clock::duration>(time);
}

}  // namespace kx
