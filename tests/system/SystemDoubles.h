#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/apps/FrontmostSource.h"
#include "agent/system/SystemPorts.h"

namespace kx::test {

// In-memory ports that answer as told and record what they were asked.
struct MemoryAudio : AudioOutput {
    bool works = true;
    AudioReading reading{true, 0.5f, false};
    AudioWrite writes = AudioWrite::done;
    std::vector<float> levels;
    std::vector<bool> mutes;
    std::function<void()> onChange;

    bool available() override { return works; }
    AudioReading read() override { return reading; }
    AudioWrite setVolume(float level) override { return levels.push_back(level), writes; }
    AudioWrite setMuted(bool on) override { return mutes.push_back(on), writes; }
    void startObserving(std::function<void()> callback) override { onChange = std::move(callback); }
    void stopObserving() override { onChange = nullptr; }
};

struct MemoryPlayers : MediaPlayers {
    bool works = true;
    std::vector<MediaPlayer> list;
    std::map<std::string, PlayerTrack> tracks;
    std::vector<std::pair<std::string, MediaCommand>> sent;

    bool available() override { return works; }
    std::vector<MediaPlayer> players() override { return list; }
    std::optional<PlayerTrack> track(const std::string& id) override {
        auto found = tracks.find(id);
        return found == tracks.end() ? std::nullopt : std::optional(found->second);
    }
    bool send(const std::string& id, MediaCommand command) override { return sent.emplace_back(id, command), true; }
};

struct MemoryBrightness : BrightnessControl {
    bool works = true;
    std::vector<bool> steps;  // true: up
    bool available() override { return works; }
    bool step(bool up) override { return steps.push_back(up), works; }
};

struct MemoryPower : PowerTools {
    std::map<Action, PowerResult> results;  // absent: done
    std::vector<Action> performed;
    bool available(Action action) override { return !results.contains(action); }
    PowerResult perform(Action action) override {
        performed.push_back(action);
        return results.contains(action) ? results[action] : PowerResult::done;
    }
};

struct MemoryFrontmost : FrontmostSource {
    std::mutex lock;
    std::optional<FrontmostApp> app;
    std::function<void()> onChange;

    std::optional<FrontmostApp> frontmost() override {
        std::lock_guard guard(lock);
        return app;
    }
    void startObserving(std::function<void()> callback) override { onChange = std::move(callback); }
    void stopObserving() override { onChange = nullptr; }
    void activate(std::optional<FrontmostApp> next) {
        {
            std::lock_guard guard(lock);
            app = std::move(next);
        }
        if (onChange) onChange();
    }
};

}  // namespace kx::test
