// Arbitrary bytes as "devices.json": the registry loads what it can read without crashing, answers
// for every device it lists, and writes a file that loads back to the same devices.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/pairing/DeviceRegistry.h"
#include "fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& file = kx::fuzz::inputFile(kx::DeviceRegistry::fileName, data, size);
    kx::DeviceRegistry registry(file);
    const auto devices = registry.all();
    for (const auto& device : devices) {
        if (registry.device(device.id) != device) std::abort();
        device.signingKey();
    }
    if (devices.empty()) return 0;
    registry.registerDevice(devices.front());  // rewrites the file from memory
    if (kx::DeviceRegistry(file).all() != registry.all()) std::abort();
    return 0;
}
