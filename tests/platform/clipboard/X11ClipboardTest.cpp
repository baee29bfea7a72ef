#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/clipboard/ClipboardController.h"
#include "agent/support/ChildProcess.h"
#include "platform/linux/clipboard/X11Clipboard.h"
#include "protocol/WireError.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/platform/clipboard/TestSelectionOwner.h"
#include "tests/support/Subprocess.h"

using namespace kx;
using kx::e2e::eventually;
using kx::testing::Subprocess;
using kx::testing::TestSelectionOwner;

namespace {

constexpr const char* kXclip = "/usr/bin/xclip";  // Debian's xclip package

class X11ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || !controller.isAvailable()) GTEST_SKIP() << "no X display (start the services)";
        if (!std::filesystem::exists(kXclip)) GTEST_SKIP() << "xclip is not installed";
    }

    // xclip takes the selection with the text and serves it until another owner takes it.
    void xclipSets(const std::string& text) {
        auto& xclip = owners.emplace_back(
            std::make_unique<Subprocess>(std::vector<std::string>{kXclip, "-quiet", "-selection", "clipboard", "-i"},
                                         Subprocess::Options{.pipeInput = true, .quiet = true}));
        for (std::size_t done = 0; done < text.size();) {
            ssize_t n = ::write(xclip->input(), text.data() + done, text.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<std::size_t>(n);
        }
        xclip->closeInput();
    }
    std::string xclipReads() {
        return ChildProcess::run(kXclip, {"-selection", "clipboard", "-o"}, {.timeLimit = std::chrono::seconds(20)})
            .standardOutput;
    }
    std::optional<std::string> agentReads() {
        try {
            return controller.read();
        } catch (const WireError&) {
            return std::nullopt;
        }
    }
    WireError failure(const std::function<void()>& action) {
        try {
            action();
        } catch (const WireError& error) {
            return error;
        }
        return {};
    }

    ClipboardController controller{std::make_shared<X11Clipboard>()};
    std::vector<std::unique_ptr<Subprocess>> owners;
};

}  // namespace

TEST_F(X11ClipboardTest, GetsWhatAnotherApplicationSetAsValidUTF8) {
    for (auto [set, read] : {std::pair<std::string, std::string>{"h\xC3\xA9llo\n  ", "h\xC3\xA9llo\n  "},
                             {"a\xFF"
                              "b",
                              "a\xEF\xBF\xBD"
                              "b"}}) {  // a stray byte becomes U+FFFD
        xclipSets(set);
        EXPECT_TRUE(eventually([&] { return agentReads() == read; })) << read;
    }
}

// Text at the limit is set, one character more leaves the clipboard untouched.
TEST_F(X11ClipboardTest, AnotherApplicationPastesWhatTheAgentSetUntilItTakesTheClipboard) {
    const std::string atLimit(ClipboardController::textLimit, 'a');
    controller.write("");
    EXPECT_EQ(xclipReads(), "");
    controller.write(atLimit);
    EXPECT_EQ(xclipReads(), atLimit);
    EXPECT_EQ(failure([&] { controller.write(atLimit + "b"); }), WireError::invalidParams("Text is too large"));
    EXPECT_EQ(xclipReads(), atLimit);  // still served after a paste

    xclipSets("taken over");
    EXPECT_TRUE(eventually([&] { return agentReads() == "taken over"; }));
}

TEST_F(X11ClipboardTest, LargeTextTravelsInPiecesBothWays) {
    // 65,000 family emoji of 18 bytes: above the single-piece size of the agent and of xclip.
    std::string large;
    for (int i = 0; i < 65000; ++i) large += "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA6";
    controller.write(large);
    EXPECT_EQ(xclipReads(), large);

    xclipSets(large + "!");
    EXPECT_TRUE(eventually([&] { return agentReads() == large + "!"; }, std::chrono::seconds(20)));
    EXPECT_EQ(controller.preview(), (ClipboardPreview{"text", 65001}));
}

TEST_F(X11ClipboardTest, AnItemMarkedSecretIsRefusedButStillPeeks) {
    const WireError refused(ErrorCode::permissionDenied, "That clipboard item is marked private");
    struct Case {
        std::map<std::string, std::string> items;
        std::optional<std::string> text;
        std::optional<ClipboardPreview> preview;
        WireError error;
    } const cases[] = {
        {{{"UTF8_STRING", "hunter2"}, {"x-kde-passwordManagerHint", "secret"}}, {}, {{"text", 7}}, refused},
        {{{"UTF8_STRING", "https://x.test"}, {"x-kde-passwordManagerHint", "public"}},
         "https://x.test",
         {{"link", 14}},
         {}},
        {{{"image/png", "\x89PNG"}}, std::nullopt, std::nullopt, {}},  // no text at all
    };
    for (const auto& c : cases) {
        TestSelectionOwner owner(c.items);
        ASSERT_TRUE(owner.ownsSelection());
        EXPECT_EQ(failure([&] { EXPECT_EQ(controller.read(), c.text); }), c.error);
        EXPECT_EQ(controller.preview(), c.preview);
    }
}
