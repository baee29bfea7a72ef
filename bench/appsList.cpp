// "system.apps.list" with icons for 20 running applications on the X desktop, warm: the icon of
// an installed application comes from a cache (a ready text stands in for it here) and a window's
// own icon from a ready encoder, so what is measured is reading the desktop, matching windows to
// applications and building the answer. Half of the windows match an installed application by
// their class. Reports the median and the 99th percentile. Needs DISPLAY with an EWMH window manager.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "agent/apps/AppIdentity.h"
#include "agent/apps/AppMethods.h"
#include "bench/Percentile.h"
#include "platform/linux/apps/X11Workspace.h"

namespace {

using namespace kx;

constexpr int kApps = 20;
constexpr int kCalls = 2000;
constexpr std::size_t kIconCharacters = 4000;  // a typical 48 x 48 PNG in base64

// kApps windows of classes KxBench0 ... KxBench19, each with a 48 x 48 icon of its own.
class BenchWindows {
public:
    BenchWindows() : display_(XOpenDisplay(nullptr)) {
        if (!display_) return;
        std::vector<long> icon(2 + 48 * 48, 0xff3366cc);
        icon[0] = icon[1] = 48;
        for (int i = 0; i < kApps; ++i) {
            Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 100, 100, 0, 0, 0);
            std::string instance = "kxbench", name = "KxBench" + std::to_string(i);
            XClassHint hint{instance.data(), name.data()};
            XSetClassHint(display_, window, &hint);
            XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<unsigned char*>(icon.data()),
                            static_cast<int>(icon.size()));
            XMapWindow(display_, window);
        }
        XSync(display_, False);
    }
    ~BenchWindows() {
        if (display_) XCloseDisplay(display_);
    }
    bool open() const { return display_ != nullptr; }

private:
    Display* display_;
};

void SystemAppsListWarm(benchmark::State& state) {
    if (!std::getenv("DISPLAY"))
        return state.SkipWithError("DISPLAY is not set: start an X server (scripts/lib/services.sh)");
    static BenchWindows windows;
    if (!windows.open()) return state.SkipWithError("cannot open the display");

    std::vector<InstalledApp> installed;
    for (int i = 0; i < kApps; i += 2)
        installed.push_back({"org.bench.App" + std::to_string(i), "App " + std::to_string(i), "",
                             "KxBench" + std::to_string(i), "", ""});
    auto workspace = std::make_shared<X11Workspace>(std::make_shared<AppIdentity>([installed] { return installed; }));
    const std::string icon(kIconCharacters, 'i');
    RunningAppsController::Options options;
    options.entryIcon = [&](const std::string& id) -> std::optional<std::string> {
        return id.starts_with("org.bench.") ? std::optional(icon) : std::nullopt;
    };
    options.encodeWindowIcon = [&](const IconPixels&) { return std::optional(icon); };
    CommandRouter router;
    registerAppMethods(router, std::make_shared<RunningAppsController>(workspace, std::move(options)));
    auto list = [&] {
        return router.dispatch(Envelope::request("1", "system.apps.list"), RequestContext{"bench", true});
    };
    // The window manager manages the windows on its own time.
    for (int wait = 0; list().p->at("apps").asArray().size() < kApps && wait < 200; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (list().p->at("apps").asArray().size() < kApps) return state.SkipWithError("the windows were never listed");

    std::vector<double> millis;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(list());
        millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    state.counters["p50_ms"] = bench::percentile(millis, 0.50);
    state.counters["p99_ms"] = bench::percentile(millis, 0.99);
}

}  // namespace

BENCHMARK(SystemAppsListWarm)->Iterations(kCalls)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
