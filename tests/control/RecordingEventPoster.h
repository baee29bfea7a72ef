#pragma once

#include <mutex>
#include <variant>
#include <vector>

#include "agent/control/EventPoster.h"

namespace kx::test {

// In-memory EventPoster: records what was posted, with a settable pointer, screens and permission.
class RecordingEventPoster : public EventPoster {
public:
    struct Flush {
        friend bool operator==(const Flush&, const Flush&) = default;
    };
    using Posted = std::variant<MouseEvent, ScrollEvent, KeyEvent, std::u16string, Flush>;

    bool trusted = true;
    std::optional<Point> location = Point{100, 100};
    std::vector<Rect> screens = {{0, 0, 1440, 900}};

    bool mayInjectInput() override { return trusted; }
    void postMouse(const MouseEvent& event) override { record(event); }
    void postScroll(const ScrollEvent& event) override { record(event); }
    void postKey(const KeyEvent& event) override { record(event); }
    void postText(const std::u16string& text) override { record(text); }
    void flush() override { record(Flush{}); }
    std::optional<Point> pointerLocation() override { return location; }
    std::vector<Rect> screenFrames() override { return screens; }

    std::vector<Posted> posted() const {
        std::lock_guard guard(lock_);
        return posted_;
    }
    // The posted events of one kind, in order.
    template <class T>
    std::vector<T> all() const {
        std::vector<T> out;
        for (const auto& p : posted())
            if (auto* v = std::get_if<T>(&p)) out.push_back(*v);
        return out;
    }

private:
    void record(Posted p) {
        std::lock_guard guard(lock_);
        posted_.push_back(std::move(p));
    }

    mutable std::mutex lock_;
    std::vector<Posted> posted_;
};

}  // namespace kx::test
