#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "agent/pairing/AgentIdentity.h"
#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/IdentityStoreError.h"
#include "agent/pairing/InternetDate.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/support/AtomicFile.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace std::chrono_literals;

namespace {

PairedDevice::TimePoint at(const char* text) {
    return *parseInternetDate(text);
}

const std::string kKey = "7yTcMOXnRJrXSMOyTwcaTOdGn0jJPtpQ63mnW7gbz9w";

PairedDevice phone(const std::string& id, const char* pairedAt) {
    return {id, "Phone " + id, kKey, at(pairedAt), std::nullopt, "iOS 17.4"};
}

class DeviceRegistryTest : public ::testing::Test {
protected:
    kx::testing::TempFolder folder{"registry"};
    std::filesystem::path file = folder / "devices.json";

    nlohmann::json fileJSON() const { return nlohmann::json::parse(readWholeFile(file).value()); }
    void writeFile(const std::string& text) const { writeFileAtomically(file, text); }
};

}  // namespace

TEST_F(DeviceRegistryTest, WritesTheExactFileFormat) {
    DeviceRegistry registry(file);
    auto device = phone("d_1", "2026-01-05T10:00:00Z");
    device.pairedAt += 750ms;  // fractions never reach the file
    registry.registerDevice(device);
    EXPECT_EQ(*readWholeFile(file),
              "[\n"
              "  {\n"
              "    \"id\": \"d_1\",\n"
              "    \"name\": \"Phone d_1\",\n"
              "    \"pairedAt\": \"2026-01-05T10:00:00Z\",\n"
              "    \"platform\": \"iOS 17.4\",\n"
              "    \"publicKey\": \"7yTcMOXnRJrXSMOyTwcaTOdGn0jJPtpQ63mnW7gbz9w\"\n"
              "  }\n"
              "]\n");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    registry.touch("d_1", at("2026-02-01T08:30:05Z"));
    registry.save();
    EXPECT_EQ(fileJSON()[0]["lastSeen"], "2026-02-01T08:30:05Z");
    EXPECT_EQ(registry.device("d_1")->lastSeen, at("2026-02-01T08:30:05Z"));
}

TEST_F(DeviceRegistryTest, ReloadsWhatItWroteListsNewestFirstAndLetsALaterDuplicateWin) {
    auto renamed = phone("d_old", "2025-06-01T00:00:00Z");
    renamed.name = "Renamed";
    {
        DeviceRegistry registry(file);
        registry.registerDevice(phone("d_old", "2025-05-01T00:00:00Z"));
        registry.registerDevice(phone("d_new", "2026-01-05T10:00:00Z"));
        registry.registerDevice(phone("d_mid", "2025-12-24T18:00:00Z"));
        registry.touch("d_mid", at("2026-01-06T00:00:00Z"));  // written with the next change
        registry.registerDevice(renamed);                     // an existing id: the entry is replaced
    }
    auto all = DeviceRegistry(file).all();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].id, "d_new");
    EXPECT_EQ(all[1].id, "d_mid");
    EXPECT_EQ(all[1].lastSeen, at("2026-01-06T00:00:00Z"));
    EXPECT_EQ(all[2], renamed);

    writeFile(R"([{"id":"d_1","name":"first","publicKey":"k","pairedAt":"2026-01-05T10:00:00Z","platform":"p"},
                  {"id":"d_1","name":"second","publicKey":"k","pairedAt":"2026-01-05T10:00:00Z","platform":"p"}])");
    all = DeviceRegistry(file).all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].name, "second");
}

// The date forms that read are the InternetDate tests' (below).
TEST(PairedDeviceEntry, ReadsOffsetDatesAndNullLastSeenAndRejectsBadDatesOrMissingFields) {
    auto entry = [](const std::string& fields) {
        return PairedDevice::fromFileJSON(
            nlohmann::json::parse(R"({"id":"d_1","name":"n","publicKey":"k",)" + fields + "}"));
    };
    auto read = entry(R"("pairedAt":"2026-01-05T11:00:00+01:00","platform":"p","lastSeen":null,"extra":1)");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->pairedAt, at("2026-01-05T10:00:00Z"));
    EXPECT_FALSE(read->lastSeen);
    for (const char* fields : {R"("pairedAt":"2026-02-30T10:00:00Z","platform":"p")",
                               R"("pairedAt":1767607200,"platform":"p")", R"("pairedAt":"2026-01-05T10:00:00Z")",
                               R"("pairedAt":"2026-01-05T10:00:00Z","platform":"p","lastSeen":"yesterday")"})
        EXPECT_FALSE(entry(fields)) << fields;
}

TEST_F(DeviceRegistryTest, RevokeRemovesFromTheFileThenCallsBackOnceOutsideTheLock) {
    DeviceRegistry registry(file);
    registry.registerDevice(phone("d_1", "2026-01-05T10:00:00Z"));
    registry.registerDevice(phone("d_2", "2026-01-05T11:00:00Z"));
    std::vector<std::string> revoked;
    std::vector<std::size_t> fileSizesSeen;
    registry.setOnRevoke([&](const std::string& id) {
        revoked.push_back(id);
        // Re-entering the registry would deadlock if the lock were still held.
        EXPECT_FALSE(registry.device(id));
        fileSizesSeen.push_back(fileJSON().size());
    });
    EXPECT_TRUE(registry.revoke("d_1"));
    EXPECT_EQ(revoked, std::vector<std::string>{"d_1"});
    EXPECT_EQ(fileSizesSeen, std::vector<std::size_t>{1});  // persisted before the callback

    writeFile("sentinel");
    EXPECT_FALSE(registry.revoke("d_1"));
    EXPECT_EQ(revoked.size(), 1u);
    EXPECT_EQ(readWholeFile(file), "sentinel") << "revoking an unknown id must not write";

    EXPECT_TRUE(registry.revoke("d_2"));
    EXPECT_EQ(revoked.size(), 2u);
    EXPECT_TRUE(fileJSON().empty());
}

TEST_F(DeviceRegistryTest, ConcurrentChangesAllReachTheFile) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    DeviceRegistry registry(file);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    auto id = "d_" + std::to_string(t) + "_" + std::to_string(i);
                    registry.registerDevice(phone(id, "2026-01-05T10:00:00Z"));
                    registry.touch(id, at("2026-01-06T10:00:00Z"));
                    registry.save();
                }
            });
    }
    EXPECT_EQ(registry.all().size(), std::size_t{kThreads * kPerThread});
    // The newest snapshot landed last: a fresh registry sees every entry, touched.
    DeviceRegistry reloaded(file);
    auto all = reloaded.all();
    ASSERT_EQ(all.size(), std::size_t{kThreads * kPerThread});
    for (const auto& device : all) EXPECT_TRUE(device.lastSeen) << device.id;
}

namespace {

std::string entry(const std::string& id, const std::string& pairedAt = "\"2026-01-05T10:00:00Z\"",
                  const std::string& name = "\"Phone\"") {
    return R"({"id":")" + id + R"(","name":)" + name + R"(,"publicKey":")" + kKey + R"(","pairedAt":)" + pairedAt +
           R"(,"platform":"iOS"})";
}

std::vector<std::string> ids(const DeviceRegistry& registry) {
    std::vector<std::string> out;
    for (const auto& device : registry.all()) out.push_back(device.id);
    std::sort(out.begin(), out.end());
    return out;
}

// A store on a read-only disk: it has nothing and can keep nothing.
class ReadOnlyStore : public MemoryIdentityStore {
public:
    void save(const AgentIdentity&) override { throw IdentityStoreError::io(EROFS, "item"); }
};

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

        ASSERT_TRUE(registry.registerDevice(phone("d_new", "2026-02-01T00:00:00Z")));
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

// Creating, saving and reloading the key is FileIdentityStoreTest's, as is a key file that cannot
// be loaded; a failed save is not swallowed either.
TEST(AgentIdentity, ASaveFailurePassesThrough) {
    ReadOnlyStore store;
    try {
        AgentIdentity::loadOrCreate(store);
        ADD_FAILURE() << "a store failure must stop the start";
    } catch (const IdentityStoreError& error) {
        EXPECT_EQ(error.which, IdentityStoreError::Case::io);
        EXPECT_EQ(error.status, EROFS);
    }
}

TEST(InternetDate, WritesTheUTCFormThatReadsBack) {
    const std::pair<const char*, const char*> dates[] = {
        {"2026-01-05T11:00:00+01:00", "2026-01-05T10:00:00Z"},
        {"2016-12-31T23:59:60Z", "2017-01-01T00:00:00Z"},
        {"1677-09-22T00:00:00Z", "1677-09-22T00:00:00Z"},
        {"2262-04-10T23:59:59Z", "2262-04-10T23:59:59Z"},
    };
    for (const auto& [text, written] : dates) {
        auto time = parseInternetDate(text);
        ASSERT_TRUE(time) << text;
        EXPECT_EQ(formatInternetDate(*time), written);
        EXPECT_EQ(parseInternetDate(written), time);
    }
}

TEST(InternetDate, RefusesOtherFormsAndTimesTheClockCannotHold) {
    // The system clock counts nanoseconds: years 1677 to 2262. Nothing may wrap around to another time.
    for (const char* text :
         {"2026-01-05T10:00:00.5Z", "2026-01-05 10:00:00Z", "2026-02-30T10:00:00Z", "0999-06-01T00:00:00Z",
          "1677-09-21T00:00:00Z", "2262-04-12T00:00:00Z", "0000-01-01T00:00:00+00:01", "9999-12-31T23:59:60Z"})
        EXPECT_FALSE(parseInternetDate(text)) << text;
}
