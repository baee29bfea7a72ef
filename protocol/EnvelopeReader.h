#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "protocol/Envelope.h"
#include "protocol/JSONValueBuilder.h"

namespace kx {

// Decodes envelope text in one pass over nlohmann's parser events: the top-level keys are read
// as they arrive and only p and e become JSONValue trees. Behaves as parsing the whole document
// and then reading its keys would (duplicate keys: the last wins; null reads as absent).
class EnvelopeReader {
public:
    // Throws JSONDecodeError.
    static Envelope read(std::string_view text);

    // nlohmann's SAX interface.
    using json = nlohmann::json;
    bool null();
    bool boolean(bool value);
    bool number_integer(json::number_integer_t value);
    bool number_unsigned(json::number_unsigned_t value);
    bool number_float(json::number_float_t value, const std::string& text);
    bool string(std::string& value);
    bool binary(json::binary_t& value);
    bool start_object(std::size_t elements);
    bool key(std::string& value);
    bool end_object();
    bool start_array(std::size_t elements);
    bool end_array();
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& error);

private:
    // One top-level value, kept with its exact JSON type.
    struct Field {
        enum class Kind { null, boolean, integer, outOfRange, floating, string, container };
        Kind kind = Kind::null;
        bool boolean = false;
        std::int64_t integer = 0;
        double floating = 0;
        std::string text;
        JSONValue container;
    };
    enum Slot { v, t, id, m, p, ok, e, seq, slotCount };

    static std::int64_t integerOf(const Field& field, const char* what);
    static std::string stringOf(Field& field, const char* what);
    Field* present(Slot slot);
    bool topLevel(Field field);
    bool startContainer(bool isObject);
    bool endContainer();
    Envelope build();

    std::array<std::optional<Field>, slotCount> fields_;
    std::optional<Slot> slot_;  // where the current top-level key's value goes; none for unknown keys
    std::size_t depth_ = 0;     // 1 inside the envelope object
    JSONValueBuilder builder_;
    std::string failure_;
};

}  // namespace kx
