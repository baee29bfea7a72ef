// Arbitrary bytes as "devices.json": the registry loads what it can read without crashing, answers
// for every device it lists, and writes a file that loads back to the same devices.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "agent/pairing/DeviceRegistry.h"
#include "tests/support/TempFolder.h"

namespace {

const std::filesystem::path& devicesFile() {
    static const kx::testing::TempFolder folder("fuzz-devices");
    static const std::filesystem::path file = folder / kx::DeviceRegistry::fileName;
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream(devicesFile(), std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
    kx::DeviceRegistry registry(devicesFile());
    const auto devices = registry.all();
    for (const auto& device : devices) {
        if (registry.device(device.id) != device) std::abort();
        device.signingKey();
    }
    if (devices.empty()) return 0;
    registry.registerDevice(devices.front());  // rewrites the file from memory
    if (kx::DeviceRegistry(devicesFile()).all() != registry.all()) std::abort();
    return 0;
}
