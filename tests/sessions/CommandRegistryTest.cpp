#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>

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

// One row per file on disk: the commands kept, the templates, and whether the original was kept
// aside. A file without readable templates gets the defaults, written at start (after keeping a
// damaged original aside); one with readable templates is not written at all.
TEST(CommandRegistry, KeepsWhatItCanReadOfTheFile) {
    const std::string dup = command("c_1", "true");
    const struct {
        std::string text;
        std::vector<std::string> kept;
        std::size_t templates;
        bool aside;
    } rows[] = {
        {"", {}, 2, true},
        {"{not json", {}, 2, true},
        {R"({"commands": []})", {}, 2, true},
        {R"({"commands": {}, "templates": []})", {}, 2, true},
        {"[1, 2]", {}, 2, true},
        {R"({"commands": [)" + dup + "," + dup + R"(], "templates": []})", {"c_1"}, 2, false},  // a duplicate id
        {R"({"commands":[)" + command("c_1", "true") + "," + command("c_2", "\"no\"") + "," + command("c_3", "false") +
             R"(],"templates":[)" + kTemplate + "]}",
         {"c_1", "c_3"},
         1,
         false},
        {R"({"templates":[)" + kTemplate + R"(],"commands":[)" + command("c_1", "true") + "," +
             command("c_3", "false") + "," + command("c_4", "true").substr(0, 30),
         {"c_1", "c_3"},
         1,
         false},
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
        EXPECT_EQ(CommandRegistry(file, false).templates().size(), row.templates) << "not replaced";
        if (row.templates == 1) {
            EXPECT_EQ(readWholeFile(file), row.text);  // not written at all
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), row.aside ? 2 : 1);
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

TEST(CommandRegistry, AFailedWriteLeavesMemoryAuthoritative) {
    TempFolder folder("registry");
    CommandRegistry registry(folder / "missing" / CommandRegistry::kFileName, true);
    EXPECT_EQ(registry.templates().size(), 2u);
    EXPECT_TRUE(registry.saveError());
}
