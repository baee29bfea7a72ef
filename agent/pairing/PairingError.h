#pragma once

#include <exception>

namespace kx {

// Why a pairing was not accepted. Of a refused token the phone only ever learns "Pairing refused".
struct PairingError : std::exception {
    enum class Case { notPairing, unknownToken, tokenExpired, tokenAlreadyUsed, malformedDeviceKey, notSaved };
    Case which;
    explicit PairingError(Case c) : which(c) {}
    const char* what() const noexcept override;
};

}  // namespace kx
