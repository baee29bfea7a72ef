#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/clipboard/ClipboardController.h"
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

constexpr auto kXclipTimeLimit = std::chrono::seconds(20);
// Seven code points joined into one character, 25 bytes.
const std::string kFamily =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D"
    "\xF0\x9F\x91\xA6";

std::string repeated(const std::string& piece, std::size_t count) {
    std::string out;
    out.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) out += piece;
    return out;
}

// Everything the descriptor gives until end of file; absent when it does not end in time.
std::optional<std::string> readAll(int descriptor) {
    const auto deadline = std::chrono::steady_clock::now() + kXclipTimeLimit;
    std::string out;
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{descriptor, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got <= 0) return out;
        out.append(buffer, static_cast<std::size_t>(got));
    }
}

class X11ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (start the test services)";
        if (!controller.isAvailable()) GTEST_SKIP() << "the X display cannot be reached";
        try {
            Subprocess probe({"xclip", "-version"}, {.quiet = true});
            probe.waitFor(kXclipTimeLimit);
        } catch (const std::system_error&) {
            GTEST_SKIP() << "xclip is not installed";
        }
    }

    // xclip takes the selection with the text and serves it until another owner takes it.
    void xclipSets(const std::string& text) {
        auto xclip =
            std::make_unique<Subprocess>(std::vector<std::string>{"xclip", "-quiet", "-selection", "clipboard", "-i"},
                                         Subprocess::Options{.pipeInput = true, .quiet = true});
        for (std::size_t written = 0; written < text.size();) {
            ssize_t n = ::write(xclip->input(), text.data() + written, text.size() - written);
            ASSERT_GT(n, 0);
            written += static_cast<std::size_t>(n);
        }
        xclip->closeInput();
        owners.push_back(std::move(xclip));
    }
    std::optional<std::string> xclipReads() {
        Subprocess xclip({"xclip", "-selection", "clipboard", "-o"}, {.pipeOutput = true, .quiet = true});
        auto text = readAll(xclip.output());
        xclip.waitFor(kXclipTimeLimit);
        if (xclip.exitCode() != 0) return std::nullopt;
        return text;
    }
    std::optional<std::string> agentReads() {
        try {
            return controller.read();
        } catch (const WireError&) {
            return std::nullopt;
        }
    }

    std::shared_ptr<X11Clipboard> pasteboard = std::make_shared<X11Clipboard>();
    ClipboardController controller{pasteboard};
    std::vector<std::unique_ptr<Subprocess>> owners;
};

}  // namespace

TEST_F(X11ClipboardTest, GetsWhatAnotherApplicationSetAsValidUTF8) {
    struct Case {
        std::string set, read;
    } const cases[] = {
        {"h\xC3\xA9llo w\xC3\xB6rld\n  ", "h\xC3\xA9llo w\xC3\xB6rld\n  "},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},  // a stray byte becomes U+FFFD
    };
    for (const auto& c : cases) {
        xclipSets(c.set);
        EXPECT_TRUE(eventually([&] { return agentReads() == c.read; })) << c.read;
    }
}

TEST_F(X11ClipboardTest, AnotherApplicationPastesWhatTheAgentSetUntilItTakesTheClipboard) {
    controller.write("from the phone \xE2\x9C\x93");
    EXPECT_EQ(xclipReads(), "from the phone \xE2\x9C\x93");
    EXPECT_EQ(xclipReads(), "from the phone \xE2\x9C\x93");  // still served after a paste
    controller.write("");
    EXPECT_EQ(xclipReads(), "");

    xclipSets("taken over");
    EXPECT_TRUE(eventually([&] { return agentReads() == "taken over"; }));
}

TEST_F(X11ClipboardTest, TextAtTheLimitIsSetAndOneCharacterMoreLeavesTheClipboardUntouched) {
    const std::string atLimit(ClipboardController::textLimit, 'a');
    controller.write(atLimit);
    EXPECT_EQ(xclipReads(), atLimit);
    try {
        controller.write(atLimit + "b");
        ADD_FAILURE() << "text over the limit was written";
    } catch (const WireError& error) {
        EXPECT_EQ(error, WireError::invalidParams("Text is too large"));
    }
    EXPECT_EQ(xclipReads(), atLimit);
}

TEST_F(X11ClipboardTest, LargeTextTravelsInPiecesBothWays) {
    // 60,000 characters of 25 bytes: above every single-piece size, agent's and xclip's alike.
    const std::string large = repeated(kFamily, 60000);
    controller.write(large);
    EXPECT_EQ(xclipReads(), large);

    xclipSets(large + "!");
    EXPECT_TRUE(eventually([&] { return agentReads() == large + "!"; }, std::chrono::seconds(20)));
    auto preview = controller.preview();
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->characters, 60001u);
}

TEST_F(X11ClipboardTest, AnItemMarkedSecretIsRefusedButStillPeeks) {
    struct Case {
        std::map<std::string, std::string> items;
        std::optional<std::string> text;  // absent: refused as private
        std::optional<ClipboardPreview> preview;
    } const cases[] = {
        {{{"UTF8_STRING", "hunter2"}, {"x-kde-passwordManagerHint", "secret"}},
         std::nullopt,
         ClipboardPreview{"text", 7}},
        {{{"UTF8_STRING", "https://x.test"}, {"x-kde-passwordManagerHint", "public"}},
         "https://x.test",
         ClipboardPreview{"link", 14}},
        {{{"image/png", "\x89PNG"}}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        TestSelectionOwner owner(c.items);
        ASSERT_TRUE(owner.ownsSelection());
        if (c.preview && !c.text) {
            try {
                controller.read();
                ADD_FAILURE() << "a private item was read";
            } catch (const WireError& error) {
                EXPECT_EQ(error, WireError(ErrorCode::permissionDenied, "That clipboard item is marked private"));
            }
        } else {
            EXPECT_EQ(controller.read(), c.text);
        }
        EXPECT_EQ(controller.preview(), c.preview);
    }
}
