#include <gtest/gtest.h>

#include <fstream>

#include "agent/sessions/CommandRegistry.h"
#include "agent/support/AtomicFile.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

std::string command(const std::string& id, const std::string& danger) {
    return R"({"id":")" + id + R"(","name":")" + id + R"(","icon":"i","command":"make","templateId":"t_1","danger":)" +
           danger + "}";
}

const std::string kTemplate = R"({"id":"t_1","name":"Work","icon":"i","cwd":"/srv","program":""})";

}  // namespace

TEST(DamagedCommandFile, KeepsReadableCommandsAndTheOriginalBeforeTheFirstWrite) {
    const std::string badDanger = R"({"commands":[)" + command("c_1", "true") + "," + command("c_2", "\"no\"") + "," +
                                  command("c_3", "false") + R"(],"templates":[)" + kTemplate + "]}";
    const std::string truncated = R"({"templates":[)" + kTemplate + R"(],"commands":[)" + command("c_1", "true") + "," +
                                  command("c_3", "false") + "," + command("c_4", "true").substr(0, 30);
    for (const auto& text : {badDanger, truncated}) {
        SCOPED_TRACE(text);
        kx::testing::TempFolder folder("commands");
        const auto file = folder / CommandRegistry::kFileName;
        std::ofstream(file) << text;

        CommandRegistry registry(file, true);
        std::vector<std::string> kept;
        for (const auto& c : registry.allCommands()) kept.push_back(c.id);
        EXPECT_EQ(kept, (std::vector<std::string>{"c_1", "c_3"}));
        ASSERT_EQ(registry.templates().size(), 1u);  // readable templates: no defaults, no write at start
        EXPECT_EQ(readWholeFile(file), text);

        registry.remove("c_3");
        const auto asides = std::distance(std::filesystem::directory_iterator(folder.path()), {}) - 1;
        EXPECT_EQ(asides, 1);
        EXPECT_EQ(CommandRegistry(file, false).allCommands().size(), 1u);
        EXPECT_FALSE(registry.saveError());
    }
}
