#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

#include "agent/clipboard/PasteboardText.h"

namespace kx {

// The CLIPBOARD selection of one X display, read and owned through a connection of its own. Not
// thread-safe: one thread makes every call and, between calls, lets dispatchPending() answer the
// applications that read what the agent set. Operations throw PasteboardFailure.
class X11Selection {
public:
    // How long another owner may take to answer one request (a conversion, or the next piece of
    // an incremental transfer), and how long a whole read may take.
    static constexpr std::chrono::milliseconds answerTimeLimit{2000};
    static constexpr std::chrono::seconds readTimeLimit{10};
    // How long an application reading the agent's text may pause between pieces.
    static constexpr std::chrono::seconds servingTimeLimit{10};
    // The most text taken from another owner; beyond it the text is cut short.
    static constexpr std::size_t maxReadBytes = std::size_t{16} << 20;
    // Text above this size is handed out in pieces of this size (the INCR protocol).
    static constexpr std::size_t pieceBytes = std::size_t{64} << 10;
    static constexpr std::size_t maxServings = 16;
    static constexpr std::chrono::milliseconds reopenInterval{1000};

    // An empty name means the display named by $DISPLAY.
    explicit X11Selection(std::string displayName);
    ~X11Selection();
    X11Selection(const X11Selection&) = delete;
    X11Selection& operator=(const X11Selection&) = delete;

    // Opens the display when it is not open (at most once per reopen interval); false without one.
    bool open();
    // The connection's descriptor to wait on, or -1 when closed.
    int descriptor() const;
    // Handles every event that has arrived, without waiting.
    void dispatchPending();
    // When an unfinished serving must be given up if no event comes first; absent when none runs.
    std::optional<std::chrono::steady_clock::time_point> nextExpiry() const;

    bool isMarkedPrivate();
    std::optional<PasteboardText> readText();
    void writeText(const std::string& text);

private:
    struct Property {
        Atom type = None;
        int format = 0;
        std::string bytes;
        bool complete = true;
    };
    // A text handed out in pieces to one application.
    struct Serving {
        Window requestor;
        Atom property;
        Atom type;
        std::shared_ptr<const std::string> text;
        std::size_t offset = 0;
        std::chrono::steady_clock::time_point expiry;
    };
    using Deadline = std::chrono::steady_clock::time_point;

    void close();
    bool ownsSelection() const;
    // The selection converted to `target` through our window; absent when the owner refuses.
    std::optional<Property> convert(Atom target, Deadline deadline);
    Property readIncrementally(Deadline deadline);
    std::optional<Property> takeProperty(Atom property, std::size_t limit);
    std::optional<XEvent> waitFor(const std::function<bool(const XEvent&)>& wanted, Deadline deadline);
    Time serverTime();
    void handle(XEvent& event);
    void answer(const XSelectionRequestEvent& request);
    bool startServing(Window requestor, Atom property, Atom type);
    void continueServing(const XPropertyEvent& event);
    void dropExpiredServings();
    void forgetIfReplaced();
    [[noreturn]] void fail(const char* detail) const;

    std::string displayName_;
    Display* display_ = nullptr;
    bool lost_ = false;
    Deadline nextAttempt_{};
    Window window_ = None;
    int fixesEventBase_ = 0;
    struct {
        Atom clipboard, targets, timestamp, incr, utf8, textPlain, passwordHint, transfer, stamp;
    } atoms_{};
    // What the agent set, while it owns the selection, and when it took it.
    std::shared_ptr<const std::string> owned_;
    Time ownedSince_ = CurrentTime;
    std::vector<Serving> servings_;
};

}  // namespace kx
