#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "agent/update/UpdateDecision.h"
#include "agent/update/UpdateKey.h"
#include "agent/update/UpdateManifest.h"
#include "protocol/Base64URL.h"
#include "tests/update/TestManifests.h"

using namespace kx;
using namespace kx::testing;
using Failure = UpdateManifest::Failure;

namespace {

std::optional<Failure> failureOf(const std::string& data, const std::string& platform = "linux") {
    try {
        UpdateManifest::verified(data, testPublicKey(), platform);
        return std::nullopt;
    } catch (const UpdateManifest::Error& error) {
        return error.failure;
    }
}

// Signs `manifest` as given, then replaces one member afterwards (the signature no longer covers it).
std::string tampered(CanonicalJSON::Object manifest, const std::string& key, CanonicalJSON::Value value) {
    auto document = CanonicalJSON::parse(signedText(manifest));
    memberOf(document, key) = std::move(value);
    return CanonicalJSON::serialize(document);
}

AgentVersion version(const char* text) {
    return AgentVersion::parse(text).value();
}

}  // namespace

TEST(UpdateManifest, ReadsTheReleaseForItsPlatform) {
    auto manifest = UpdateManifest::verified(signedManifest(), testPublicKey(), "linux");
    EXPECT_FALSE(manifest.paused);
    ASSERT_TRUE(manifest.release.has_value());
    EXPECT_EQ(manifest.release->version, version("1.3.0"));
    EXPECT_EQ(manifest.release->size, 1000);
    EXPECT_EQ(manifest.release->notes, (std::vector<std::string>{"Faster pointer", "Fixes"}));
    EXPECT_EQ(manifest.release->caps, std::vector<std::string>{"input.pointer"});

    auto other = UpdateManifest::verified(signedManifest(), testPublicKey(), "macos");
    EXPECT_FALSE(other.release.has_value());
    // Unknown keys are ignored but signed (whitespace is ReleaseToolTest's).
    auto withExtra = manifestObject();
    withExtra.emplace_back("comment", "hello");
    EXPECT_TRUE(UpdateManifest::verified(signedText(withExtra), testPublicKey(), "linux").release.has_value());
}

TEST(UpdateManifest, ChecksTheSignatureBeforeTheSchema) {
    auto schema2 = manifestObject();
    schema2[0].second = 2;
    EXPECT_EQ(failureOf(signedText(schema2)), Failure::unsupportedSchema);

    // Same manifest with an altered notes line: the signature fails first.
    auto document = CanonicalJSON::parse(signedText(schema2));
    memberOf(memberOf(memberOf(document, "platforms"), "linux"), "notes") = CanonicalJSON::Array{"Slower pointer"};
    EXPECT_EQ(failureOf(CanonicalJSON::serialize(document)), Failure::badSignature);

    for (CanonicalJSON::Value signature :
         {CanonicalJSON::Value(5), CanonicalJSON::Value("AAAA"), CanonicalJSON::Value("not base64!")})
        EXPECT_EQ(failureOf(tampered(manifestObject(), "signature", signature)), Failure::badSignature);
    EXPECT_EQ(failureOf(tampered(manifestObject(), "paused", true)), Failure::badSignature);
    auto unsignedText = CanonicalJSON::serialize(CanonicalJSON::Value(manifestObject()));
    EXPECT_EQ(failureOf(unsignedText), Failure::badSignature);

    // A manifest signed by another key.
    Key32 otherSeed{};
    otherSeed.fill(9);
    EXPECT_EQ(failureOf(signManifest(unsignedText, otherSeed)), Failure::badSignature);

    EXPECT_EQ(failureOf("[1]"), Failure::malformed);
    EXPECT_EQ(failureOf("{\"schema\":1.5}"), Failure::malformed);
}

TEST(UpdateManifest, AcceptsPaddedAndStandardAlphabetSignatures) {
    auto document = CanonicalJSON::parse(signedManifest());
    auto& signature = memberOf(document, "signature");
    std::string text = *signature.asString() + "==";
    std::replace(text.begin(), text.end(), '-', '+');
    std::replace(text.begin(), text.end(), '_', '/');
    signature = text;
    EXPECT_EQ(failureOf(CanonicalJSON::serialize(document)), std::nullopt);
    signature = text + "==";
    EXPECT_EQ(failureOf(CanonicalJSON::serialize(document)), Failure::badSignature);
}

TEST(UpdateManifest, RejectsMalformedFieldsAfterASoundSignature) {
    auto malformedWith = [](auto change) {
        auto manifest = manifestObject();
        change(manifest);
        return failureOf(signedText(manifest));
    };
    EXPECT_EQ(malformedWith([](auto& m) { m.erase(m.begin()); }), Failure::malformed);  // no schema
    EXPECT_EQ(malformedWith([](auto& m) { m[0].second = "1"; }), Failure::malformed);
    EXPECT_EQ(malformedWith([](auto& m) { m[1].second = 0; }), Failure::malformed);  // paused not boolean
    EXPECT_EQ(malformedWith([](auto& m) { m[2].second = CanonicalJSON::Array{}; }), Failure::malformed);
    EXPECT_EQ(malformedWith([](auto& m) { m[2].second = CanonicalJSON::Object{{"linux", 1}}; }), Failure::malformed);

    // One row per release field value: what verification makes of it.
    const std::vector<std::pair<std::function<void(ReleaseFields&)>, std::optional<Failure>>> releases = {
        {[](auto& f) { f.url = "http://updates.example.org/a.zip"; }, Failure::malformed},
        {[](auto& f) { f.url = "HTTPS://updates.example.org/a.zip"; }, Failure::malformed},
        {[](auto& f) { f.url = "https:///a.zip"; }, Failure::malformed},
        {[](auto& f) { f.url = "https://user@:8443/a.zip"; }, Failure::malformed},
        {[](auto& f) { f.url = "https://updates example.org/a.zip"; }, Failure::malformed},
        {[](auto& f) { f.url = "https://127.0.0.1:8443/a.zip"; }, std::nullopt},
        {[](auto& f) { f.url = "https://[::1]:8443/a.zip"; }, std::nullopt},
        {[](auto& f) { f.sha256 = std::string(64, 'A'); }, Failure::malformed},
        {[](auto& f) { f.sha256 = std::string(63, 'a'); }, Failure::malformed},
        {[](auto& f) { f.version = "1.3.0-dev"; }, Failure::malformed},
        {[](auto& f) { f.minimumVersion = "1.0"; }, Failure::malformed},
        {[](auto& f) { f.minimumVersion = "1.0.0-dev"; }, std::nullopt},
        {[](auto& f) { f.size = 0; }, Failure::malformed},
    };
    for (std::size_t row = 0; row < releases.size(); ++row) {
        ReleaseFields fields;
        releases[row].first(fields);
        EXPECT_EQ(failureOf(signedManifest(fields)), releases[row].second) << "row " << row;
    }

    CanonicalJSON::Value notesWithNumber(manifestObject());
    memberOf(memberOf(memberOf(notesWithNumber, "platforms"), "linux"), "notes") = CanonicalJSON::Array{"ok", 1};
    EXPECT_EQ(failureOf(signedText(*notesWithNumber.asObject())), Failure::malformed);
}

TEST(AgentVersion, AcceptsOnlyThreeShortDecimalComponentsWithOptionalDevSuffix) {
    EXPECT_EQ(version("01.2.3"), version("1.2.3"));
    EXPECT_EQ(version("01.2.3").description(), "1.2.3");
    EXPECT_EQ(version("1.4.0-dev").description(), "1.4.0-dev");
    EXPECT_EQ(version("999999999.0.0").components[0], 999999999);
    for (const char* bad : {"1.2", "1.2.3.4", "1.2.3-DEV", "1.2.3-beta", "v1.2.3", " 1.2.3", "1.2.3 ", "1..3", "1.2.",
                            "1234567890.0.0", "1.2.-3", "1.2.+3", "-dev", "", "1.2.3-dev-dev"}) {
        EXPECT_FALSE(AgentVersion::parse(bad).has_value()) << bad;
    }
    // Numeric order, with a development build just before its release.
    const char* ascending[] = {"1.2.3", "1.2.4", "1.9.9", "1.10.0", "1.99.0", "2.0.0-dev", "2.0.0", "2.0.1-dev"};
    for (std::size_t i = 0; i + 1 < std::size(ascending); ++i) {
        EXPECT_LT(version(ascending[i]), version(ascending[i + 1])) << ascending[i];
        EXPECT_FALSE(version(ascending[i + 1]) < version(ascending[i])) << ascending[i];
    }
    EXPECT_NE(version("1.4.0-dev"), version("1.4.0"));
}

// The service's own test covers a required offer, the same version and a pause; here, the edges.
TEST(UpdateDecision, FollowsPauseThenVersionOrder) {
    auto decide = [](const char* current, const char* minimum) {
        ReleaseFields fields;
        fields.minimumVersion = minimum;
        return UpdateDecision::decide(UpdateManifest::verified(signedManifest(fields), testPublicKey(), "linux"),
                                      version(current));
    };
    EXPECT_EQ(decide("1.2.0", "1.2.0").kind, UpdateDecision::Kind::available);
    EXPECT_FALSE(decide("1.2.0", "1.2.0").required);
    EXPECT_EQ(decide("1.3.0-dev", "1.0.0").kind, UpdateDecision::Kind::available);
    EXPECT_EQ(decide("1.10.0", "1.0.0").kind, UpdateDecision::Kind::upToDate);
    EXPECT_EQ(UpdateDecision::decide(UpdateManifest{false, std::nullopt}, version("1.0.0")).kind,
              UpdateDecision::Kind::upToDate);
}

TEST(UpdateKey, ParsesTheUnpaddedFormOnly) {
    auto text = base64URLEncode(testPublicKey());
    EXPECT_EQ(UpdateKey::parse(text + "\n"), testPublicKey());
    EXPECT_EQ(UpdateKey::parse("  " + text + "\r\n"), testPublicKey());
    EXPECT_THROW(UpdateKey::parse(text + "="), UpdateKey::Invalid);
    EXPECT_THROW(UpdateKey::parse(text.substr(1)), UpdateKey::Invalid);
    EXPECT_THROW(UpdateKey::parse(text.substr(0, 42) + "!"), UpdateKey::Invalid);
    // 32 bytes that are no point on the curve.
    EXPECT_THROW(UpdateKey::parse(base64URLEncode(Key32{})), UpdateKey::Invalid);
}
