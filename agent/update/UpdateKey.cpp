#include "agent/update/UpdateKey.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <system_error>

#include "agent/support/AtomicFile.h"
#include "agent/update/Ed25519Detached.h"
#include "protocol/Base64URL.h"

namespace kx::UpdateKey {

namespace {

constexpr std::size_t kEncodedLength = 43;
constexpr std::string_view kWhitespace = " \t\r\n\v\f";
constexpr std::string_view kShareFolder = "share/kestrix";

std::string_view trimmed(std::string_view text) {
    auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(kWhitespace);
    return text.substr(first, last - first + 1);
}

}  // namespace

Key32 parse(std::string_view text) {
    text = trimmed(text);
    if (text.size() != kEncodedLength) throw Invalid();
    auto bytes = base64URLDecode(text);
    Key32 key{};
    if (!bytes || bytes->size() != key.size()) throw Invalid();
    std::copy(bytes->begin(), bytes->end(), key.begin());
    if (!Ed25519Detached::isValidPublicKey(key)) throw Invalid();
    return key;
}

std::optional<Key32> bundled(const std::filesystem::path& file) {
    auto text = readWholeFile(file);
    if (!text) return std::nullopt;
    try {
        return parse(*text);
    } catch (const Invalid&) {
        return std::nullopt;
    }
}

std::filesystem::path defaultLocation() {
    std::string fileName = std::string(resourceName) + "." + std::string(resourceExtension);
    if (const char* configured = std::getenv(locationVariable); configured && *configured) return configured;
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::path(kShareFolder) / fileName;
    // A portable installation keeps the key at its top, beside bin/; an installed package under share/.
    auto top = executable.parent_path().parent_path();
    if (std::filesystem::is_regular_file(top / fileName, error)) return top / fileName;
    return top / kShareFolder / fileName;
}

}  // namespace kx::UpdateKey
