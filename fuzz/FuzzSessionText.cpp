// Text the session family takes from outside: commands.json, tmux's session list, and names and
// text from the phone. None of it may crash, and what sanitising makes must be a valid id.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/sessions/CommandFile.h"
#include "agent/sessions/SessionController.h"
#include "agent/support/GraphemeCount.h"
#include "agent/support/UTF8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto file = kx::CommandFile::decode(text)) {
        auto again = kx::CommandFile::decode(file->encode());
        if (!again || again->commands != file->commands || again->templates != file->templates) std::abort();
    }
    for (const auto& session : kx::SessionController::parseSessions(text))
        if (!kx::SessionController::isValidSessionID(session.id)) std::abort();
    auto repaired = kx::repairUTF8(text);
    auto id = std::string(kx::SessionController::prefix) + kx::SessionController::sanitise(repaired);
    if (!kx::SessionController::isValidSessionID(id)) std::abort();
    kx::graphemeCount(text);
    return 0;
}
