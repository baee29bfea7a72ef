#include "protocol/EnvelopeReader.h"

#include <cmath>
#include <limits>

namespace kx {

namespace {

constexpr double int64Bound = 9.2e18;  // integral doubles below this fit an int64
constexpr std::string_view slotNames[] = {"v", "t", "id", "m", "p", "ok", "e", "seq"};

}  // namespace

std::int64_t EnvelopeReader::integerOf(const Field& field, const char* what) {
    if (field.kind == Field::Kind::integer) return field.integer;
    if (field.kind == Field::Kind::floating && std::trunc(field.floating) == field.floating &&
        std::fabs(field.floating) < int64Bound)
        return static_cast<std::int64_t>(field.floating);
    throw JSONDecodeError(std::string(what) + " is not an integer");
}

std::string EnvelopeReader::stringOf(Field& field, const char* what) {
    if (field.kind != Field::Kind::string) throw JSONDecodeError(std::string(what) + " is not a string");
    return std::move(field.text);
}

EnvelopeReader::Field* EnvelopeReader::present(Slot slot) {
    auto& field = fields_[slot];
    return field && field->kind != Field::Kind::null ? &*field : nullptr;
}

Envelope EnvelopeReader::build() {
    Field* version = present(v);
    Field* kind = present(t);
    if (!version || !kind) throw JSONDecodeError("envelope needs v and t");
    Envelope env;
    env.v = integerOf(*version, "v");
    auto messageKind = messageKindFromWire(stringOf(*kind, "t"));
    if (!messageKind) throw JSONDecodeError("unknown message kind");
    env.t = *messageKind;
    if (Field* f = present(id)) env.id = stringOf(*f, "id");
    if (Field* f = present(m)) env.m = stringOf(*f, "m");
    if (Field* f = present(p)) {
        if (f->kind != Field::Kind::container || !f->container.isObject()) throw JSONDecodeError("p is not an object");
        env.p = std::move(f->container.asObject());
    }
    if (Field* f = present(ok)) {
        if (f->kind != Field::Kind::boolean) throw JSONDecodeError("ok is not a boolean");
        env.ok = f->boolean;
    }
    if (Field* f = present(e)) {
        if (f->kind != Field::Kind::container) throw JSONDecodeError("error is not an object");
        env.e = WireError::fromJSON(f->container);
    }
    if (Field* f = present(seq)) {
        const std::int64_t sequence = integerOf(*f, "seq");
        if (sequence < 0) throw JSONDecodeError("seq is negative");
        env.seq = static_cast<std::uint64_t>(sequence);
    }
    return env;
}

Envelope EnvelopeReader::read(std::string_view text) {
    EnvelopeReader reader;
    if (!nlohmann::json::sax_parse(text, &reader)) throw JSONDecodeError(reader.failure_);
    return reader.build();
}

bool EnvelopeReader::topLevel(Field field) {
    if (depth_ == 0) {
        failure_ = "envelope is not an object";
        return false;
    }
    if (slot_) fields_[*slot_] = std::move(field);
    return true;
}

bool EnvelopeReader::null() {
    return depth_ > 1 ? builder_.value(nullptr) : topLevel(Field{});
}

bool EnvelopeReader::boolean(bool value) {
    if (depth_ > 1) return builder_.value(value);
    Field field;
    field.kind = Field::Kind::boolean;
    field.boolean = value;
    return topLevel(std::move(field));
}

bool EnvelopeReader::number_integer(json::number_integer_t value) {
    if (depth_ > 1) return builder_.value(static_cast<double>(value));
    Field field;
    field.kind = Field::Kind::integer;
    field.integer = value;
    return topLevel(std::move(field));
}

bool EnvelopeReader::number_unsigned(json::number_unsigned_t value) {
    if (depth_ > 1) return builder_.value(static_cast<double>(value));
    Field field;
    const bool fits = value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    field.kind = fits ? Field::Kind::integer : Field::Kind::outOfRange;
    field.integer = fits ? static_cast<std::int64_t>(value) : 0;
    return topLevel(std::move(field));
}

bool EnvelopeReader::number_float(json::number_float_t value, const std::string&) {
    if (depth_ > 1) return builder_.value(value);
    Field field;
    field.kind = Field::Kind::floating;
    field.floating = value;
    return topLevel(std::move(field));
}

bool EnvelopeReader::string(std::string& value) {
    if (depth_ > 1) return builder_.value(std::move(value));
    Field field;
    field.kind = Field::Kind::string;
    field.text = std::move(value);
    return topLevel(std::move(field));
}

bool EnvelopeReader::binary(json::binary_t&) {
    failure_ = "Unrepresentable JSON value";  // JSON text never yields binary values
    return false;
}

bool EnvelopeReader::start_object(std::size_t) {
    return startContainer(true);
}

bool EnvelopeReader::start_array(std::size_t) {
    return startContainer(false);
}

bool EnvelopeReader::startContainer(bool isObject) {
    if (depth_ == 0 && !isObject) {
        failure_ = "envelope is not an object";
        return false;
    }
    if (depth_ >= 1 && !(isObject ? builder_.startObject() : builder_.startArray())) {
        failure_ = "JSON nested too deeply";
        return false;
    }
    ++depth_;
    return true;
}

bool EnvelopeReader::key(std::string& value) {
    if (depth_ > 1) {
        builder_.key(std::move(value));
        return true;
    }
    slot_.reset();
    for (int i = 0; i < slotCount; ++i)
        if (value == slotNames[i]) slot_ = static_cast<Slot>(i);
    return true;
}

bool EnvelopeReader::end_object() {
    return endContainer();
}

bool EnvelopeReader::end_array() {
    return endContainer();
}

bool EnvelopeReader::endContainer() {
    --depth_;
    if (depth_ == 0) return true;  // the envelope itself
    builder_.endContainer();
    if (depth_ > 1) return true;
    Field field;
    field.kind = Field::Kind::container;
    field.container = builder_.take();
    return topLevel(std::move(field));
}

bool EnvelopeReader::parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    failure_ = error.what();
    return false;
}

}  // namespace kx
