#include <gtest/gtest.h>

#include "agent/permissions/Requirement.h"
#include "agent/support/PlatformText.h"

using namespace kx;

#if !defined(__APPLE__)
// A phone shows these texts to the person at a Linux computer: none may speak of a Mac or its settings.
TEST(PlatformText, LinuxTextsNameNeitherAMacNorItsSettings) {
    std::vector<std::string> texts(PlatformText::all.begin(), PlatformText::all.end());
    for (const auto& requirement : {Requirement::accessibility(), Requirement::inputMonitoring(), Requirement::tmux(),
                                    Requirement::automation("org.example.app")}) {
        texts.push_back(requirement.rationale());
        texts.push_back(requirement.settingsURL().value_or(""));
        texts.push_back(requirement.remediation().value_or(""));
    }
    for (const auto& text : texts)
        for (const char* word : {"Mac", "macOS", "reopen", "System Settings", "brew", "x-apple", "Homebrew"})
            EXPECT_EQ(text.find(word), std::string::npos) << '"' << text << "\" holds " << word;
}
#endif
