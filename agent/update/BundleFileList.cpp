#include "agent/update/BundleFileList.h"

#include <sys/stat.h>

#include <algorithm>

#include "agent/update/CanonicalJSON.h"
#include "agent/update/FileDigest.h"
#include "agent/update/ManifestSigning.h"
#include "agent/update/SignedJSON.h"

namespace kx {

namespace {

using CanonicalJSON::Value;

constexpr std::size_t kDigestLength = 64;

// A path the list may hold: relative, "/"-separated, without empty, "." or ".." components.
bool isPlainRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = std::min(path.find('/', start), path.size());
        auto part = std::string_view(path).substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

BundleFileList::Entry readEntry(const Value& value) {
    const Value* path = value["path"];
    const Value* size = value["size"];
    const Value* sha256 = value["sha256"];
    const Value* executable = value["executable"];
    if (!path || !path->asString() || !isPlainRelativePath(*path->asString())) throw BundleFileList::Invalid();
    if (!size || !size->asInteger() || *size->asInteger() < 0) throw BundleFileList::Invalid();
    if (!sha256 || !sha256->asString() || sha256->asString()->size() != kDigestLength) throw BundleFileList::Invalid();
    if (!executable || !executable->asBool()) throw BundleFileList::Invalid();
    return {*path->asString(), *size->asInteger(), *sha256->asString(), *executable->asBool()};
}

}  // namespace

BundleFileList BundleFileList::scan(const std::filesystem::path& root) {
    BundleFileList list;
    std::error_code error;
    std::filesystem::recursive_directory_iterator walk(root, error), end;
    if (error) throw Unlistable("cannot read " + root.string());
    for (; walk != end; walk.increment(error)) {
        if (error) throw Unlistable("cannot read " + root.string());
        auto relative = walk->path().lexically_relative(root).generic_string();
        auto status = walk->symlink_status();
        if (std::filesystem::is_directory(status)) continue;
        if (!std::filesystem::is_regular_file(status)) throw Unlistable(relative + " is not a regular file");
        if (relative == fileName) continue;
        auto digest = sha256HexOfFile(walk->path());
        auto size = std::filesystem::file_size(walk->path(), error);
        if (!digest || error) throw Unlistable("cannot read " + relative);
        bool executable = (status.permissions() & std::filesystem::perms::owner_exec) != std::filesystem::perms::none;
        list.files.push_back({relative, static_cast<std::int64_t>(size), *digest, executable});
    }
    std::sort(list.files.begin(), list.files.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return list;
}

BundleFileList BundleFileList::verified(std::string_view text, const Key32& publicKey) {
    Value document;
    try {
        document = CanonicalJSON::parse(text);
    } catch (const CanonicalJSON::ParseError&) {
        throw Invalid();
    }
    auto* top = document.asObject();
    if (!top || !takeValidSignature(*top, publicKey)) throw Invalid();
    const Value* schemaValue = document["schema"];
    const Value* files = document["files"];
    if (!schemaValue || !schemaValue->asInteger() || *schemaValue->asInteger() != schema) throw Invalid();
    if (!files || !files->asArray()) throw Invalid();
    BundleFileList list;
    for (const auto& entry : *files->asArray()) list.files.push_back(readEntry(entry));
    std::sort(list.files.begin(), list.files.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return list;
}

std::string BundleFileList::signedText(const Key32& seed) const {
    CanonicalJSON::Array entries;
    for (const auto& file : files) {
        entries.emplace_back(CanonicalJSON::Object{
            {"path", file.path}, {"size", file.size}, {"sha256", file.sha256}, {"executable", file.executable}});
    }
    Value document(CanonicalJSON::Object{{"schema", schema}, {"files", std::move(entries)}});
    // Signed exactly as a manifest is: over the canonical form without "signature".
    return signManifest(CanonicalJSON::serialize(document), seed);
}

}  // namespace kx
