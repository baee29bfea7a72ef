#include "agent/pairing/PairingError.h"

namespace kx {

const char* PairingError::what() const noexcept {
    switch (which) {
        case Case::notPairing: return "no pairing code is open";
        case Case::unknownToken: return "unknown pairing token";
        case Case::tokenExpired: return "pairing token expired";
        case Case::tokenAlreadyUsed: return "pairing token already used";
        case Case::malformedDeviceKey: return "device key is not an Ed25519 public key";
        case Case::notSaved: return "the paired device could not be saved";
    }
    return "pairing refused";
}

}  // namespace kx
