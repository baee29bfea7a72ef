#include "agent/control/InputController.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "agent/control/KeyChord.h"
#include "agent/control/TextChunks.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

constexpr std::int64_t kTripleClick = 3;

struct ButtonEvents {
    MouseEventType down;
    MouseEventType up;
    MouseButton button;
};

ButtonEvents buttonEvents(const std::string& button) {
    if (button == "right") return {MouseEventType::rightDown, MouseEventType::rightUp, MouseButton::right};
    if (button == "middle") return {MouseEventType::otherDown, MouseEventType::otherUp, MouseButton::center};
    return {MouseEventType::leftDown, MouseEventType::leftUp, MouseButton::left};
}

MouseEventType dragEvent(const std::string& phase) {
    if (phase == "begin") return MouseEventType::leftDown;
    if (phase == "end") return MouseEventType::leftUp;
    return MouseEventType::leftDragged;
}

// Rounds halves away from zero and saturates at the limits of a 32-bit wheel delta.
std::int32_t wheelDelta(double pixels) {
    const double rounded = std::round(pixels);
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(rounded, lowest, highest));
}

}  // namespace

InputController::InputController(std::shared_ptr<EventPoster> poster, std::shared_ptr<InputMutex> mutex)
    : poster_(std::move(poster)), mutex_(std::move(mutex)) {}

void InputController::requireAccessibility() const {
    if (!mayInjectInput())
        throw WireError(ErrorCode::permissionDenied, "Accessibility not granted",
                        JSONObject{{"permission", "accessibility"}});
}

Point InputController::pointerLocation() const {
    return poster_->pointerLocation().value_or(Point{});
}

Point InputController::clamp(Point point, const std::vector<Rect>& screens) {
    if (screens.empty()) return point;
    for (const auto& frame : screens)
        if (frame.contains(point)) return point;
    double minX = screens.front().x, minY = screens.front().y;
    double maxX = screens.front().maxX(), maxY = screens.front().maxY();
    for (const auto& frame : screens) {
        minX = std::min(minX, frame.x);
        minY = std::min(minY, frame.y);
        maxX = std::max(maxX, frame.maxX());
        maxY = std::max(maxY, frame.maxY());
    }
    return {std::min(std::max(minX, point.x), maxX - 1), std::min(std::max(minY, point.y), maxY - 1)};
}

Point InputController::clampedTarget(double dx, double dy) const {
    const Point location = pointerLocation();
    return clamp({location.x + dx, location.y + dy}, poster_->screenFrames());
}

void InputController::move(double dx, double dy) {
    requireAccessibility();
    if (mutex_->isHeld()) return;
    poster_->postMouse({MouseEventType::moved, clampedTarget(dx, dy), MouseButton::left, std::nullopt});
    poster_->flush();
}

void InputController::click(const std::string& button, std::int64_t count) {
    requireAccessibility();
    if (mutex_->isHeld()) return;
    const auto events = buttonEvents(button);
    const Point location = pointerLocation();
    const std::int64_t presses = std::clamp<std::int64_t>(count, 1, kTripleClick);
    for (std::int64_t state = 1; state <= presses; ++state) {
        poster_->postMouse({events.down, location, events.button, state});
        poster_->postMouse({events.up, location, events.button, state});
    }
    poster_->flush();
}

void InputController::scroll(double dx, double dy) {
    requireAccessibility();
    if (mutex_->isHeld()) return;
    poster_->postScroll({wheelDelta(dy), wheelDelta(dx)});
    poster_->flush();
}

bool InputController::tryMove(double dx, double dy) {
    return poster_->tryAtOnce([&] { move(dx, dy); });
}

bool InputController::tryScroll(double dx, double dy) {
    return poster_->tryAtOnce([&] { scroll(dx, dy); });
}

void InputController::drag(const std::string& phase, double dx, double dy, std::uint64_t connectionID) {
    requireAccessibility();
    if (mutex_->isHeld()) return;
    const MouseEventType type = dragEvent(phase);
    std::lock_guard guard(dragLock_);
    poster_->postMouse({type, clampedTarget(dx, dy), MouseButton::left, std::nullopt});
    poster_->flush();
    if (type == MouseEventType::leftDown) dragHolders_.insert(connectionID);
    if (type == MouseEventType::leftUp) dragHolders_.clear();
}

void InputController::releaseHeldBy(std::uint64_t connectionID) {
    std::lock_guard guard(dragLock_);
    if (dragHolders_.erase(connectionID) == 0 || !dragHolders_.empty()) return;
    poster_->postMouse({MouseEventType::leftUp, pointerLocation(), MouseButton::left, std::nullopt});
    poster_->flush();
}

void InputController::key(const std::string& chord) {
    requireAccessibility();
    KeyChord parsed;
    try {
        parsed = KeyChord::parse(chord);
    } catch (const KeyChordError&) {
        throw WireError::invalidParams("Unrecognised key chord");
    }
    postChord(parsed);
}

void InputController::postChord(const KeyChord& chord) {
    poster_->postKey({chord.keyCode, chord.flags, true});
    poster_->postKey({chord.keyCode, chord.flags, false});
    poster_->flush();
}

bool InputController::mayInjectInput() const {
    return poster_->mayInjectInput();
}

void InputController::type(const std::string& text) {
    requireAccessibility();
    auto chunks = chunkByCharacters(text, textChunkCharacters, maxTextCharacters);
    if (!chunks) throw WireError::invalidParams("Text too long");
    if (mutex_->isHeld() || chunks->empty()) return;
    for (const auto& chunk : *chunks) poster_->postText(chunk);
    poster_->flush();
}

}  // namespace kx
