#include "agent/pairing/PairingService.h"

#include <sodium.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "protocol/Base64URL.h"

namespace kx {

namespace {

Bytes randomBytes(std::size_t count) {
    if (::sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
    Bytes bytes(count);
    ::randombytes_buf(bytes.data(), bytes.size());
    return bytes;
}

// Constant time, so that response timing says nothing about how much of a guess was right.
bool sameToken(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool isEd25519PublicKey(const std::string& text) {
    auto bytes = base64URLDecode(text);
    if (!bytes || bytes->size() != crypto_sign_PUBLICKEYBYTES) return false;
    // Off-curve and small-order points could never verify a signature: refuse them now.
    return ::sodium_init() >= 0 && ::crypto_core_ed25519_is_valid_point(bytes->data()) == 1;
}

}  // namespace

PairingService::Lifetime PairingService::lifetime() {
    const char* text = std::getenv(lifetimeVariable);
    if (!text || !*text) return defaultLifetime;
    const char* end = text + std::strlen(text);
    double seconds = 0;
    auto [stop, error] = std::from_chars(text, end, seconds);
    // NaN fails both comparisons, infinity the upper bound.
    if (error != std::errc() || stop != end || !(seconds > 0) || !(seconds <= maximumLifetime.count()))
        return defaultLifetime;
    return Lifetime(seconds);
}

PairingService::PairingService(std::shared_ptr<DeviceRegistry> registry, Clock now)
    : registry_(std::move(registry)), now_(std::move(now)) {}

PairingService::Token PairingService::issueToken() {
    Token token{base64URLEncode(randomBytes(tokenBytes)),
                now_() + std::chrono::duration_cast<std::chrono::system_clock::duration>(lifetime())};
    std::optional<std::uint64_t> replaced;
    {
        std::lock_guard guard(lock_);
        if (active_) replaced = generation_;
        active_ = token;
        ++generation_;
    }
    notifyClosed(replaced);
    return token;
}

bool PairingService::isPairing() const {
    std::lock_guard guard(lock_);
    return active_ && active_->expiresAt > now_();
}

std::optional<PairingService::Window> PairingService::openWindow() const {
    std::lock_guard guard(lock_);
    if (!active_ || !(active_->expiresAt > now_())) return std::nullopt;
    return Window{generation_, active_->expiresAt};
}

void PairingService::addWindowClosedObserver(WindowClosedObserver observer) {
    std::lock_guard guard(lock_);
    observers_.push_back(std::move(observer));
}

void PairingService::notifyClosed(std::optional<std::uint64_t> generation) const {
    if (!generation) return;
    std::vector<WindowClosedObserver> observers;
    {
        std::lock_guard guard(lock_);
        observers = observers_;
    }
    for (const auto& observer : observers) observer(*generation);
}

void PairingService::cancel() {
    std::optional<std::uint64_t> closed;
    {
        std::lock_guard guard(lock_);
        if (active_) closed = generation_;
        active_.reset();
    }
    notifyClosed(closed);
}

bool PairingService::expireIfDue() {
    std::optional<std::uint64_t> closed;
    {
        std::lock_guard guard(lock_);
        if (active_ && active_->expiresAt > now_()) return false;
        if (active_) closed = generation_;
        active_.reset();
    }
    notifyClosed(closed);
    return true;
}

std::optional<PairingService::Token> PairingService::activeToken() const {
    std::lock_guard guard(lock_);
    return active_;
}

PairedDevice PairingService::redeem(const std::string& token, const std::string& deviceName,
                                    const std::string& devicePublicKey, const std::string& platform) {
    std::uint64_t generation = 0;
    auto device = admit(token, deviceName, devicePublicKey, platform, generation);
    // Outside the pairing lock: the registry takes its own and writes the file.
    // The window ends whether or not the record could be kept: the token is spent either way.
    bool saved = false;
    try {
        saved = registry_->registerDevice(device);
    } catch (...) {
        notifyClosed(generation);
        throw;
    }
    notifyClosed(generation);
    if (!saved) throw PairingError(PairingError::Case::notSaved);
    return device;
}

PairedDevice PairingService::admit(const std::string& token, const std::string& deviceName,
                                   const std::string& devicePublicKey, const std::string& platform,
                                   std::uint64_t& generation) {
    std::lock_guard guard(lock_);
    const auto now = now_();
    if (!active_) throw PairingError(PairingError::Case::notPairing);
    if (consumed_.count(token)) throw PairingError(PairingError::Case::tokenAlreadyUsed);
    if (!sameToken(token, active_->value)) throw PairingError(PairingError::Case::unknownToken);
    if (!(active_->expiresAt > now)) throw PairingError(PairingError::Case::tokenExpired);
    if (!isEd25519PublicKey(devicePublicKey)) throw PairingError(PairingError::Case::malformedDeviceKey);
    consumed_.insert(token);
    active_.reset();
    generation = generation_;
    return PairedDevice{deviceIDPrefix + base64URLEncode(randomBytes(deviceIDBytes)),
                        deviceName,
                        devicePublicKey,
                        now,
                        std::nullopt,
                        platform};
}

}  // namespace kx
