#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/support/AtomicFile.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

constexpr int kRuns = 40;
constexpr int kWindow = 3;  // the child keeps the last kWindow devices, briefly kWindow + 1
constexpr int kMaxKillDelayMicroseconds = 30'000;
constexpr int kReadyDescriptor = 3;

std::string idFor(long n) {
    return "d_" + std::to_string(n);
}

// Pairs device n, then revokes device n - kWindow, forever; tells the parent once the file exists.
[[noreturn]] void pairAndRevokeForever(const std::filesystem::path& file, int readyPipe) {
    DeviceRegistry registry(file);
    const auto start = std::chrono::system_clock::time_point(std::chrono::seconds(1'767'607'200));
    for (long n = 0;; ++n) {
        registry.registerDevice({idFor(n), "Phone " + std::to_string(n), "7yTcMOXnRJrXSMOyTwcaTOdGn0jJPtpQ63mnW7gbz9w",
                                 start + std::chrono::seconds(n), std::nullopt, "iOS"});
        if (n >= kWindow) registry.revoke(idFor(n - kWindow));
        if (n == 0) {
            char ready = 1;
            (void)!::write(readyPipe, &ready, 1);
            ::close(readyPipe);
        }
    }
}

// The file holds one state the child passed through: consecutive ids, each entry complete.
void expectConsistent(const std::filesystem::path& file) {
    auto text = readWholeFile(file);
    ASSERT_TRUE(text) << "devices.json vanished";
    auto json = nlohmann::json::parse(*text, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << "torn file:\n" << *text;
    ASSERT_TRUE(json.is_array());
    ASSERT_GE(json.size(), 1u);
    ASSERT_LE(json.size(), std::size_t{kWindow + 1});
    std::vector<long> numbers;
    for (const auto& entry : json) {
        auto device = PairedDevice::fromFileJSON(entry);
        ASSERT_TRUE(device) << entry.dump();
        numbers.push_back(std::stol(device->id.substr(2)));
        EXPECT_EQ(device->name, "Phone " + device->id.substr(2));
    }
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
    EXPECT_EQ(DeviceRegistry(file).all().size(), json.size());
}

}  // namespace

TEST(DeviceRegistryCrash, AKilledWriterAlwaysLeavesACompleteFile) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(0, kMaxKillDelayMicroseconds);
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        kx::testing::TempFolder folder("crash");
        const auto file = folder / "devices.json";
        kx::testing::Subprocess writer([&]() -> int { pairAndRevokeForever(file, kReadyDescriptor); },
                                       {.notice = kReadyDescriptor});
        char ready = 0;
        ASSERT_EQ(::read(writer.notice(), &ready, 1), 1) << "child died before its first write";
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        writer.signal(SIGKILL);
        ASSERT_TRUE(writer.waitFor(std::chrono::seconds(10)));
        ASSERT_EQ(writer.endingSignal(), SIGKILL);
        expectConsistent(file);
    }
}
