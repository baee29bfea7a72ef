#include "platform/linux/clipboard/X11Selection.h"

#include <poll.h>

#include <algorithm>
#include <climits>

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include "agent/clipboard/PasteboardFailure.h"
#include "agent/support/UTF8.h"
#include "platform/linux/input/XlibSetup.h"

namespace kx {

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kPrivateValue = "secret";

// ISO 8859-1, the encoding of the STRING target, to UTF-8.
std::string latin1ToUTF8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<Atom> atomsIn(const std::string& bytes) {
    // Format-32 data arrives as an array of C longs.
    std::vector<Atom> atoms(bytes.size() / sizeof(long));
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        long value = 0;
        std::copy_n(bytes.data() + i * sizeof(long), sizeof(long), reinterpret_cast<char*>(&value));
        atoms[i] = static_cast<Atom>(value);
    }
    return atoms;
}

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace

X11Selection::X11Selection(std::string displayName) : displayName_(std::move(displayName)) {}

X11Selection::~X11Selection() {
    close();
}

bool X11Selection::open() {
    if (display_ && !lost_) return true;
    close();
    const auto now = Clock::now();
    if (now < nextAttempt_) return false;
    nextAttempt_ = now + reopenInterval;

    display_ = openDisplay(displayName_, &lost_);
    if (!display_) return false;
    int fixesErrorBase = 0;
    if (!XFixesQueryExtension(display_, &fixesEventBase_, &fixesErrorBase)) {
        close();
        return false;
    }
    auto atom = [this](const char* name) { return XInternAtom(display_, name, False); };
    atoms_ = {atom("CLIPBOARD"),
              atom("TARGETS"),
              atom("TIMESTAMP"),
              atom("INCR"),
              atom("UTF8_STRING"),
              atom("text/plain;charset=utf-8"),
              atom("x-kde-passwordManagerHint"),
              atom("KX_CLIPBOARD"),
              atom("KX_TIMESTAMP")};
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display_, window_, PropertyChangeMask);
    // Another owner taking the selection tells us to let go of our copy.
    XFixesSelectSelectionInput(display_, window_, atoms_.clipboard, XFixesSetSelectionOwnerNotifyMask);
    XFlush(display_);
    return true;
}

void X11Selection::close() {
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
    lost_ = false;
    window_ = None;
    owned_.reset();
    servings_.clear();
}

int X11Selection::descriptor() const {
    return display_ && !lost_ ? ConnectionNumber(display_) : -1;
}

void X11Selection::fail(const char* detail) const {
    throw PasteboardFailure(lost_ ? PasteboardFailure::Reason::unreachable : PasteboardFailure::Reason::timedOut,
                            detail);
}

void X11Selection::dispatchPending() {
    if (!display_ || lost_) return;
    while (!lost_ && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        handle(event);
    }
    dropExpiredServings();
}

std::optional<XEvent> X11Selection::waitFor(const std::function<bool(const XEvent&)>& wanted, Deadline deadline) {
    for (;;) {
        while (!lost_ && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (wanted(event)) return event;
            // Applications may read what we set while we wait on another one.
            handle(event);
        }
        if (lost_ || Clock::now() >= deadline) return std::nullopt;
        pollfd ready{ConnectionNumber(display_), POLLIN, 0};
        ::poll(&ready, 1, millisecondsUntil(deadline));
    }
}

bool X11Selection::ownsSelection() const {
    return owned_ && XGetSelectionOwner(display_, atoms_.clipboard) == window_;
}

std::optional<X11Selection::Property> X11Selection::takeProperty(Atom property, std::size_t limit) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    // The length is counted in 32-bit units.
    const long units = static_cast<long>(limit / 4);
    int status = XGetWindowProperty(display_, window_, property, 0, units, False, AnyPropertyType, &type, &format,
                                    &items, &after, &data);
    if (status != Success) return std::nullopt;
    std::optional<Property> value;
    if (type != None) {
        const std::size_t unit = format == 8 ? 1 : format == 16 ? sizeof(short) : sizeof(long);
        value = Property{type, format, std::string(reinterpret_cast<const char*>(data), items * unit), after == 0};
    }
    if (data) XFree(data);
    XDeleteProperty(display_, window_, property);
    return value;
}

std::optional<X11Selection::Property> X11Selection::convert(Atom target, Deadline deadline) {
    XDeleteProperty(display_, window_, atoms_.transfer);
    XConvertSelection(display_, atoms_.clipboard, target, atoms_.transfer, window_, CurrentTime);
    auto answer = waitFor(
        [&](const XEvent& e) {
            return e.type == SelectionNotify && e.xselection.requestor == window_ &&
                   e.xselection.selection == atoms_.clipboard && e.xselection.target == target;
        },
        std::min(deadline, Clock::now() + answerTimeLimit));
    if (!answer) fail("the clipboard's owner did not answer");
    if (answer->xselection.property == None) return std::nullopt;
    auto value = takeProperty(atoms_.transfer, maxReadBytes);
    if (value && value->type == atoms_.incr) return readIncrementally(deadline);
    return value;
}

X11Selection::Property X11Selection::readIncrementally(Deadline deadline) {
    // Deleting the INCR property (takeProperty did) asks for the first piece; each piece is
    // deleted in turn to ask for the next, and an empty one ends the transfer.
    Property whole;
    for (;;) {
        auto next = waitFor(
            [&](const XEvent& e) {
                return e.type == PropertyNotify && e.xproperty.window == window_ &&
                       e.xproperty.atom == atoms_.transfer && e.xproperty.state == PropertyNewValue;
            },
            std::min(deadline, Clock::now() + answerTimeLimit));
        if (!next) fail("the clipboard's owner stopped sending");
        auto piece = takeProperty(atoms_.transfer, maxReadBytes);
        if (!piece || piece->bytes.empty()) return whole;
        whole.type = piece->type;
        whole.format = piece->format;
        // Past the limit the pieces are still taken, so that the owner finishes, but not kept.
        const std::size_t room = maxReadBytes - std::min(maxReadBytes, whole.bytes.size());
        if (piece->bytes.size() > room) whole.complete = false;
        whole.bytes.append(piece->bytes, 0, std::min(room, piece->bytes.size()));
    }
}

bool X11Selection::isMarkedPrivate() {
    if (ownsSelection() || XGetSelectionOwner(display_, atoms_.clipboard) == None) return false;
    const Deadline deadline = Clock::now() + readTimeLimit;
    auto targets = convert(atoms_.targets, deadline);
    if (!targets || targets->format != 32) return false;
    auto offered = atomsIn(targets->bytes);
    if (std::find(offered.begin(), offered.end(), atoms_.passwordHint) == offered.end()) return false;
    auto hint = convert(atoms_.passwordHint, deadline);
    return hint && hint->bytes == kPrivateValue;
}

std::optional<PasteboardText> X11Selection::readText() {
    if (ownsSelection()) return PasteboardText{*owned_, true};
    if (XGetSelectionOwner(display_, atoms_.clipboard) == None) return std::nullopt;
    const Deadline deadline = Clock::now() + readTimeLimit;
    if (auto utf8 = convert(atoms_.utf8, deadline); utf8 && utf8->format == 8)
        return PasteboardText{repairUTF8(utf8->bytes), utf8->complete};
    // Older applications offer only Latin-1 text.
    if (auto latin1 = convert(XA_STRING, deadline); latin1 && latin1->format == 8)
        return PasteboardText{latin1ToUTF8(latin1->bytes), latin1->complete};
    return std::nullopt;
}

Time X11Selection::serverTime() {
    // Taking a selection needs the server's time: a change to a property of our own window makes
    // the server report it. Not the transfer property, which a late owner may still write to.
    XChangeProperty(display_, window_, atoms_.stamp, atoms_.utf8, 8, PropModeReplace, nullptr, 0);
    auto stamped = waitFor(
        [&](const XEvent& e) {
            return e.type == PropertyNotify && e.xproperty.window == window_ && e.xproperty.atom == atoms_.stamp;
        },
        Clock::now() + answerTimeLimit);
    if (!stamped) fail("the X server did not answer");
    return stamped->xproperty.time;
}

void X11Selection::writeText(const std::string& text) {
    const Time now = serverTime();
    XSetSelectionOwner(display_, atoms_.clipboard, window_, now);
    // Only once the selection is ours does the new text replace the old; until then an application
    // that asks gets what was there before, and after a refusal it still does.
    if (XGetSelectionOwner(display_, atoms_.clipboard) != window_)
        throw PasteboardFailure(PasteboardFailure::Reason::refused, "the X server kept the clipboard's owner");
    owned_ = std::make_shared<const std::string>(text);
    ownedSince_ = now;
}

void X11Selection::handle(XEvent& event) {
    if (event.type == SelectionRequest) {
        answer(event.xselectionrequest);
    } else if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
        continueServing(event.xproperty);
    } else if (event.type == SelectionClear || event.type == fixesEventBase_ + XFixesSelectionNotify) {
        forgetIfReplaced();
    }
}

void X11Selection::forgetIfReplaced() {
    // Events of an earlier owner change may arrive after we took the selection again: ask.
    if (owned_ && XGetSelectionOwner(display_, atoms_.clipboard) != window_) owned_.reset();
}

void X11Selection::answer(const XSelectionRequestEvent& request) {
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.property = None;
    reply.xselection.time = request.time;
    // Obsolete clients name no property: the target's name serves.
    const Atom property = request.property == None ? request.target : request.property;
    const bool current = request.time == CurrentTime || request.time >= ownedSince_;
    if (request.selection == atoms_.clipboard && owned_ && current) {
        const Atom target = request.target;
        if (target == atoms_.targets) {
            const Atom offered[] = {atoms_.targets, atoms_.timestamp, atoms_.utf8, atoms_.textPlain};
            XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(offered), std::size(offered));
            reply.xselection.property = property;
        } else if (target == atoms_.timestamp) {
            const long stamp = static_cast<long>(ownedSince_);
            XChangeProperty(display_, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&stamp), 1);
            reply.xselection.property = property;
        } else if (target == atoms_.utf8 || target == atoms_.textPlain) {
            if (owned_->size() <= pieceBytes) {
                XChangeProperty(display_, request.requestor, property, target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(owned_->data()),
                                static_cast<int>(owned_->size()));
                reply.xselection.property = property;
            } else if (startServing(request.requestor, property, target)) {
                reply.xselection.property = property;
            }
        }
    }
    XSendEvent(display_, request.requestor, False, NoEventMask, &reply);
    XFlush(display_);
}

bool X11Selection::startServing(Window requestor, Atom property, Atom type) {
    if (servings_.size() >= maxServings) return false;
    // The requestor deletes the property to ask for each piece: we need to see that.
    XSelectInput(display_, requestor, PropertyChangeMask);
    const long size = static_cast<long>(owned_->size());
    XChangeProperty(display_, requestor, property, atoms_.incr, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&size), 1);
    servings_.push_back({requestor, property, type, owned_, 0, Clock::now() + servingTimeLimit});
    return true;
}

void X11Selection::continueServing(const XPropertyEvent& event) {
    auto serving = std::find_if(servings_.begin(), servings_.end(), [&](const Serving& s) {
        return s.requestor == event.window && s.property == event.atom;
    });
    if (serving == servings_.end()) return;
    const std::size_t length = std::min(pieceBytes, serving->text->size() - serving->offset);
    XChangeProperty(display_, serving->requestor, serving->property, serving->type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(serving->text->data() + serving->offset),
                    static_cast<int>(length));
    serving->offset += length;
    serving->expiry = Clock::now() + servingTimeLimit;
    // The empty piece just written ends the transfer.
    if (length == 0) {
        const Window requestor = serving->requestor;
        servings_.erase(serving);
        bool more =
            std::any_of(servings_.begin(), servings_.end(), [&](const Serving& s) { return s.requestor == requestor; });
        if (!more) XSelectInput(display_, requestor, NoEventMask);
    }
    XFlush(display_);
}

void X11Selection::dropExpiredServings() {
    const auto now = Clock::now();
    std::erase_if(servings_, [&](const Serving& s) { return s.expiry <= now; });
}

std::optional<std::chrono::steady_clock::time_point> X11Selection::nextExpiry() const {
    if (servings_.empty()) return std::nullopt;
    return std::min_element(servings_.begin(), servings_.end(),
                            [](const Serving& a, const Serving& b) { return a.expiry < b.expiry; })
        ->expiry;
}

}  // namespace kx
