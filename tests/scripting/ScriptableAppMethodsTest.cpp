#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "agent/scripting/ScriptableAppMethods.h"
#include "agent/support/PlatformText.h"
#include "agent/transport/CommandRouter.h"
#include "tests/support/RouterCall.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

// Records what it is asked to do.
struct RecordingApps : FileManaging, WebBrowsing {
    std::vector<std::string> calls;

    void reveal(const std::string& path) override { record("reveal " + path); }
    void open(const std::string& target) override { record("open " + target); }
    bool readsSelection() const override { return false; }
    std::vector<std::string> selection() override { return record("selection"), std::vector<std::string>{}; }
    void record(std::string call) { calls.push_back(std::move(call)); }
};

class ScriptableAppMethods : public ::testing::Test {
protected:
    void SetUp() override {
        registerScriptableAppMethods(router, std::make_shared<ScriptableAppController>(apps, apps));
    }
    std::optional<WireError> error(const std::string& method, JSONObject params = {}) {
        return kx::testing::call(router, method, std::move(params)).e;
    }

    std::shared_ptr<RecordingApps> apps = std::make_shared<RecordingApps>();
    CommandRouter router;
    kx::testing::TempFolder folder{"scripting"};
};

}  // namespace

TEST_F(ScriptableAppMethods, CapabilitiesThatCannotFullyWorkHereAreLeftOutWithHints) {
    EXPECT_TRUE(router.capabilities().empty());
    auto hints = router.unavailable();
    EXPECT_EQ(hints.at(Capability::appChromeTabs).message, PlatformText::browserTabsUnsupported);
    EXPECT_EQ(hints.at(Capability::appFinder).message, PlatformText::fileSelectionUnsupported);
    for (const char* method : {"app.chrome.tabs.list", "app.chrome.tabs.activate", "app.chrome.tabs.close"})
        EXPECT_EQ(error(method, {{"tabId", 3}}),
                  WireError(ErrorCode::unsupported, PlatformText::browserTabsUnsupported));
    EXPECT_EQ(error("app.finder.selection"), WireError(ErrorCode::unsupported, PlatformText::fileSelectionUnsupported));
    EXPECT_EQ(router.dispatch(Envelope::request("1", "app.finder.open"), RequestContext{}).e->code,
              ErrorCode::unauthorized);
    EXPECT_TRUE(apps->calls.empty());
}

TEST_F(ScriptableAppMethods, OnlyHttpAndHttpsURLsWithAHostReachTheBrowser) {
    const char* accepted[] = {"https://example.com", "HTTP://Example.com/a?b=c#d",
                              "https://user:pw@example.com:8443/path%20x", "http://[::1]:8080/",
                              "https://b\xC3\xBC"
                              "cher.example/"};
    const char* refused[] = {"ftp://example.com/file",
                             "word",
                             "http://",
                             "http:///path",
                             "http:example.com",
                             "https://example.com:port/",
                             "https://exa mple.com/",
                             "https://example.com/\n",
                             "https://example.com/%zz",
                             "https://[::1/",
                             "",
                             "javascript:alert(1)"};
    for (const char* url : accepted) EXPECT_FALSE(error("app.chrome.open", {{"url", url}})) << url;
    for (const char* url : refused)
        EXPECT_EQ(error("app.chrome.open", {{"url", url}}), WireError::invalidParams("Only http and https URLs"))
            << url;
    EXPECT_EQ(apps->calls.size(), std::size(accepted));
    EXPECT_EQ(apps->calls.front(), "open https://example.com");
    EXPECT_EQ(error("app.chrome.open", {{"url", 5}}), WireError::invalidParams("url is required"));
}

TEST_F(ScriptableAppMethods, PathsMustBeAbsoluteAndExistBeforeTheFileManagerIsAsked) {
    const std::string existing = folder.path().string();
    const std::string missing = existing + "/missing";
    struct Case {
        JSONObject params;
        std::optional<WireError> error;
    } const cases[] = {
        {{{"path", existing}}, std::nullopt},
        {{{"path", "relative/file"}}, WireError::invalidParams("Absolute path required")},
        {{{"path", std::string("/tmp\0x", 6)}}, WireError::invalidParams("Absolute path required")},
        {{{"path", missing}}, WireError(ErrorCode::targetNotFound, "That path does not exist")},
        {{}, WireError::invalidParams("path is required")},
    };
    for (const char* method : {"app.finder.reveal", "app.finder.open"})
        for (const auto& c : cases) EXPECT_EQ(error(method, c.params), c.error) << method;
    EXPECT_EQ(apps->calls, (std::vector<std::string>{"reveal " + existing, "open " + existing}));
}
