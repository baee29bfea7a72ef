#include "tools/ReleaseCommands.h"

#include <sodium.h>

#include <algorithm>
#include <system_error>

#include "agent/support/AtomicFile.h"
#include "agent/update/BundleFileList.h"
#include "agent/update/CanonicalJSON.h"
#include "agent/update/Ed25519Detached.h"
#include "agent/update/FileDigest.h"
#include "agent/update/ManifestSigning.h"
#include "agent/update/UpdateDecision.h"
#include "agent/update/UpdateKey.h"
#include "agent/update/UpdateManifest.h"
#include "protocol/Base64URL.h"

namespace kx::release {

namespace {

constexpr mode_t kPrivateKeyMode = 0600;
constexpr std::string_view kWhitespace = " \t\r\n";

std::optional<std::string> readInput(const std::filesystem::path& file, std::ostream& err) {
    auto text = readWholeFile(file);
    if (!text) err << "kx-release: cannot read " << file.string() << "\n";
    return text;
}

// The private key file holds the 32-byte seed as one line of unpadded base64url.
std::optional<Key32> readPrivateKey(const std::filesystem::path& file, std::ostream& err) {
    auto text = readInput(file, err);
    if (!text) return std::nullopt;
    std::string_view line(*text);
    line.remove_suffix(line.size() - (line.find_last_not_of(kWhitespace) + 1));
    auto bytes = base64URLDecode(line);
    Key32 seed{};
    if (!bytes || bytes->size() != seed.size()) {
        err << "kx-release: " << file.string() << " is not a private key made by kx-release keygen\n";
        return std::nullopt;
    }
    std::copy(bytes->begin(), bytes->end(), seed.begin());
    sodium_memzero(bytes->data(), bytes->size());
    return seed;
}

// The key itself, or the file that holds it.
std::optional<Key32> readPublicKey(const std::string& keyOrFile, std::ostream& err) {
    try {
        return UpdateKey::parse(keyOrFile);
    } catch (const UpdateKey::Invalid&) {
    }
    if (auto key = UpdateKey::bundled(keyOrFile)) return key;
    err << "kx-release: " << keyOrFile << " is neither a public key nor a file holding one\n";
    return std::nullopt;
}

std::string failureName(UpdateManifest::Failure failure) {
    switch (failure) {
        case UpdateManifest::Failure::malformed: return "malformed";
        case UpdateManifest::Failure::badSignature: return "badSignature";
        case UpdateManifest::Failure::unsupportedSchema: return "unsupportedSchema";
    }
    return "invalid";
}

void describeRelease(const UpdateRelease& release, std::ostream& out) {
    out << "release " << release.version.description() << " (minimum " << release.minimumVersion.description() << ")\n"
        << "url " << release.url << "\nsha256 " << release.sha256 << "\nsize " << release.size << "\n";
    for (const auto& note : release.notes) out << "note " << note << "\n";
}

void describeDecision(const UpdateDecision& decision, std::ostream& out) {
    switch (decision.kind) {
        case UpdateDecision::Kind::paused: out << "decision paused\n"; break;
        case UpdateDecision::Kind::upToDate: out << "decision upToDate\n"; break;
        case UpdateDecision::Kind::available:
            out << "decision available " << decision.release->version.description()
                << (decision.required ? " required" : "") << "\n";
            break;
    }
}

}  // namespace

int keygen(const std::filesystem::path& privateKeyFile, std::ostream& out, std::ostream& err) {
    std::error_code error;
    if (std::filesystem::exists(privateKeyFile, error)) {
        err << "kx-release: " << privateKeyFile.string() << " already exists; not replacing a key\n";
        return exitFailure;
    }
    if (sodium_init() < 0) return exitFailure;
    Key32 seed{};
    randombytes_buf(seed.data(), seed.size());
    try {
        writeFileAtomically(privateKeyFile, base64URLEncode(seed) + "\n", kPrivateKeyMode);
    } catch (const std::system_error& failure) {
        err << "kx-release: cannot write " << privateKeyFile.string() << ": " << failure.what() << "\n";
        return exitFailure;
    }
    out << base64URLEncode(Ed25519Detached::publicKeyFromSeed(seed)) << "\n";
    sodium_memzero(seed.data(), seed.size());
    return exitOK;
}

int sign(const std::filesystem::path& manifest, const std::filesystem::path& privateKeyFile,
         const std::optional<std::filesystem::path>& output, std::ostream& out, std::ostream& err) {
    auto text = readInput(manifest, err);
    auto seed = readPrivateKey(privateKeyFile, err);
    if (!text || !seed) return exitFailure;
    std::string signedManifest;
    try {
        signedManifest = signManifest(*text, *seed);
    } catch (const CanonicalJSON::ParseError& error) {
        err << "kx-release: " << manifest.string() << ": not valid JSON at byte " << error.offset << "\n";
        return exitParseError;
    } catch (const ManifestNotAnObject& error) {
        err << "kx-release: " << manifest.string() << ": " << error.what() << "\n";
        return exitFailure;
    }
    auto target = output.value_or(manifest);
    try {
        writeFileAtomically(target, signedManifest);
    } catch (const std::system_error& failure) {
        err << "kx-release: cannot write " << target.string() << ": " << failure.what() << "\n";
        return exitFailure;
    }
    out << "signed " << target.string() << "\n";
    return exitOK;
}

int verify(const std::filesystem::path& manifest, const std::string& publicKey, const std::string& platform,
           const std::optional<std::string>& version, std::ostream& out, std::ostream& err) {
    auto text = readInput(manifest, err);
    auto key = readPublicKey(publicKey, err);
    if (!text || !key) return exitFailure;
    std::optional<AgentVersion> current;
    if (version) {
        current = AgentVersion::parse(*version);
        if (!current) {
            err << "kx-release: " << *version << " is not a version (major.minor.patch[-dev])\n";
            return exitFailure;
        }
    }
    try {
        auto verified = UpdateManifest::verified(*text, *key, platform);
        out << "valid\npaused " << (verified.paused ? "true" : "false") << "\n";
        if (verified.release)
            describeRelease(*verified.release, out);
        else
            out << "no release for " << platform << "\n";
        if (current) describeDecision(UpdateDecision::decide(verified, current), out);
        return exitOK;
    } catch (const UpdateManifest::Error& error) {
        out << failureName(error.failure) << "\n";
        return exitFailure;
    }
}

int canonicalize(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
    auto text = readInput(file, err);
    if (!text) return exitFailure;
    try {
        out << CanonicalJSON::serialize(CanonicalJSON::parse(*text));
        return exitOK;
    } catch (const CanonicalJSON::ParseError& error) {
        err << "kx-release: " << file.string() << ": not valid JSON at byte " << error.offset << "\n";
        return exitParseError;
    }
}

int signBundle(const std::filesystem::path& bundle, const std::filesystem::path& privateKeyFile, std::ostream& out,
               std::ostream& err) {
    auto seed = readPrivateKey(privateKeyFile, err);
    if (!seed) return exitFailure;
    auto target = bundle / BundleFileList::fileName;
    int status = exitOK;
    try {
        auto list = BundleFileList::scan(bundle);
        writeFileAtomically(target, list.signedText(*seed) + "\n");
        out << "signed " << list.files.size() << " files in " << target.string() << "\n";
    } catch (const BundleFileList::Unlistable& problem) {
        err << "kx-release: " << bundle.string() << ": " << problem.what() << "\n";
        status = exitFailure;
    } catch (const std::system_error& failure) {
        err << "kx-release: cannot write " << target.string() << ": " << failure.what() << "\n";
        status = exitFailure;
    }
    sodium_memzero(seed->data(), seed->size());
    return status;
}

int entry(const std::filesystem::path& archive, const EntryFields& fields,
          const std::optional<std::filesystem::path>& manifest, std::ostream& out, std::ostream& err) {
    auto version = AgentVersion::parse(fields.version);
    auto minimum = AgentVersion::parse(fields.minimumVersion);
    if (!version || version->isDevelopment || !minimum) {
        err << "kx-release: the version must be major.minor.patch and the minimum a version\n";
        return exitFailure;
    }
    std::error_code error;
    auto size = std::filesystem::file_size(archive, error);
    auto digest = sha256HexOfFile(archive);
    if (error || !digest) {
        err << "kx-release: cannot read " << archive.string() << "\n";
        return exitFailure;
    }
    CanonicalJSON::Array notes(fields.notes.begin(), fields.notes.end());
    CanonicalJSON::Array caps(fields.caps.begin(), fields.caps.end());
    CanonicalJSON::Value release(CanonicalJSON::Object{{"version", version->description()},
                                                       {"minimumVersion", minimum->description()},
                                                       {"url", fields.url},
                                                       {"sha256", *digest},
                                                       {"size", static_cast<std::int64_t>(size)},
                                                       {"notes", std::move(notes)},
                                                       {"caps", std::move(caps)}});
    if (!manifest) {
        out << CanonicalJSON::serialize(release) << "\n";
        return exitOK;
    }
    CanonicalJSON::Value document(CanonicalJSON::Object{
        {"schema", UpdateManifest::schema}, {"paused", false}, {"platforms", CanonicalJSON::Object{}}});
    if (auto text = readWholeFile(*manifest)) {
        try {
            document = CanonicalJSON::parse(*text);
        } catch (const CanonicalJSON::ParseError& problem) {
            err << "kx-release: " << manifest->string() << ": not valid JSON at byte " << problem.offset << "\n";
            return exitParseError;
        }
    }
    auto* top = document.asObject();
    if (!top) {
        err << "kx-release: " << manifest->string() << ": the manifest is not a JSON object\n";
        return exitFailure;
    }
    // The old signature no longer covers the manifest: it is signed again with `sign`.
    std::erase_if(*top, [](const auto& member) { return member.first == "signature"; });
    auto platforms = std::find_if(top->begin(), top->end(), [](const auto& m) { return m.first == "platforms"; });
    if (platforms == top->end() || !platforms->second.asObject()) {
        std::erase_if(*top, [](const auto& member) { return member.first == "platforms"; });
        top->emplace_back("platforms", CanonicalJSON::Object{});
        platforms = std::prev(top->end());
    }
    auto* entries = platforms->second.asObject();
    std::erase_if(*entries, [&](const auto& member) { return member.first == fields.platform; });
    entries->emplace_back(fields.platform, std::move(release));
    try {
        writeFileAtomically(*manifest, CanonicalJSON::serialize(document) + "\n");
    } catch (const std::system_error& failure) {
        err << "kx-release: cannot write " << manifest->string() << ": " << failure.what() << "\n";
        return exitFailure;
    }
    out << "wrote the " << fields.platform << " entry for " << version->description() << " into " << manifest->string()
        << "; sign it next\n";
    return exitOK;
}

}  // namespace kx::release
