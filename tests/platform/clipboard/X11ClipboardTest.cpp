#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "agent/clipboard/ClipboardController.h"
#include "agent/support/ChildProcess.h"
#include "platform/linux/clipboard/X11Clipboard.h"
#include "protocol/WireError.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/Subprocess.h"

using namespace kx;
using kx::e2e::eventually;
using kx::testing::Subprocess;

namespace {

// Another application on the display: takes the CLIPBOARD selection and offers exactly the given
// targets (name to value) until it is destroyed, the way a password manager marks its items.
class TestSelectionOwner {
public:
    explicit TestSelectionOwner(std::map<std::string, std::string> items)
        : items_(std::move(items)), display_(XOpenDisplay(nullptr)) {
        if (!display_) return;
        Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        Atom clipboard = XInternAtom(display_, "CLIPBOARD", False);
        XSetSelectionOwner(display_, clipboard, window, CurrentTime);
        owns_ = XGetSelectionOwner(display_, clipboard) == window;
        thread_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                for (XEvent event; XPending(display_) > 0;)
                    if (XNextEvent(display_, &event); event.type == SelectionRequest) answer(event.xselectionrequest);
                pollfd ready{ConnectionNumber(display_), POLLIN, 0};
                ::poll(&ready, 1, 20);
            }
        });
    }
    ~TestSelectionOwner() {
        if (!display_) return;
        thread_.request_stop();
        thread_.join();
        XCloseDisplay(display_);
    }

    bool ownsSelection() const { return owns_; }

private:
    void answer(const XSelectionRequestEvent& request) {
        XEvent reply{};
        reply.xselection = {SelectionNotify, 0,    True,        display_, request.requestor, request.selection,
                            request.target,  None, request.time};
        std::vector<Atom> targets{XInternAtom(display_, "TARGETS", False)};
        for (const auto& item : items_) targets.push_back(XInternAtom(display_, item.first.c_str(), False));
        char* name = XGetAtomName(display_, request.target);
        if (request.target == targets.front()) {
            XChangeProperty(display_, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(targets.data()), static_cast<int>(targets.size()));
            reply.xselection.property = request.property;
        } else if (auto item = items_.find(name); item != items_.end()) {
            XChangeProperty(display_, request.requestor, request.property, request.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(item->second.data()),
                            static_cast<int>(item->second.size()));
            reply.xselection.property = request.property;
        }
        XFree(name);
        XSendEvent(display_, request.requestor, False, NoEventMask, &reply);
        XFlush(display_);
    }

    std::map<std::string, std::string> items_;
    Display* display_;
    bool owns_ = false;
    std::jthread thread_;
};

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

// Text at the limit is set, one character more leaves the clipboard untouched; then another
// application takes the clipboard over.
TEST_F(X11ClipboardTest, AnotherApplicationPastesWhatTheAgentSetUntilItTakesTheClipboard) {
    const std::string atLimit(ClipboardController::textLimit, 'a');
    controller.write("");
    EXPECT_EQ(xclipReads(), "");
    controller.write(atLimit);
    EXPECT_EQ(xclipReads(), atLimit);
    EXPECT_EQ(failure([&] { controller.write(atLimit + "b"); }), WireError::invalidParams("Text is too large"));
    EXPECT_EQ(xclipReads(), atLimit);  // still served after a paste

    // What another application sets is read as it is, a stray byte becoming U+FFFD.
    xclipSets("t\xC3\xA4ken\xFF over\n  ");
    EXPECT_TRUE(eventually([&] { return agentReads() == "t\xC3\xA4ken\xEF\xBF\xBD over\n  "; }));
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
