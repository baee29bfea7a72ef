#include <gtest/gtest.h>

#include "agent/clipboard/ClipboardMethods.h"
#include "agent/support/PlatformText.h"
#include "tests/clipboard/MemoryPasteboard.h"

using namespace kx;
using kx::testing::MemoryPasteboard;

namespace {

const RequestContext kAuthed{"device", true};

class ClipboardMethods : public ::testing::Test {
protected:
    void SetUp() override { registerClipboardMethods(router, std::make_shared<ClipboardController>(pasteboard)); }

    Envelope call(const std::string& method, JSONObject params = {}) {
        return router.dispatch(Envelope::request("1", method, std::move(params)), kAuthed);
    }
    JSONObject result(const std::string& method, JSONObject params = {}) {
        auto reply = call(method, std::move(params));
        EXPECT_EQ(reply.ok, true) << method << ": " << (reply.e ? reply.e->msg : "");
        return reply.p.value_or(JSONObject{});
    }
    WireError error(const std::string& method, JSONObject params = {}) {
        auto reply = call(method, std::move(params));
        EXPECT_EQ(reply.ok, false) << method;
        return reply.e.value_or(WireError{});
    }

    std::shared_ptr<MemoryPasteboard> pasteboard = std::make_shared<MemoryPasteboard>();
    CommandRouter router;
};

}  // namespace

TEST_F(ClipboardMethods, ThreeAuthenticatedMethodsOnOneOrderedTargetUnderClipboardText) {
    EXPECT_EQ(router.capabilityStrings(), (JSONArray{"clipboard.text"}));
    EXPECT_FALSE(router.unavailableWire());
    for (const char* method : {"clipboard.get", "clipboard.peek", "clipboard.set"}) {
        EXPECT_EQ(router.dispatch(Envelope::request("1", method), RequestContext{}).e->code, ErrorCode::unauthorized);
        EXPECT_EQ(router.lane(Envelope::request("1", method)), "clipboard") << method;
    }
}

TEST_F(ClipboardMethods, PeekNamesTheKindAndCountsUserPerceivedCharacters) {
    struct Case {
        std::optional<std::string> text;
        JSONObject expected;
    };
    const Case cases[] = {
        {std::nullopt, {{"empty", true}}},
        {"https://example.com/a b", {{"empty", false}, {"kind", "link"}, {"characters", 23}}},
        {"http://x", {{"empty", false}, {"kind", "link"}, {"characters", 8}}},
        {"HTTPS://EXAMPLE.COM", {{"empty", false}, {"kind", "text"}, {"characters", 19}}},
        {"two lines\nof words", {{"empty", false}, {"kind", "text block"}, {"characters", 18}}},
        // A family emoji and an e with a combining accent: two characters.
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"
         "e\xCC\x81",
         {{"empty", false}, {"kind", "text"}, {"characters", 2}}},
        {"", {{"empty", false}, {"kind", "text"}, {"characters", 0}}},
    };
    for (const auto& c : cases) {
        pasteboard->text = c.text;
        EXPECT_EQ(result("clipboard.peek"), c.expected) << c.text.value_or("(none)");
    }
}

TEST_F(ClipboardMethods, GetReturnsTheTextUnchangedOrNull) {
    EXPECT_EQ(result("clipboard.get"), (JSONObject{{"text", nullptr}}));
    pasteboard->text = "  padded\n";
    EXPECT_EQ(result("clipboard.get"), (JSONObject{{"text", "  padded\n"}}));
}

TEST_F(ClipboardMethods, APrivateItemIsRefusedUnreadButStillPeeks) {
    pasteboard->text = "hunter2";
    pasteboard->markedPrivate = true;
    auto refused = error("clipboard.get");
    EXPECT_EQ(refused, WireError(ErrorCode::permissionDenied, "That clipboard item is marked private"));
    EXPECT_EQ(pasteboard->textReads, 0);
    EXPECT_EQ(result("clipboard.peek"), (JSONObject{{"empty", false}, {"kind", "text"}, {"characters", 7}}));
}

TEST_F(ClipboardMethods, TextOverTheLimitIsRefusedBothWays) {
    pasteboard->text = std::string(ClipboardController::textLimit + 1, 'a');
    EXPECT_EQ(error("clipboard.get"), WireError(ErrorCode::unsupported, "Clipboard is too large to send"));
    // Peeking has no limit.
    EXPECT_EQ(result("clipboard.peek").at("characters"), JSONValue(65537));
}

TEST_F(ClipboardMethods, AFailedWriteLeavesThePreviousContents) {
    pasteboard->text = "keep me";
    pasteboard->refusesWrites = true;
    EXPECT_EQ(error("clipboard.set", {{"text", "new"}}),
              WireError(ErrorCode::internal, "Could not write the clipboard"));
    EXPECT_EQ(pasteboard->text, "keep me");

    pasteboard->refusesWrites = false;
    EXPECT_EQ(result("clipboard.set", {{"text", ""}}), JSONObject{});
    EXPECT_EQ(pasteboard->text, "");
}

TEST_F(ClipboardMethods, SetNeedsATextString) {
    for (const JSONObject& params : {JSONObject{}, JSONObject{{"text", 5}}, JSONObject{{"text", nullptr}}})
        EXPECT_EQ(error("clipboard.set", params), WireError::invalidParams("text is required"));
}

TEST(ClipboardMethodsUnreachable, StillAnswerButOfferAHintInsteadOfTheCapability) {
    auto pasteboard = std::make_shared<MemoryPasteboard>();
    pasteboard->hangs = true;
    CommandRouter router;
    registerClipboardMethods(router, std::make_shared<ClipboardController>(pasteboard));
    EXPECT_TRUE(router.capabilities().empty());
    EXPECT_EQ(router.unavailable().at(Capability::clipboardText).message, PlatformText::clipboardUnreachable);
    auto reply = router.dispatch(Envelope::request("1", "clipboard.get"), kAuthed);
    EXPECT_EQ(reply.e, WireError(ErrorCode::timeout, "The clipboard did not answer in time"));
}
