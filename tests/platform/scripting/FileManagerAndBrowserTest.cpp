#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "agent/scripting/ScriptFailure.h"
#include "platform/linux/scripting/FreedesktopFileManager.h"
#include "platform/linux/scripting/GioWebBrowser.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using kx::e2e::eventually;
using kx::testing::PrivateBus;
using kx::testing::TempFolder;

namespace {

constexpr const char* kInterface = "org.freedesktop.FileManager1";

// org.freedesktop.FileManager1 on a private bus, recording each call as "Method uri...".
class FakeFileManager {
public:
    explicit FakeFileManager(const std::string& address) : bus_(sdbus::createSessionBusConnectionWithAddress(address)) {
        bus_->requestName(kInterface);
        object_ = sdbus::createObject(*bus_, "/org/freedesktop/FileManager1");
        for (const char* method : {"ShowItems", "ShowFolders"})
            object_->registerMethod(method)
                .onInterface(kInterface)
                .implementedAs([this, method](const std::vector<std::string>& uris, const std::string&) {
                    std::lock_guard guard(lock_);
                    std::string call = method;
                    for (const auto& uri : uris) call += " " + uri;
                    calls_.push_back(call);
                });
        object_->finishRegistration();
        bus_->enterEventLoopAsync();
    }
    ~FakeFileManager() {
        bus_->leaveEventLoop();
        object_.reset();
    }
    std::vector<std::string> calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> calls_;
    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> object_;
};

void write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

class FileManagerAndBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << "dbus-daemon is not available";
        std::filesystem::create_directory(folder / "dir \xC3\xBC");
        write(folder / "a b#c%\xC3\xA9.txt", "x");
    }
    std::string base() const { return "file://" + folder.path().string(); }

    PrivateBus bus;
    TempFolder folder{"files"};
};

// The desktop's default applications, as GIO reads them, replaced by one that notes each URI it is
// given. Set before GIO is first used in this process.
class DefaultHandlerTest : public FileManagerAndBrowser {
protected:
    void SetUp() override {
        FileManagerAndBrowser::SetUp();
        if (IsSkipped()) return;
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus (start the test services)";
        const auto script = desktop / "record";
        write(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log().string() + "'\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        write(desktop / "data/applications/kx-recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script.string() +
                  " %u\nMimeType=inode/directory;x-scheme-handler/http;x-scheme-handler/https;\n");
        write(desktop / "config/mimeapps.list",
              "[Default Applications]\ninode/directory=kx-recorder.desktop\n"
              "x-scheme-handler/http=kx-recorder.desktop\nx-scheme-handler/https=kx-recorder.desktop\n");
        for (auto [name, sub] : {std::pair{"XDG_DATA_HOME", "data"},
                                 {"XDG_DATA_DIRS", "data"},
                                 {"XDG_CONFIG_HOME", "config"},
                                 {"XDG_CONFIG_DIRS", "config"}})
            ::setenv(name, (desktop / sub).c_str(), 1);
    }
    std::filesystem::path log() const { return desktop / "opened.log"; }
    std::string opened() const {
        std::ifstream in(log());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempFolder desktop{"desktop"};
};

}  // namespace

TEST_F(FileManagerAndBrowser, RevealAndOpenReachTheFileManagerAsEncodedURIs) {
    FakeFileManager fake(bus.address());
    FreedesktopFileManager files(busOpenerAt(bus.address()));
    files.reveal((folder / "a b#c%\xC3\xA9.txt").string());
    files.open((folder / "dir \xC3\xBC").string());
    EXPECT_EQ(fake.calls(), (std::vector<std::string>{"ShowItems " + base() + "/a%20b%23c%25%C3%A9.txt",
                                                      "ShowFolders " + base() + "/dir%20%C3%BC"}));
}

TEST_F(DefaultHandlerTest, WithoutAFileManagerFoldersAndWebAddressesOpenInTheDefaultApplication) {
    FreedesktopFileManager files(busOpenerAt(bus.address()));  // nobody owns FileManager1 there
    files.open((folder / "dir \xC3\xBC").string());
    files.reveal((folder / "a b#c%\xC3\xA9.txt").string());  // shows the folder it is in
    GioWebBrowser().open("https://example.test/a?b=1");
    // GIO hands local files to the application as paths.
    const std::string dir = folder.path().string();
    const std::vector<std::string> lines{dir + "/dir \xC3\xBC\n", dir + "\n", "https://example.test/a?b=1\n"};
    EXPECT_TRUE(eventually([&] { return opened().size() >= lines[0].size() + lines[1].size() + lines[2].size(); }));
    // Each launch runs on its own: the order they finish in is not fixed.
    for (const auto& line : lines) EXPECT_NE(opened().find(line), std::string::npos) << line << " in " << opened();

    // A file whose type no application opens.
    try {
        files.open((folder / "a b#c%\xC3\xA9.txt").string());
        ADD_FAILURE() << "a file without an application was opened";
    } catch (const ScriptFailure& failure) {
        EXPECT_EQ(failure.reason(), ScriptFailure::Reason::failed);
    }
}
