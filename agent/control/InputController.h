#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "agent/control/EventPoster.h"
#include "agent/control/InputMutex.h"
#include "agent/control/KeyChord.h"

namespace kx {

// Turns the phone's pointer, key and text requests into input events. Every operation checks the
// accessibility permission first and throws WireError; pointer and text input is dropped while
// the input mutex is held. Each operation returns after its events reached the display server.
class InputController {
public:
    static constexpr std::size_t maxTextCharacters = 4096;
    static constexpr std::size_t textChunkCharacters = 20;

    InputController(std::shared_ptr<EventPoster> poster, std::shared_ptr<InputMutex> mutex);

    void move(double dx, double dy);
    // button "right" or "middle", anything else is the left button; count above 3 is a triple click.
    void click(const std::string& button, std::int64_t count);
    void scroll(double dx, double dy);
    // move() and scroll() on the calling thread when the poster can serve them at once (see
    // EventPoster::tryAtOnce); false, with nothing done, when they must be called where they may wait.
    bool tryMove(double dx, double dy);
    bool tryScroll(double dx, double dy);
    // phase "begin" presses, "end" releases, anything else drags; always the left button. The
    // connection is the session asking, remembered as holding the button until its drag ends.
    void drag(const std::string& phase, double dx, double dy, std::uint64_t connectionID = 0);
    // For a session that ended: releases the left button at the pointer when that session began a
    // drag that never ended and no other session's drag holds the button. The button is one state
    // for all sessions: any drag's end releases it for all, and it stays down while a drag of a
    // session still open holds it. Not dropped while the input mutex is held.
    void releaseHeldBy(std::uint64_t connectionID);
    void key(const std::string& chord);
    // Presses and releases the chord's key with its modifiers, then flushes; no permission check
    // and never dropped (for callers that hold the input mutex and checked the permission).
    void postChord(const KeyChord& chord);
    // Whether input may be injected at all (the accessibility permission).
    bool mayInjectInput() const;
    void type(const std::string& text);

    // (0, 0) when the platform cannot tell.
    Point pointerLocation() const;
    const std::shared_ptr<InputMutex>& mutex() const { return mutex_; }

    // Keeps a point on some screen: unchanged inside any frame (or with no screens), otherwise
    // pulled inside the frames' bounding box, one point short of its far edges.
    static Point clamp(Point point, const std::vector<Rect>& screens);

private:
    void requireAccessibility() const;
    Point clampedTarget(double dx, double dy) const;

    std::shared_ptr<EventPoster> poster_;
    std::shared_ptr<InputMutex> mutex_;
    // Orders a drag's press or release with the change to the holders; the poster never calls back.
    std::mutex dragLock_;
    // Sessions whose drag holds the left button; at most one entry per open session.
    std::set<std::uint64_t> dragHolders_;
};

}  // namespace kx
