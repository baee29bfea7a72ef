#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/InternetDate.h"
#include "agent/support/AtomicFile.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

const std::string kKey = "7yTcMOXnRJrXSMOyTwcaTOdGn0jJPtpQ63mnW7gbz9w";

std::string entry(const std::string& id, const std::string& pairedAt = "\"2026-01-05T10:00:00Z\"",
                  const std::string& name = "\"Phone\"") {
    return R"({"id":")" + id + R"(","name":)" + name + R"(,"publicKey":")" + kKey + R"(","pairedAt":)" + pairedAt +
           R"(,"platform":"iOS"})";
}

PairedDevice phone(const std::string& id) {
    return {id, "New", kKey, *parseInternetDate("2026-02-01T00:00:00Z"), std::nullopt, "iOS"};
}

std::vector<std::string> ids(const DeviceRegistry& registry) {
    std::vector<std::string> out;
    for (const auto& device : registry.all()) out.push_back(device.id);
    std::sort(out.begin(), out.end());
    return out;
}

// Files kept aside beside devices.json.
std::vector<std::filesystem::path> asides(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> out;
    for (const auto& item : std::filesystem::directory_iterator(folder))
        if (item.path().filename().string().starts_with("devices.json.unreadable-")) out.push_back(item.path());
    return out;
}

}  // namespace

TEST(DamagedRegistry, KeepsEveryReadableDeviceAndTheOriginalBeforeTheFirstWrite) {
    const std::string good = "[" + entry("d_1") + "," + entry("d_2") + "," + entry("d_3") + "]";
    struct Case {
        const char* name;
        std::string text;  // empty: a folder stands where the file should be
        std::vector<std::string> kept;
    } cases[] = {
        {"intact", good, {"d_1", "d_2", "d_3"}},
        {"bad date",
         "[" + entry("d_1") + "," + entry("d_2", "\"not-a-date\"") + "," + entry("d_3") + "]",
         {"d_1", "d_3"}},
        {"bad field type", "[" + entry("d_1", "\"2026-01-05T10:00:00Z\"", "5") + "," + entry("d_2") + "]", {"d_2"}},
        {"truncated", good.substr(0, good.size() - 20), {"d_1", "d_2"}},
        {"not JSON", "devices: d_1", {}},
        {"not a list", R"({"d_1": {}})", {}},
        {"unreadable", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::testing::TempFolder folder("damaged");
        const auto file = folder / "devices.json";
        if (c.text.empty())
            std::filesystem::create_directory(file);
        else
            std::ofstream(file) << c.text;

        DeviceRegistry registry(file);
        EXPECT_EQ(ids(registry), c.kept);
        EXPECT_TRUE(asides(folder.path()).empty()) << "kept aside before anything was written";

        ASSERT_TRUE(registry.registerDevice(phone("d_new")));
        auto kept = c.kept;
        kept.push_back("d_new");
        EXPECT_EQ(ids(DeviceRegistry(file)), kept);
        auto aside = asides(folder.path());
        ASSERT_EQ(aside.size(), c.kept.size() == 3 ? 0u : 1u);
        if (aside.empty() || c.text.empty()) continue;
        EXPECT_EQ(readWholeFile(aside[0]), c.text);
        struct stat info {};
        ASSERT_EQ(::stat(aside[0].c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}
