#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairedDevice.h"
#include "agent/pairing/PairingError.h"

namespace kx {

// Owns the single active one-time pairing token and turns a redeemed token into a paired device.
// Safe from any thread; its lock is never held while the registry's is taken.
class PairingService {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    using Clock = std::function<TimePoint()>;
    using Lifetime = std::chrono::duration<double>;

    struct Token {
        std::string value;
        TimePoint expiresAt;
        friend bool operator==(const Token&, const Token&) = default;
    };
    // One pairing window: the life of one token, from issue until it is redeemed, cancelled,
    // replaced or expired. Generations count up from 1 with every token issued.
    struct Window {
        std::uint64_t generation = 0;
        TimePoint expiresAt;
    };
    // Told (outside the lock, on the thread that closed it) the generation of a window that was
    // redeemed, cancelled or replaced by a new token, or found expired by expireIfDue.
    using WindowClosedObserver = std::function<void(std::uint64_t generation)>;

    static constexpr Lifetime defaultLifetime{60.0};
    static constexpr Lifetime maximumLifetime{3600.0};
    static constexpr const char* lifetimeVariable = "KX_PAIRING_LIFETIME";
    static constexpr std::size_t tokenBytes = 24;
    static constexpr std::size_t deviceIDBytes = 16;
    static constexpr const char* deviceIDPrefix = "d_";

    // KX_PAIRING_LIFETIME as seconds in (0, 3600], read anew on every call; otherwise 60 seconds.
    static Lifetime lifetime();

    explicit PairingService(
        std::shared_ptr<DeviceRegistry> registry, Clock now = [] { return std::chrono::system_clock::now(); });

    // A new active token (the previous one becomes unknown).
    Token issueToken();
    // True while a token is active and unexpired.
    bool isPairing() const;
    // The window of the active, unexpired token.
    std::optional<Window> openWindow() const;
    void addWindowClosedObserver(WindowClosedObserver observer);
    void cancel();
    // Clears an expired token in one step (so a token issued meanwhile is never cancelled);
    // true when no unexpired token is left.
    bool expireIfDue();
    // The active token, expired or not.
    std::optional<Token> activeToken() const;

    // Checks the token, consumes it and registers the new device; throws PairingError and
    // changes nothing when a check fails. A device that cannot be saved is not registered
    // (notSaved), and its token stays spent.
    PairedDevice redeem(const std::string& token, const std::string& deviceName, const std::string& devicePublicKey,
                        const std::string& platform);

    TimePoint now() const { return now_(); }

private:
    void notifyClosed(std::optional<std::uint64_t> generation) const;
    // Sets `generation` to the window it closes.
    PairedDevice admit(const std::string& token, const std::string& deviceName, const std::string& devicePublicKey,
                       const std::string& platform, std::uint64_t& generation);

    const std::shared_ptr<DeviceRegistry> registry_;
    const Clock now_;
    mutable std::mutex lock_;
    std::optional<Token> active_;
    std::uint64_t generation_ = 0;  // of the active token, or of the last one issued
    std::vector<WindowClosedObserver> observers_;
    std::set<std::string> consumed_;
};

}  // namespace kx
