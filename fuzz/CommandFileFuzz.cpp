// Arbitrary bytes as "commands.json": the registry loads what it can read without crashing, finds
// every entry it lists by its id, and writes a file that loads back to the same entries.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/sessions/CommandRegistry.h"
#include "fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& file = kx::fuzz::inputFile(kx::CommandRegistry::kFileName, data, size);
    kx::CommandRegistry registry(file, false);
    for (const auto& command : registry.allCommands())
        if (registry.command(command.id) != command) std::abort();
    for (const auto& sessionTemplate : registry.templates())
        if (registry.sessionTemplate(sessionTemplate.id) != sessionTemplate) std::abort();
    // Removing an id that no entry has rewrites the file from memory (a file may hold any id, "" too).
    std::string absent = "absent";
    while (registry.command(absent)) absent += "!";
    registry.remove(absent);
    kx::CommandRegistry reloaded(file, false);
    if (reloaded.allCommands() != registry.allCommands() || reloaded.templates() != registry.templates()) std::abort();
    return 0;
}
