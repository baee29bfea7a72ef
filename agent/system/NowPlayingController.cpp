#include "agent/system/NowPlayingController.h"

#include <algorithm>

#include "agent/support/UTF8.h"

namespace kx {

NowPlayingController::NowPlayingController(std::shared_ptr<MediaPlayers> players) : players_(std::move(players)) {}

std::vector<MediaPlayer> NowPlayingController::byPreference(std::vector<MediaPlayer> players) {
    std::stable_sort(players.begin(), players.end(), [](const MediaPlayer& a, const MediaPlayer& b) {
        bool aPlays = a.status == PlaybackStatus::playing, bPlays = b.status == PlaybackStatus::playing;
        if (aPlays != bPlays) return aPlays;
        return a.changed > b.changed;
    });
    return players;
}

std::optional<NowPlayingController::Track> NowPlayingController::current() {
    if (!players_) return std::nullopt;
    for (const MediaPlayer& player : byPreference(players_->players())) {
        auto track = players_->track(player.id);
        if (!track || track->status == PlaybackStatus::stopped) continue;
        return Track{repairUTF8(player.name),
                     repairUTF8(track->title),
                     repairUTF8(track->artist),
                     repairUTF8(track->album),
                     track->status == PlaybackStatus::playing,
                     track->position,
                     track->duration};
    }
    return std::nullopt;
}

JSONObject NowPlayingController::currentJSON() {
    auto track = current();
    if (!track) return {{"playing", false}, {"hasTrack", false}};
    return {{"hasTrack", true},
            {"app", track->app},
            {"title", track->title},
            {"artist", track->artist},
            {"album", track->album},
            {"playing", track->playing},
            {"position", track->position},
            {"duration", track->duration}};
}

}  // namespace kx
