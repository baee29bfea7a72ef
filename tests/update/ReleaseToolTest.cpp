#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "agent/support/AtomicFile.h"
#include "agent/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/update/TestManifests.h"

using namespace kx;
using namespace kx::testing;

namespace {

class ReleaseToolTest : public ::testing::Test {
protected:
    TempFolder folder;

    ChildProcess::Result tool(const std::vector<std::string>& arguments) {
        const char* binary = std::getenv("KX_BINARY_DIR");
        return ChildProcess::run(std::string(binary ? binary : ".") + "/tools/kx-release", arguments);
    }

    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(folder / name) << text;
        return (folder / name).string();
    }
};

// A manifest requiring 1.2.5, with whitespace the signer must drop before signing.
std::string prettyManifest() {
    auto text = CanonicalJSON::serialize(CanonicalJSON::Value(manifestObject({.minimumVersion = "1.2.5"})));
    return text.insert(1, "\n  ");
}

}  // namespace

TEST_F(ReleaseToolTest, KeygenSignVerifyAndResign) {
    auto keyFile = (folder / "release.key").string();
    auto keygen = tool({"keygen", keyFile});
    ASSERT_EQ(keygen.exitCode, 0) << keygen.standardError;
    struct stat info {};
    ASSERT_EQ(::stat(keyFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(keygen.standardOutput.size(), 44u);  // 43 characters and a line break
    // An existing key is never replaced.
    auto privateKey = readWholeFile(keyFile);
    EXPECT_EQ(tool({"keygen", keyFile}).exitCode, 1);
    EXPECT_EQ(readWholeFile(keyFile), privateKey);

    auto manifest = write("agent.json", prettyManifest());
    auto sign = tool({"sign", manifest, "--key", keyFile});
    ASSERT_EQ(sign.exitCode, 0) << sign.standardError;
    auto verify = tool({"verify", manifest, "--public-key", keygen.standardOutput.substr(0, 43), "--version", "1.2.0"});
    EXPECT_EQ(verify.exitCode, 0) << verify.standardError;
    EXPECT_NE(verify.standardOutput.find("decision available 1.3.0 required"), std::string::npos)
        << verify.standardOutput;
    auto keyText = write("update-public-key.txt", keygen.standardOutput);
    EXPECT_EQ(tool({"verify", manifest, "--public-key", keyText, "--platform", "macos"}).standardOutput,
              "valid\npaused false\nno release for macos\n");

    // The tool's verify reads keys and manifests with the agent's own code.
    auto signedText = *readWholeFile(manifest);
    // Re-signing an already signed manifest replaces its signature.
    ASSERT_EQ(tool({"sign", manifest, "--key", keyFile}).exitCode, 0);
    EXPECT_EQ(readWholeFile(manifest), signedText);

    signedText.replace(signedText.find("Faster"), 6, "Slower");
    auto tampered = write("tampered.json", signedText);
    auto rejected = tool({"verify", tampered, "--public-key", keyText});
    EXPECT_EQ(rejected.exitCode, 1);
    EXPECT_EQ(rejected.standardOutput, "badSignature\n");
}

TEST_F(ReleaseToolTest, CanonicalizePrintsCanonicalBytesOrTheErrorOffset) {
    auto good = tool({"canonicalize", write("good.json", "{ \"b\": [1, \"\\u00e9\"], \"a\": null }\n")});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.standardOutput, "{\"a\":null,\"b\":[1,\"\xC3\xA9\"]}");
    auto bad = tool({"canonicalize", write("bad.json", "{\"a\": 1.5}")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.standardError.find("at byte 7"), std::string::npos) << bad.standardError;
    EXPECT_EQ(tool({"sign", write("list.json", "[1]"), "--key", write("k", "x")}).exitCode, 1);
}
