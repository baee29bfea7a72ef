#include "platform/linux/update/BundleVerifier.h"

#include <sodium.h>

#include "agent/support/AtomicFile.h"
#include "agent/update/BundleFileList.h"
#include "agent/update/UpdateFailure.h"
#include "platform/linux/update/BundleLocation.h"
#include "platform/linux/update/BundleUnpacker.h"

namespace kx {

namespace {

constexpr std::size_t kNameBytes = 8;

std::string randomSuffix() {
    unsigned char bytes[kNameBytes];
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * kNameBytes + 1];
    return sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace

std::filesystem::path BundleVerifier::prepare(const std::filesystem::path& archive, const UpdateRelease& release) {
    auto staging = stagingParent_ / (stagingPrefix + randomSuffix());
    std::filesystem::create_directory(staging);  // a failure is the service's "Could not check the update"
    try {
        BundleUnpacker::unpack(archive, staging);
        return check(staging, release);
    } catch (...) {
        removeQuietly(staging);
        throw;
    }
}

std::filesystem::path BundleVerifier::check(const std::filesystem::path& staging, const UpdateRelease& release) const {
    std::vector<std::filesystem::path> top;
    for (const auto& entry : std::filesystem::directory_iterator(staging)) top.push_back(entry.path());
    auto bundle = staging / bundleFolderName;
    if (top.size() != 1 || top[0] != bundle || !std::filesystem::is_directory(std::filesystem::symlink_status(bundle)))
        throw UpdateFailure(noKestrixReason);

    try {
        auto published =
            BundleFileList::verified(readRegularFile(bundle / BundleFileList::fileName, maxFileListBytes), publicKey_);
        if (BundleFileList::scan(bundle) != published) throw UpdateFailure(notSignedReason);
    } catch (const BundleFileList::Invalid&) {
        throw UpdateFailure(notSignedReason);
    } catch (const BundleFileList::Unlistable&) {
        throw UpdateFailure(notSignedReason);
    } catch (const std::system_error&) {
        throw UpdateFailure(notSignedReason);
    }

    if (BundleLocation::versionOf(bundle) != release.version.description()) throw UpdateFailure(wrongVersionReason);
    return bundle;
}

}  // namespace kx
