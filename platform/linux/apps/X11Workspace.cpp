#include "platform/linux/apps/X11Workspace.h"

#include <unistd.h>

#include <X11/Xatom.h>

#include <algorithm>
#include <array>

#include "platform/linux/apps/X11Properties.h"

namespace kx {

namespace {
// Source indication of EWMH requests: a pager or taskbar acting for the user, which window
// managers honour without focus-stealing prevention.
constexpr long kSourcePager = 2;
constexpr long kMaxTypeAtoms = 16;
constexpr long kMaxStateAtoms = 32;
}  // namespace

struct X11Workspace::Atoms {
    enum Name {
        clientList,
        clientListStacking,
        activeWindow,
        closeWindow,
        wmPid,
        wmIcon,
        wmState,
        stateHidden,
        stateSkipTaskbar,
        windowType,
        typeNormal,
        typeDialog,
        typeDock,
        typeDesktop,
        gtkApplicationID,
        utf8String,
        count
    };
    std::array<Atom, count> atom{};

    explicit Atoms(Display* display) {
        std::array<const char*, count> names = {"_NET_CLIENT_LIST",
                                                "_NET_CLIENT_LIST_STACKING",
                                                "_NET_ACTIVE_WINDOW",
                                                "_NET_CLOSE_WINDOW",
                                                "_NET_WM_PID",
                                                "_NET_WM_ICON",
                                                "_NET_WM_STATE",
                                                "_NET_WM_STATE_HIDDEN",
                                                "_NET_WM_STATE_SKIP_TASKBAR",
                                                "_NET_WM_WINDOW_TYPE",
                                                "_NET_WM_WINDOW_TYPE_NORMAL",
                                                "_NET_WM_WINDOW_TYPE_DIALOG",
                                                "_NET_WM_WINDOW_TYPE_DOCK",
                                                "_NET_WM_WINDOW_TYPE_DESKTOP",
                                                "_GTK_APPLICATION_ID",
                                                "UTF8_STRING"};
        XInternAtoms(display, const_cast<char**>(names.data()), count, False, atom.data());
    }
    Atom operator[](Name name) const { return atom[name]; }
};

X11Workspace::X11Workspace(std::shared_ptr<AppIdentity> identity, std::string displayName)
    : identity_(std::move(identity)), connection_(std::move(displayName)) {}

X11Workspace::~X11Workspace() = default;

void X11Workspace::syncServer(Display* display) {
    if (atoms_ && serverGeneration_ == connection_.generation()) return;
    // A new connection may be to a new server: window ids and atoms of the old one mean nothing.
    atoms_ = std::make_unique<Atoms>(display);
    facts_.clear();
    serverGeneration_ = connection_.generation();
}

const X11Workspace::Facts& X11Workspace::factsOf(Display* display, Window window) {
    if (auto known = facts_.find(window); known != facts_.end()) return known->second;
    // Only a listing prunes the windows that went away; without one the memory stays bounded.
    if (facts_.size() >= static_cast<std::size_t>(maxWindows)) facts_.clear();
    const Atoms& a = *atoms_;
    Facts facts;
    facts.window.gtkApplicationID =
        X11Properties::text(display, window, a[Atoms::gtkApplicationID], a[Atoms::utf8String]);
    std::tie(facts.window.wmClassInstance, facts.window.wmClassClass) = X11Properties::wmClass(display, window);
    // Clients such as Xt programs set no _NET_WM_PID; the server knows the pid of local clients.
    auto pids = X11Properties::items32(display, window, a[Atoms::wmPid], XA_CARDINAL, 1);
    std::optional<long> pid =
        pids.empty() ? X11Properties::clientPid(display, window) : std::optional(static_cast<long>(pids.front()));
    if (pid) {
        facts.window.executable = X11Properties::executableOf(*pid);
        facts.ours = *pid == ::getpid();
    }
    return facts_.emplace(window, std::move(facts)).first->second;
}

bool X11Workspace::list(Listing& listing) {
    return connection_.with([&](Display* display) {
        syncServer(display);
        const Atoms& a = *atoms_;
        const Window root = DefaultRootWindow(display);
        const auto clients = X11Properties::items32(display, root, a[Atoms::clientList], XA_WINDOW, maxWindows);
        const auto stacking =
            X11Properties::items32(display, root, a[Atoms::clientListStacking], XA_WINDOW, maxWindows);
        const auto active = X11Properties::items32(display, root, a[Atoms::activeWindow], XA_WINDOW, 1);
        listing.active = active.empty() ? 0 : active.front();

        std::map<Window, Facts> kept;
        for (unsigned long id : clients) {
            ListedWindow window;
            window.id = id;
            window.facts = factsOf(display, id);
            kept.emplace(id, window.facts);
            const auto types = X11Properties::items32(display, id, a[Atoms::windowType], XA_ATOM, kMaxTypeAtoms);
            const auto states = X11Properties::items32(display, id, a[Atoms::wmState], XA_ATOM, kMaxStateAtoms);
            auto has = [](const std::vector<unsigned long>& atoms, Atom atom) {
                return std::ranges::find(atoms, atom) != atoms.end();
            };
            // A window without a type is a normal one (EWMH), unless it is a transient dialog;
            // either way it is not skipped by the taskbar.
            const bool normal = types.empty() || has(types, a[Atoms::typeNormal]);
            window.regular = normal && !has(states, a[Atoms::stateSkipTaskbar]);
            window.essential = has(types, a[Atoms::typeDock]) || has(types, a[Atoms::typeDesktop]) || window.facts.ours;
            window.hidden = has(states, a[Atoms::stateHidden]);
            if (auto place = std::ranges::find(stacking, id); place != stacking.end())
                window.stacking = static_cast<int>(place - stacking.begin());
            listing.windows.push_back(std::move(window));
        }
        // Only windows that still exist are remembered.
        facts_ = std::move(kept);
    });
}

std::vector<std::optional<AppIdentity::Result>> X11Workspace::identify(const Listing& listing) {
    std::vector<std::optional<AppIdentity::Result>> results;
    results.reserve(listing.windows.size());
    for (const auto& window : listing.windows) results.push_back(identity_->identify(window.facts.window));
    return results;
}

std::vector<RunningApp> X11Workspace::apps() {
    Listing listing;
    if (!list(listing)) return {};
    const auto identities = identify(listing);
    remember(listing, identities);
    std::vector<RunningApp> apps;
    std::map<std::string, std::size_t> placeOf;
    for (std::size_t i = 0; i < listing.windows.size(); ++i) {
        if (!identities[i]) continue;
        const auto& window = listing.windows[i];
        auto [place, added] = placeOf.emplace(identities[i]->bundleID, apps.size());
        if (added) apps.push_back({identities[i]->bundleID, identities[i]->name, false, false, false});
        RunningApp& app = apps[place->second];
        app.active = app.active || window.id == listing.active;
        app.regular = app.regular || window.regular;
        app.essential = app.essential || window.essential;
    }
    return apps;
}

void X11Workspace::remember(const Listing& listing, const std::vector<std::optional<AppIdentity::Result>>& identities) {
    std::map<std::string, std::vector<const ListedWindow*>> byApp;
    for (std::size_t i = 0; i < listing.windows.size(); ++i)
        if (identities[i]) byApp[identities[i]->bundleID].push_back(&listing.windows[i]);
    std::map<std::string, std::vector<Window>> recent;
    for (auto& [id, windows] : byApp) {
        // The window a user would pick first: a regular one, shown, nearest the top.
        std::ranges::stable_sort(windows, [](const ListedWindow* x, const ListedWindow* y) {
            return std::tuple(x->regular, !x->hidden, x->stacking) > std::tuple(y->regular, !y->hidden, y->stacking);
        });
        auto& ids = recent[id];
        for (const auto* window : windows) ids.push_back(window->id);
    }
    std::lock_guard guard(recentLock_);
    recentWindows_ = std::move(recent);
    recentAt_ = std::chrono::steady_clock::now();
}

std::vector<Window> X11Workspace::windowsOf(const std::string& bundleID, Listing& listing) {
    if (!list(listing)) return {};
    remember(listing, identify(listing));
    std::lock_guard guard(recentLock_);
    auto found = recentWindows_.find(bundleID);
    return found == recentWindows_.end() ? std::vector<Window>{} : found->second;
}

void X11Workspace::sendToWindowManager(Window window, bool close) {
    connection_.with([&](Display* display) {
        syncServer(display);
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = atoms_->atom[close ? Atoms::closeWindow : Atoms::activeWindow];
        event.xclient.format = 32;
        // _NET_ACTIVE_WINDOW takes the source, then the time; _NET_CLOSE_WINDOW the other way round.
        event.xclient.data.l[close ? 1 : 0] = kSourcePager;
        event.xclient.data.l[close ? 0 : 1] = CurrentTime;
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
        XFlush(display);
    });
}

bool X11Workspace::activate(const std::string& bundleID) {
    Listing listing;
    const auto windows = windowsOf(bundleID, listing);
    if (windows.empty()) return false;
    sendToWindowManager(windows.front(), false);
    return true;
}

bool X11Workspace::quit(const std::string& bundleID) {
    Listing listing;
    const auto windows = windowsOf(bundleID, listing);
    for (Window window : windows) sendToWindowManager(window, true);
    return !windows.empty();
}

std::optional<FrontmostApp> X11Workspace::frontmost() {
    std::optional<WindowFacts> facts;
    connection_.with([&](Display* display) {
        syncServer(display);
        const auto active = X11Properties::items32(display, DefaultRootWindow(display),
                                                   atoms_->atom[Atoms::activeWindow], XA_WINDOW, 1);
        if (!active.empty() && active.front() != 0) facts = factsOf(display, active.front()).window;
    });
    auto identity = facts ? identity_->identify(*facts) : std::nullopt;
    if (!identity) return std::nullopt;
    return FrontmostApp{identity->bundleID, identity->name};
}

std::optional<IconPixels> X11Workspace::windowIcon(const std::string& bundleID) {
    std::vector<Window> windows;
    bool recent = false;
    {
        std::lock_guard guard(recentLock_);
        if (std::chrono::steady_clock::now() - recentAt_ < listingReuse) {
            recent = true;
            if (auto found = recentWindows_.find(bundleID); found != recentWindows_.end()) windows = found->second;
        }
    }
    // A window that has gone since has no icon to read; that costs nothing.
    Listing listing;
    if (!recent) windows = windowsOf(bundleID, listing);
    std::optional<IconPixels> best;
    connection_.with([&](Display* display) {
        syncServer(display);
        for (Window window : windows) {
            // Several images, each as width, height, then width * height pixels.
            const auto items =
                X11Properties::items32(display, window, atoms_->atom[Atoms::wmIcon], XA_CARDINAL, maxIconItems);
            for (std::size_t at = 0; at + 2 <= items.size();) {
                const unsigned long width = items[at], height = items[at + 1];
                at += 2;
                if (width == 0 || height == 0 || width > 1024 || height > 1024 || width * height > items.size() - at)
                    break;
                // The smallest image at least 48 pixels wide, else the largest one.
                const bool better =
                    !best || (best->width < preferredIconSize ? width > best->width
                                                              : width >= preferredIconSize && width < best->width);
                if (better) {
                    IconPixels icon{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), {}};
                    icon.argb.reserve(width * height);
                    for (unsigned long i = 0; i < width * height; ++i)
                        icon.argb.push_back(static_cast<std::uint32_t>(items[at + i]));
                    best = std::move(icon);
                }
                at += width * height;
            }
            if (best) return;
        }
    });
    return best;
}

}  // namespace kx
