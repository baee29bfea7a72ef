// Arbitrary bytes as "commands.json": the registry loads what it can read without crashing, finds
// every entry it lists by its id, and writes a file that loads back to the same entries.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "agent/sessions/CommandRegistry.h"
#include "tests/support/TempFolder.h"

namespace {

const std::filesystem::path& commandsFile() {
    static const kx::testing::TempFolder folder("fuzz-commands");
    static const std::filesystem::path file = folder / kx::CommandRegistry::kFileName;
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream(commandsFile(), std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
    kx::CommandRegistry registry(commandsFile(), false);
    for (const auto& command : registry.allCommands())
        if (registry.command(command.id) != command) std::abort();
    for (const auto& sessionTemplate : registry.templates())
        if (registry.sessionTemplate(sessionTemplate.id) != sessionTemplate) std::abort();
    registry.remove("");  // rewrites the file from memory
    kx::CommandRegistry reloaded(commandsFile(), false);
    if (reloaded.allCommands() != registry.allCommands() || reloaded.templates() != registry.templates()) std::abort();
    return 0;
}
