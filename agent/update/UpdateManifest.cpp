#include "agent/update/UpdateManifest.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "agent/update/CanonicalJSON.h"
#include "agent/update/SignedJSON.h"

namespace kx {

namespace {

using CanonicalJSON::Value;
using Failure = UpdateManifest::Failure;

constexpr std::size_t kDigestLength = 64;
constexpr std::string_view kLowerHex = "0123456789abcdef";
constexpr std::string_view kSecureScheme = "https://";

[[noreturn]] void failWith(Failure failure) {
    throw UpdateManifest::Error(failure);
}

const std::string& requiredString(const Value& object, std::string_view key) {
    const Value* value = object[key];
    if (!value || !value->asString()) failWith(Failure::malformed);
    return *value->asString();
}

std::vector<std::string> requiredStrings(const Value& object, std::string_view key) {
    const Value* value = object[key];
    if (!value || !value->asArray()) failWith(Failure::malformed);
    std::vector<std::string> strings;
    for (const auto& element : *value->asArray()) {
        if (!element.asString()) failWith(Failure::malformed);
        strings.push_back(*element.asString());
    }
    return strings;
}

AgentVersion requiredVersion(const Value& object, std::string_view key) {
    auto version = AgentVersion::parse(requiredString(object, key));
    if (!version) failWith(Failure::malformed);
    return *version;
}

// The host part of an "https://" URL's authority: without user information and port.
std::string_view hostOf(std::string_view url) {
    auto authority = url.substr(kSecureScheme.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (authority.starts_with('[')) return authority.substr(0, authority.find(']') + 1);
    return authority.substr(0, authority.find(':'));
}

// The scheme must read exactly "https", the URL must name a host and libcurl must accept it.
bool isSecureURL(const std::string& text) {
    if (!text.starts_with(kSecureScheme) || hostOf(text).empty()) return false;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    return url && curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
}

bool isLowerHexDigest(const std::string& text) {
    return text.size() == kDigestLength && text.find_first_not_of(kLowerHex) == std::string::npos;
}

UpdateRelease readRelease(const Value& entry) {
    if (!entry.asObject()) failWith(Failure::malformed);
    UpdateRelease release;
    release.version = requiredVersion(entry, "version");
    if (release.version.isDevelopment) failWith(Failure::malformed);
    release.minimumVersion = requiredVersion(entry, "minimumVersion");
    release.url = requiredString(entry, "url");
    if (!isSecureURL(release.url)) failWith(Failure::malformed);
    release.sha256 = requiredString(entry, "sha256");
    if (!isLowerHexDigest(release.sha256)) failWith(Failure::malformed);
    const Value* size = entry["size"];
    if (!size || !size->asInteger() || *size->asInteger() <= 0) failWith(Failure::malformed);
    release.size = *size->asInteger();
    release.notes = requiredStrings(entry, "notes");
    release.caps = requiredStrings(entry, "caps");
    return release;
}

}  // namespace

const char* UpdateManifest::Error::what() const noexcept {
    switch (failure) {
        case Failure::malformed: return "the manifest is malformed";
        case Failure::badSignature: return "the manifest signature is not valid";
        case Failure::unsupportedSchema: return "the manifest schema is not supported";
    }
    return "the manifest is not valid";
}

UpdateManifest UpdateManifest::verified(std::string_view data, const Key32& publicKey, std::string_view platform) {
    Value document;
    try {
        document = CanonicalJSON::parse(data);
    } catch (const CanonicalJSON::ParseError&) {
        failWith(Failure::malformed);
    }
    auto* top = document.asObject();
    if (!top) failWith(Failure::malformed);
    if (!takeValidSignature(*top, publicKey)) failWith(Failure::badSignature);

    const Value* schemaValue = document["schema"];
    if (!schemaValue || !schemaValue->asInteger()) failWith(Failure::malformed);
    if (*schemaValue->asInteger() != schema) failWith(Failure::unsupportedSchema);
    const Value* pausedValue = document["paused"];
    if (!pausedValue || !pausedValue->asBool()) failWith(Failure::malformed);
    const Value* platforms = document["platforms"];
    if (!platforms || !platforms->asObject()) failWith(Failure::malformed);

    UpdateManifest manifest;
    manifest.paused = *pausedValue->asBool();
    if (const Value* entry = (*platforms)[platform]) manifest.release = readRelease(*entry);
    return manifest;
}

}  // namespace kx
