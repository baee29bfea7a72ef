#pragma once

#include <exception>

namespace kx {

// Why a pairing token was not accepted. The phone only ever learns "Pairing refused".
struct PairingError : std::exception {
    enum class Case { notPairing, unknownToken, tokenExpired, tokenAlreadyUsed, malformedDeviceKey };
    Case which;
    explicit PairingError(Case c) : which(c) {}
    const char* what() const noexcept override;
};

}  // namespace kx
