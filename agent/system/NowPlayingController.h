#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/system/MediaPlayers.h"
#include "protocol/JSONValue.h"

namespace kx {

// What the desktop's media players are playing. Without state of its own: every question asks the
// players again.
class NowPlayingController {
public:
    struct Track {
        std::string app;  // the player's name
        std::string title, artist, album;
        bool playing = false;
        double position = 0, duration = 0;  // seconds
        bool operator==(const Track&) const = default;
    };

    explicit NowPlayingController(std::shared_ptr<MediaPlayers> players);

    // The track of a playing player, else of the player that changed most recently; players that
    // are stopped or have nothing loaded are passed over.
    std::optional<Track> current();
    // The now-playing object: the track's fields with "hasTrack": true, or
    // {"playing": false, "hasTrack": false}.
    JSONObject currentJSON();

    // The players to ask, best first: those playing, then the others, each group the most recently
    // changed first.
    static std::vector<MediaPlayer> byPreference(std::vector<MediaPlayer> players);

private:
    std::shared_ptr<MediaPlayers> players_;
};

}  // namespace kx
