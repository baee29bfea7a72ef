#pragma once

#include <exception>
#include <string>

namespace kx {

// Why an identity store could not load, save or clear the agent's key.
struct IdentityStoreError : std::exception {
    enum class Case {
        io,            // the storage call failed; `status` holds the platform's error code (errno)
        malformedKey,  // something is stored but it is not a usable 32-byte private key
    };
    Case which;
    int status = 0;
    std::string message;

    IdentityStoreError(Case c, int code, std::string text);
    static IdentityStoreError io(int code, const std::string& context);
    static IdentityStoreError malformedKey(const std::string& context);

    const char* what() const noexcept override { return message.c_str(); }
};

}  // namespace kx
