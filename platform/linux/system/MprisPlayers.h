#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <sdbus-c++/IConnection.h>

#include "agent/system/MediaPlayers.h"
#include "platform/linux/power/BusOpener.h"

namespace kx {

// The MPRIS players of the session bus (every "org.mpris.MediaPlayer2.*" name). Players are tracked
// as their names come and go, and each property change a player announces marks it as the one
// changed most recently.
class MprisPlayers : public MediaPlayers {
public:
    static constexpr auto callTimeout = std::chrono::seconds(1);
    static constexpr std::size_t maxPlayers = 64;

    explicit MprisPlayers(BusOpener openBus = sessionBusOpener());
    ~MprisPlayers() override;
    MprisPlayers(const MprisPlayers&) = delete;
    MprisPlayers& operator=(const MprisPlayers&) = delete;

    bool available() override;
    std::vector<MediaPlayer> players() override;
    std::optional<PlayerTrack> track(const std::string& id) override;
    bool send(const std::string& id, MediaCommand command) override;

private:
    struct Known {
        std::string owner;  // the unique name that signals come from
        std::uint64_t changed = 0;
        std::string identity;  // the player's own name, once read (it never changes)
    };
    void watch();
    void appeared(const std::string& name, const std::string& owner);
    void gone(const std::string& name);
    void touched(const std::string& owner);
    std::string identity(const std::string& name);

    // Calls go over one connection, signals arrive on another with a loop of its own.
    std::mutex callLock_;
    std::unique_ptr<sdbus::IConnection> calls_;
    std::unique_ptr<sdbus::IConnection> signals_;
    std::vector<sdbus::Slot> matches_;

    std::mutex lock_;
    std::map<std::string, Known> players_;  // by well-known name
    std::uint64_t clock_ = 0;
};

}  // namespace kx
