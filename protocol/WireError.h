#pragma once

#include <exception>
#include <optional>
#include <string>

#include "protocol/ErrorCode.h"
#include "protocol/JSONValue.h"

namespace kx {

// An error as the phone sees it; handlers throw it directly.
struct WireError : std::exception {
    ErrorCode code = ErrorCode::internal;
    std::string msg;
    std::optional<JSONObject> p;

    WireError() = default;
    WireError(ErrorCode c, std::string m, std::optional<JSONObject> params = std::nullopt)
        : code(c), msg(std::move(m)), p(std::move(params)) {}

    const char* what() const noexcept override { return msg.c_str(); }

    JSONValue toJSON() const;
    // Throws JSONDecodeError when code or msg is missing or the code is unknown.
    static WireError fromJSON(const JSONValue& value);

    friend bool operator==(const WireError& a, const WireError& b) {
        return a.code == b.code && a.msg == b.msg && a.p == b.p;
    }

    // Shorthands used across the method families.
    static WireError invalidParams(std::string m) { return {ErrorCode::invalidParams, std::move(m)}; }
    static WireError internalError() { return {ErrorCode::internal, "Internal error"}; }
};

}  // namespace kx
