#include "platform/linux/pairing/FileIdentityStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "agent/pairing/IdentityStoreError.h"
#include "agent/support/AtomicFile.h"
#include "agent/support/DataDirectory.h"

namespace kx {

namespace {

constexpr mode_t kKeyFileMode = 0600;
constexpr mode_t kShared = S_IRWXG | S_IRWXO;
constexpr std::size_t kKeyLength = Key32{}.size();

// Closes the descriptor on every path out of load().
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

void checkPrivate(int fd, const std::string& where) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw IdentityStoreError::io(errno, where);
    if (!S_ISREG(info.st_mode))
        throw IdentityStoreError(IdentityStoreError::Case::malformedKey, 0,
                                 where + ": not a regular file (a key file is)");
    if ((info.st_mode & kShared) != 0 || info.st_uid != ::geteuid())
        throw IdentityStoreError(IdentityStoreError::Case::io, EACCES,
                                 where + ": key file must belong to this user with mode 0600");
}

// Reads up to one byte past the key so that a longer file is noticed.
Bytes readKeyBytes(int fd, const std::string& where) {
    Bytes bytes(kKeyLength + 1);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw IdentityStoreError::io(errno, where);
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace

FileIdentityStore::FileIdentityStore(std::filesystem::path folder, std::string service, std::string account)
    : folder_(std::move(folder)), path_(folder_ / (service + "." + account + ".key")) {}

FileIdentityStore FileIdentityStore::inDataDirectory() {
    auto folder = defaultDataDirectory();
    if (!folder) throw IdentityStoreError::io(ENOENT, "no data folder for the identity key");
    return FileIdentityStore(*folder);
}

std::optional<AgentIdentity> FileIdentityStore::load() {
    const auto where = path_.string();
    // Without blocking: a FIFO or device in the key's place is refused below instead of waited on.
    FileDescriptor file{::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW)};
    if (file.fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        if (errno == ELOOP) throw IdentityStoreError::malformedKey(where + " (a symbolic link)");
        throw IdentityStoreError::io(errno, where);
    }
    checkPrivate(file.fd, where);
    auto bytes = readKeyBytes(file.fd, where);
    if (bytes.size() != kKeyLength) throw IdentityStoreError::malformedKey(where);
    Key32 seed{};
    std::copy(bytes.begin(), bytes.end(), seed.begin());
    return AgentIdentity(seed);
}

void FileIdentityStore::save(const AgentIdentity& identity) {
    ensureDirectory(folder_);
    const auto& seed = identity.privateKey();
    try {
        // A private temporary file renamed into place: the key is never visible half-written
        // or with a wider mode.
        writeFileAtomically(path_, asText(seed), kKeyFileMode);
    } catch (const std::system_error& error) {
        throw IdentityStoreError::io(error.code().value(), path_.string());
    }
}

void FileIdentityStore::clear() {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) throw IdentityStoreError::io(errno, path_.string());
}

}  // namespace kx
