#include "agent/pairing/IdentityStoreError.h"

#include <cstring>

namespace kx {

IdentityStoreError::IdentityStoreError(Case c, int code, std::string text)
    : which(c), status(code), message(std::move(text)) {}

IdentityStoreError IdentityStoreError::io(int code, const std::string& context) {
    return {Case::io, code, context + ": " + std::strerror(code)};
}

IdentityStoreError IdentityStoreError::malformedKey(const std::string& context) {
    return {Case::malformedKey, 0, context + ": not a 32-byte private key"};
}

}  // namespace kx
