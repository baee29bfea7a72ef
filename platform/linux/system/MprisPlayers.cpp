#include "platform/linux/system/MprisPlayers.h"

#include <sdbus-c++/sdbus-c++.h>

#include <exception>

#include "platform/linux/power/BusMethod.h"

namespace kx {

namespace {

constexpr const char* kPrefix = "org.mpris.MediaPlayer2.";
constexpr const char* kPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRoot = "org.mpris.MediaPlayer2";
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kBus = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr double kMicroseconds = 1e6;

bool isPlayerName(const std::string& name) {
    return name.rfind(kPrefix, 0) == 0 && name.size() > std::char_traits<char>::length(kPrefix);
}

PlaybackStatus statusFrom(const std::string& text) {
    if (text == "Playing") return PlaybackStatus::playing;
    if (text == "Paused") return PlaybackStatus::paused;
    return PlaybackStatus::stopped;
}

const char* methodFor(MediaCommand command) {
    switch (command) {
        case MediaCommand::playPause: return "PlayPause";
        case MediaCommand::next: return "Next";
        case MediaCommand::previous: return "Previous";
    }
    return "PlayPause";
}

using Properties = std::map<std::string, sdbus::Variant>;

template <typename T>
std::optional<T> value(const Properties& properties, const std::string& key) {
    auto found = properties.find(key);
    if (found == properties.end() || !found->second.containsValueOfType<T>()) return std::nullopt;
    return found->second.get<T>();
}

// Players send integers of more than one width here; any of them is a count of microseconds.
double seconds(const Properties& properties, const std::string& key) {
    if (auto v = value<std::int64_t>(properties, key)) return static_cast<double>(*v) / kMicroseconds;
    if (auto v = value<std::uint64_t>(properties, key)) return static_cast<double>(*v) / kMicroseconds;
    if (auto v = value<std::int32_t>(properties, key)) return static_cast<double>(*v) / kMicroseconds;
    return 0;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

}  // namespace

MprisPlayers::MprisPlayers(BusOpener openBus) {
    try {
        calls_ = openBus();
        signals_ = openBus();
        watch();
    } catch (const std::exception&) {
        // No session bus: no players, and media is not offered.
        matches_.clear();
        signals_.reset();
        calls_.reset();
    }
}

MprisPlayers::~MprisPlayers() {
    if (signals_) signals_->leaveEventLoop();
    matches_.clear();
}

void MprisPlayers::watch() {
    // Watch first, then list, so that no player slips between the two.
    matches_.push_back(signals_->addMatch(
        std::string("type='signal',sender='") + kBus + "',member='NameOwnerChanged',arg0namespace='" + kRoot + "'",
        [this](sdbus::Message& message) {
            std::string name, oldOwner, newOwner;
            message >> name >> oldOwner >> newOwner;
            if (!isPlayerName(name)) return;
            if (newOwner.empty())
                gone(name);
            else
                appeared(name, newOwner);
        }));
    matches_.push_back(signals_->addMatch(
        std::string("type='signal',interface='") + kProperties + "',member='PropertiesChanged',path='" + kPath + "'",
        [this](sdbus::Message& message) { touched(message.getSender()); }));
    signals_->enterEventLoopAsync();

    std::vector<std::string> names;
    std::lock_guard calling(callLock_);
    auto bus = sdbus::createProxy(*calls_, kBus, kBusPath);
    bus->callMethod("ListNames").onInterface(kBus).withTimeout(callTimeout).storeResultsTo(names);
    for (const auto& name : names) {
        if (!isPlayerName(name)) continue;
        auto owner = askBusMethod<std::string>(*calls_, {kBus, kBusPath, kBus, "GetNameOwner"}, callTimeout, name);
        if (owner) appeared(name, *owner);  // absent: gone since the list was made
    }
}

void MprisPlayers::appeared(const std::string& name, const std::string& owner) {
    std::lock_guard guard(lock_);
    if (!players_.contains(name) && players_.size() >= maxPlayers) return;
    players_[name] = {owner, ++clock_, {}};
}

void MprisPlayers::gone(const std::string& name) {
    std::lock_guard guard(lock_);
    players_.erase(name);
}

void MprisPlayers::touched(const std::string& owner) {
    std::lock_guard guard(lock_);
    for (auto& [name, known] : players_)
        if (known.owner == owner) known.changed = ++clock_;
}

bool MprisPlayers::available() {
    return calls_ != nullptr;
}

std::vector<MediaPlayer> MprisPlayers::players() {
    std::vector<MediaPlayer> list;
    {
        std::lock_guard guard(lock_);
        for (const auto& [name, known] : players_) list.push_back({name, "", PlaybackStatus::stopped, known.changed});
    }
    if (!calls_) return list;
    for (auto& player : list) {
        player.name = identity(player.id);
        auto status = track(player.id);
        player.status = status ? status->status : PlaybackStatus::stopped;
    }
    return list;
}

std::string MprisPlayers::identity(const std::string& id) {
    std::string owner;
    {
        std::lock_guard guard(lock_);
        auto known = players_.find(id);
        if (known == players_.end()) return id.substr(std::char_traits<char>::length(kPrefix));
        if (!known->second.identity.empty()) return known->second.identity;
        owner = known->second.owner;
    }
    std::optional<sdbus::Variant> name;
    {
        std::lock_guard calling(callLock_);
        name = askBusMethod<sdbus::Variant>(*calls_, {id, kPath, kProperties, "Get"}, callTimeout, kRoot, "Identity");
    }
    if (name && name->containsValueOfType<std::string>() && !name->get<std::string>().empty()) {
        // Kept only for the program that answered: a new owner of the name is asked again.
        std::lock_guard guard(lock_);
        if (auto known = players_.find(id); known != players_.end() && known->second.owner == owner)
            known->second.identity = name->get<std::string>();
        return name->get<std::string>();
    }
    return id.substr(std::char_traits<char>::length(kPrefix));  // the name's own last part
}

std::optional<PlayerTrack> MprisPlayers::track(const std::string& id) {
    if (!calls_) return std::nullopt;
    std::optional<Properties> all;
    {
        std::lock_guard calling(callLock_);
        all = askBusMethod<Properties>(*calls_, {id, kPath, kProperties, "GetAll"}, callTimeout, kPlayer);
    }
    if (!all) return std::nullopt;
    const Properties& properties = *all;
    PlayerTrack track;
    track.status = statusFrom(value<std::string>(properties, "PlaybackStatus").value_or(""));
    // Position is never announced, only read: this is the value of this moment.
    track.position = seconds(properties, "Position");
    auto metadata = value<Properties>(properties, "Metadata").value_or(Properties{});
    track.title = value<std::string>(metadata, "xesam:title").value_or("");
    track.artist =
        joined(value<std::vector<std::string>>(metadata, "xesam:artist").value_or(std::vector<std::string>{}));
    track.album = value<std::string>(metadata, "xesam:album").value_or("");
    track.duration = seconds(metadata, "mpris:length");
    return track;
}

bool MprisPlayers::send(const std::string& id, MediaCommand command) {
    if (!calls_) return false;
    std::lock_guard calling(callLock_);
    return callBusMethod(*calls_, {id, kPath, kPlayer, methodFor(command)}, callTimeout);
}

}  // namespace kx
