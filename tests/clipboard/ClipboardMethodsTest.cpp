#include <gtest/gtest.h>

#include "agent/clipboard/ClipboardMethods.h"
#include "agent/clipboard/PasteboardFailure.h"
#include "agent/support/PlatformText.h"
#include "tests/support/RouterCall.h"

using namespace kx;
using kx::testing::call;

// The rules above the pasteboard; reading, owning and private items on a real display are
// X11ClipboardTest's.

namespace {

// A clipboard in memory that can be told to refuse writes or to stop answering altogether.
struct MemoryPasteboard : Pasteboard {
    std::optional<std::string> text;
    bool refusesWrites = false;
    bool hangs = false;

    bool isAvailable() override { return !hangs; }
    bool isMarkedPrivate() override { return answer(false); }
    std::optional<PasteboardText> readText() override {
        return answer(text ? std::optional(PasteboardText{*text, true}) : std::nullopt);
    }
    void writeText(const std::string& newText) override {
        if (refusesWrites) throw PasteboardFailure(PasteboardFailure::Reason::refused, "refused");
        text = newText;
    }
    template <class T>
    T answer(T value) const {
        if (hangs) throw PasteboardFailure(PasteboardFailure::Reason::timedOut, "no answer");
        return value;
    }
};

class ClipboardMethods : public ::testing::Test {
protected:
    void SetUp() override { registerClipboardMethods(router, std::make_shared<ClipboardController>(pasteboard)); }

    std::shared_ptr<MemoryPasteboard> pasteboard = std::make_shared<MemoryPasteboard>();
    CommandRouter router;
};

}  // namespace

// The capability and the order of requests are the end-to-end test's.
TEST_F(ClipboardMethods, AllThreeMethodsNeedAnAuthenticatedDevice) {
    for (const char* method : {"clipboard.get", "clipboard.peek", "clipboard.set"})
        EXPECT_EQ(router.dispatch(Envelope::request("1", method), RequestContext{}).e->code, ErrorCode::unauthorized);
}

TEST_F(ClipboardMethods, PeekNamesTheKindAndCountsUserPerceivedCharacters) {
    struct Case {
        std::optional<std::string> text;
        JSONObject expected;
    } const cases[] = {
        {std::nullopt, {{"empty", true}}},
        {"https://example.com/a b", {{"empty", false}, {"kind", "link"}, {"characters", 23}}},
        {"http://x", {{"empty", false}, {"kind", "link"}, {"characters", 8}}},
        {"HTTPS://EXAMPLE.COM", {{"empty", false}, {"kind", "text"}, {"characters", 19}}},
        {"two lines\nof words", {{"empty", false}, {"kind", "text block"}, {"characters", 18}}},
        // A family emoji and an e with a combining accent: two characters.
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"
         "e\xCC\x81",
         {{"empty", false}, {"kind", "text"}, {"characters", 2}}},
        {std::string(ClipboardController::textLimit + 1, 'a'),
         {{"empty", false}, {"kind", "text"}, {"characters", 65537}}},  // no limit on peeking
    };
    for (const auto& c : cases) {
        pasteboard->text = c.text;
        EXPECT_EQ(call(router, "clipboard.peek").p, c.expected) << c.text.value_or("(none)");
    }
    EXPECT_EQ(call(router, "clipboard.get").e, WireError(ErrorCode::unsupported, "Clipboard is too large to send"));
}

TEST_F(ClipboardMethods, AFailedWriteLeavesThePreviousContents) {
    pasteboard->text = "keep me";
    pasteboard->refusesWrites = true;
    EXPECT_EQ(call(router, "clipboard.set", {{"text", "new"}}).e,
              WireError(ErrorCode::internal, "Could not write the clipboard"));
    EXPECT_EQ(pasteboard->text, "keep me");
    for (const JSONObject& params : {JSONObject{}, JSONObject{{"text", 5}}})
        EXPECT_EQ(call(router, "clipboard.set", params).e, WireError::invalidParams("text is required"));
}

TEST(ClipboardMethodsUnreachable, StillAnswerButOfferAHintInsteadOfTheCapability) {
    auto pasteboard = std::make_shared<MemoryPasteboard>();
    pasteboard->hangs = true;
    CommandRouter router;
    registerClipboardMethods(router, std::make_shared<ClipboardController>(pasteboard));
    EXPECT_TRUE(router.capabilities().empty());
    EXPECT_EQ(router.unavailable().at(Capability::clipboardText).message, PlatformText::clipboardUnreachable);
    auto reply = call(router, "clipboard.get");
    EXPECT_EQ(reply.e, WireError(ErrorCode::timeout, "The clipboard did not answer in time"));
}
