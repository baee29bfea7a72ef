// "system.apps.installed" over 500 desktop entries through the router with the real GIO source (each
// call is a fresh scan; the first call also has GIO read its folders), and "system.apps.icon" from
// the icon cache and, for comparison, drawing one icon from the theme.
#include <benchmark/benchmark.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "agent/installed/InstalledAppMethods.h"
#include "platform/linux/installed/GioAppLauncher.h"
#include "platform/linux/installed/GioInstalledAppSource.h"
#include "platform/linux/installed/ThemeIconRenderer.h"

namespace {

using namespace kx;
namespace fs = std::filesystem;

constexpr int kEntries = 500;

// 500 entries sharing one 48-pixel PNG icon, in a private data folder set before GLib reads it.
struct BenchDesktop {
    fs::path root;
    std::shared_ptr<ThemeIconRenderer> renderer;
    std::shared_ptr<InstalledAppMethods> methods;
    CommandRouter router;

    BenchDesktop() {
        std::string pattern = (fs::temp_directory_path() / "kx-bench-installed-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        ::setenv("XDG_DATA_DIRS", root.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root / "home").c_str(), 1);
        fs::create_directories(root / "applications");
        fs::create_directories(root / "icons/hicolor/48x48/apps");
        std::ofstream(root / "icons/hicolor/index.theme")
            << "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n[48x48/apps]\nSize=48\nType=Fixed\n";
        QImage icon(48, 48, QImage::Format_ARGB32);
        icon.fill(Qt::darkCyan);
        icon.save(QString::fromStdString((root / "icons/hicolor/48x48/apps/kx-bench.png").string()));
        for (int i = 0; i < kEntries; ++i)
            std::ofstream(root / "applications" / ("kx-bench-" + std::to_string(i) + ".desktop"))
                << "[Desktop Entry]\nType=Application\nName=Bench app " << i << "\nName[fr]=Appli " << i
                << "\nComment=An application\nExec=true %U\nIcon=kx-bench\n"
                << "Categories=Utility;\nStartupWMClass=Bench" << i << "\n";
        renderer = std::make_shared<ThemeIconRenderer>(IconThemeLookup::standard(), [] { return "hicolor"; });
        methods = std::make_shared<InstalledAppMethods>(
            InstalledAppScanner(std::make_shared<GioInstalledAppSource>()), std::make_shared<GioAppLauncher>(), nullptr,
            std::make_shared<IconCache>([r = renderer](const InstalledApp& app) { return r->render(app); }),
            std::make_shared<LastScan>());
        registerInstalledAppMethods(router, methods);
    }
    ~BenchDesktop() { fs::remove_all(root); }

    Envelope call(const std::string& method, std::optional<JSONObject> params = std::nullopt) {
        return router.dispatch(Envelope::request("1", method, std::move(params)), RequestContext{"bench", true});
    }
};

BenchDesktop& desktop() {
    static BenchDesktop shared;
    return shared;
}

void checkInstalled(benchmark::State& state, const Envelope& reply) {
    if (!reply.ok || reply.p->at("apps").asArray().size() != kEntries) state.SkipWithError("wrong installed list");
}

// The very first list of the process: GIO reads and indexes the folder too.
void BM_InstalledFirst(benchmark::State& state) {
    auto& bench = desktop();
    for (auto _ : state) checkInstalled(state, bench.call("system.apps.installed"));
}
BENCHMARK(BM_InstalledFirst)->Iterations(1)->Unit(benchmark::kMillisecond);

// Every later list: a fresh scan that parses all 500 entries again.
void BM_Installed(benchmark::State& state) {
    auto& bench = desktop();
    for (auto _ : state) checkInstalled(state, bench.call("system.apps.installed"));
}
BENCHMARK(BM_Installed)->Unit(benchmark::kMillisecond);

void BM_IconCacheHit(benchmark::State& state) {
    auto& bench = desktop();
    const JSONObject params{{"appId", "kx-bench-250"}};
    if (!bench.call("system.apps.icon", params).p->at("icon").isString()) state.SkipWithError("no icon");
    for (auto _ : state) benchmark::DoNotOptimize(bench.call("system.apps.icon", params));
}
BENCHMARK(BM_IconCacheHit)->Unit(benchmark::kMicrosecond);

// What a miss costs on top: finding the icon in the theme and drawing it.
void BM_IconRender(benchmark::State& state) {
    auto& bench = desktop();
    for (auto _ : state) benchmark::DoNotOptimize(bench.renderer->render(std::string("kx-bench")));
}
BENCHMARK(BM_IconRender)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
