#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

enum class PlaybackStatus { playing, paused, stopped };

// A media player running on this computer, as the player list reports it.
struct MediaPlayer {
    std::string id;    // how the list addresses it
    std::string name;  // what the person calls it, e.g. "mpv"
    PlaybackStatus status = PlaybackStatus::stopped;
    std::uint64_t changed = 0;  // grows each time any player changes; higher is more recent
    bool operator==(const MediaPlayer&) const = default;
};

// What a player is playing, as it reports it.
struct PlayerTrack {
    std::string title, artist, album;
    PlaybackStatus status = PlaybackStatus::stopped;
    double position = 0;  // seconds
    double duration = 0;  // seconds
    bool operator==(const PlayerTrack&) const = default;
};

enum class MediaCommand { playPause, next, previous };

// The media players of the desktop session.
class MediaPlayers {
public:
    virtual ~MediaPlayers() = default;
    // Whether players can be reached on this computer at all (decides whether media is offered).
    virtual bool available() = 0;
    virtual std::vector<MediaPlayer> players() = 0;
    // None when the player is gone or has nothing loaded.
    virtual std::optional<PlayerTrack> track(const std::string& id) = 0;
    // False when the player is gone or refused.
    virtual bool send(const std::string& id, MediaCommand command) = 0;
};

}  // namespace kx
