#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <thread>

#include "agent/sessions/CommandRegistry.h"
#include "agent/support/AtomicFile.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using kx::testing::TempFolder;

namespace {

std::vector<std::string> names(const std::vector<SessionTemplate>& templates) {
    std::vector<std::string> out;
    for (const auto& t : templates) out.push_back(t.name);
    return out;
}

const std::vector<std::string> kDefaultNames{"Claude Code", "Shell"};
const SavedCommand kBuild{"c_build", "Build", "hammer", "make -j2", "t_x", false};

void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

std::string command(const std::string& id, const std::string& danger) {
    return R"({"id":")" + id + R"(","name":")" + id + R"(","icon":"i","command":"make","templateId":"t_1","danger":)" +
           danger + "}";
}

const std::string kTemplate = R"({"id":"t_1","name":"Work","icon":"i","cwd":"/srv","program":""})";

}  // namespace

TEST(CommandRegistry, FirstStartSeedsTheTwoTemplatesAndKeepsEverythingAcrossARestart) {
    TempFolder folder("registry");
    auto file = folder / CommandRegistry::kFileName;
    {
        CommandRegistry registry(file, true);
        EXPECT_TRUE(registry.allCommands().empty());
        EXPECT_EQ(names(registry.templates()), kDefaultNames);
        registry.upsert(kBuild);
    }
    CommandRegistry restarted(file, true);
    EXPECT_EQ(restarted.allCommands(), std::vector<SavedCommand>{kBuild});
    EXPECT_EQ(restarted.templates().size(), 2u);  // not seeded a second time

    // Pretty-printed with sorted keys.
    auto text = *readWholeFile(file);
    EXPECT_NE(text.find("\n  \"commands\": ["), std::string::npos);
    EXPECT_TRUE(std::regex_search(text, std::regex("\"command\"[^}]*\"danger\"[^}]*\"icon\"[^}]*\"id\"[^}]*"
                                                   "\"name\"[^}]*\"templateId\"")));
    EXPECT_LT(text.find("\"commands\""), text.find("\"templates\""));
}

// One row per file on disk: the commands kept and the templates. A file without readable templates
// gets the defaults, written at start; one with readable templates is not written until a change,
// and then its damaged original is kept aside.
TEST(CommandRegistry, KeepsWhatItCanReadOfTheFile) {
    const std::string dup = command("c_1", "true");
    const struct {
        std::string text;
        std::vector<std::string> kept;
        std::size_t templates;
    } rows[] = {
        {"", {}, 2},
        {"{not json", {}, 2},
        {R"({"commands": []})", {}, 2},
        {R"({"commands": {}, "templates": []})", {}, 2},
        {"[1, 2]", {}, 2},
        {R"({"commands": [)" + dup + "," + dup + R"(], "templates": []})", {"c_1"}, 2},  // a duplicate id
        {R"({"commands":[)" + command("c_1", "true") + "," + command("c_2", "\"no\"") + "," + command("c_3", "false") +
             R"(],"templates":[)" + kTemplate + "]}",
         {"c_1", "c_3"}, 1},
        {R"({"templates":[)" + kTemplate + R"(],"commands":[)" + command("c_1", "true") + "," + command("c_3", "false") +
             "," + command("c_4", "true").substr(0, 30),
         {"c_1", "c_3"}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        TempFolder folder("commands");
        const auto file = folder / CommandRegistry::kFileName;
        write(file, row.text);
        CommandRegistry registry(file, true);
        std::vector<std::string> kept;
        for (const auto& c : registry.allCommands()) kept.push_back(c.id);
        EXPECT_EQ(kept, row.kept);
        EXPECT_EQ(registry.templates().size(), row.templates);
        if (row.templates == 2) {
            EXPECT_EQ(CommandRegistry(file, false).templates().size(), 2u) << "not replaced";
            continue;
        }
        EXPECT_EQ(readWholeFile(file), row.text);
        registry.remove("c_3");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2) << "kept aside";
        EXPECT_EQ(CommandRegistry(file, false).allCommands().size(), 1u);
        EXPECT_FALSE(registry.saveError());
    }
    // Without seeding nothing is made up.
    TempFolder folder("commands");
    EXPECT_TRUE(CommandRegistry(folder / CommandRegistry::kFileName, false).templates().empty());
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST(CommandRegistry, ListsInCodePointOrderAndMakesWellFormedIDs) {
    CommandRegistry registry(std::nullopt, false);
    registry.upsert(SavedCommand{"c_2", "a", "", "", "", false});
    registry.upsert(SavedCommand{"c_1", "B", "", "", "", false});
    EXPECT_EQ(registry.allCommands()[0].name, "B");

    auto id = CommandRegistry::newID("c");
    EXPECT_TRUE(std::regex_match(id, std::regex("c_[A-Za-z0-9_-]{22}"))) << id;
    EXPECT_NE(id, CommandRegistry::newID("c"));
}

TEST(CommandRegistry, WriteFailuresLeaveMemoryAuthoritative) {
    TempFolder folder("registry");
    CommandRegistry registry(folder / "missing" / CommandRegistry::kFileName, true);
    registry.upsert(kBuild);
    EXPECT_EQ(registry.allCommands().size(), 1u);
    EXPECT_EQ(registry.templates().size(), 2u);
}

TEST(CommandRegistry, ConcurrentChangesAllReachTheFile) {
    TempFolder folder("registry");
    auto file = folder / CommandRegistry::kFileName;
    CommandRegistry registry(file, false);
    constexpr int kThreads = 4, kEach = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                registry.upsert(
                    SavedCommand{"c_" + std::to_string(t) + "_" + std::to_string(i), "n", "", "", "", false});
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(CommandRegistry(file, false).allCommands().size(), static_cast<std::size_t>(kThreads * kEach));
}
