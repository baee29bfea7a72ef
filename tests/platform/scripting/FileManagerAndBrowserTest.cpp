#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "agent/scripting/ScriptFailure.h"
#include "agent/support/AtomicFile.h"
#include "platform/linux/scripting/FreedesktopFileManager.h"
#include "platform/linux/scripting/GioWebBrowser.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using kx::e2e::eventually;
using kx::testing::TempFolder;

namespace {

const std::string kFile = "a b#c%\xC3\xA9.txt", kFolder = "dir \xC3\xBC";

void write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

class FileManagerAndBrowser : public kx::testing::PrivateBusTest {
protected:
    void SetUp() override {
        PrivateBusTest::SetUp();
        std::filesystem::create_directory(folder / kFolder);
        write(folder / kFile, "x");
    }

    TempFolder folder{"files"};
    FreedesktopFileManager files{busOpenerAt(bus.address())};
};

}  // namespace

TEST_F(FileManagerAndBrowser, RevealAndOpenReachTheFileManagerAsEncodedURIs) {
    // org.freedesktop.FileManager1 on the private bus, noting each call as "Method uri".
    std::mutex lock;
    std::vector<std::string> calls;
    auto connection = sdbus::createSessionBusConnectionWithAddress(bus.address());
    connection->requestName("org.freedesktop.FileManager1");
    auto manager = sdbus::createObject(*connection, "/org/freedesktop/FileManager1");
    for (std::string method : {"ShowItems", "ShowFolders"})
        manager->registerMethod(method)
            .onInterface("org.freedesktop.FileManager1")
            .implementedAs([&, method](const std::vector<std::string>& uris, const std::string&) {
                std::lock_guard guard(lock);
                for (const auto& uri : uris) calls.push_back(method + " " + uri);
            });
    manager->finishRegistration();
    connection->enterEventLoopAsync();

    files.reveal((folder / kFile).string());
    files.open((folder / kFolder).string());
    connection->leaveEventLoop();
    const std::string base = "file://" + folder.path().string();
    EXPECT_EQ(calls, (std::vector<std::string>{"ShowItems " + base + "/a%20b%23c%25%C3%A9.txt",
                                               "ShowFolders " + base + "/dir%20%C3%BC"}));
}

// Nobody owns FileManager1 on the private bus. GIO reads the desktop's default applications from a
// sandbox, set before it is first used in this process, where one program notes what it is given.
TEST_F(FileManagerAndBrowser, WithoutAFileManagerFoldersAndWebAddressesOpenInTheDefaultApplication) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus (start the test services)";
    TempFolder desktop{"desktop"};
    const auto log = desktop / "opened.log", script = desktop / "record";
    write(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log.string() + "'\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    write(desktop / "data/applications/kx-recorder.desktop",
          "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script.string() + " %u\n");
    write(desktop / "config/mimeapps.list",
          "[Default Applications]\ninode/directory=kx-recorder.desktop\nx-scheme-handler/https=kx-recorder.desktop\n");
    for (auto [name, sub] : {std::pair{"XDG_DATA_HOME", "data"},
                             {"XDG_DATA_DIRS", "data"},
                             {"XDG_CONFIG_HOME", "config"},
                             {"XDG_CONFIG_DIRS", "config"}})
        ::setenv(name, (desktop / sub).c_str(), 1);

    files.open((folder / kFolder).string());
    files.reveal((folder / kFile).string());  // shows the folder it is in
    GioWebBrowser().open("https://example.test/a?b=1");
    // GIO hands local files over as paths; each launch runs on its own, in no fixed order.
    const std::string dir = folder.path().string();
    const std::vector<std::string> lines{dir + "/" + kFolder + "\n", dir + "\n", "https://example.test/a?b=1\n"};
    auto opened = [&] { return readWholeFile(log).value_or(""); };
    EXPECT_TRUE(eventually([&] { return opened().size() >= lines[0].size() + lines[1].size() + lines[2].size(); }));
    for (const auto& line : lines) EXPECT_NE(opened().find(line), std::string::npos) << line << " in " << opened();

    try {
        files.open((folder / kFile).string());  // no application opens text here
        ADD_FAILURE() << "a file without an application was opened";
    } catch (const ScriptFailure& failure) {
        EXPECT_EQ(failure.wireError(), WireError(ErrorCode::internal, "Could not talk to that app"));
    }
}
