#include "agent/update/HTTPUpdateDownloader.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "agent/update/UpdateFailure.h"

namespace kx {

namespace {

constexpr long kHTTPOK = 200;
constexpr mode_t kArchiveMode = 0600;
constexpr std::size_t kUUIDBytes = 16;
constexpr std::string_view kSecureScheme = "https://";

// Random (version 4) UUID text in upper case.
std::string randomUUID() {
    std::array<unsigned char, kUUIDBytes> bytes{};
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
    randombytes_buf(bytes.data(), bytes.size());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0xF];
    }
    return text;
}

// The open archive file; removed again unless `keep` is called.
class PartialFile {
public:
    explicit PartialFile(std::filesystem::path path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kArchiveMode);
        if (fd_ < 0) throw UpdateFailure(HTTPUpdateDownloader::cannotSaveReason);
    }
    ~PartialFile() {
        closeFile();
        if (!kept_) ::unlink(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    void write(const char* data, std::size_t length) {
        while (length > 0) {
            ssize_t written = ::write(fd_, data, length);
            if (written < 0 && errno == EINTR) continue;
            if (written < 0) throw std::system_error(errno, std::generic_category(), "writing the update");
            data += written;
            length -= static_cast<std::size_t>(written);
        }
    }

    std::filesystem::path keep() {
        if (closeFile() != 0) throw std::system_error(errno, std::generic_category(), "closing the update");
        kept_ = true;
        return path_;
    }

private:
    int closeFile() {
        if (fd_ < 0) return 0;
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

    std::filesystem::path path_;
    int fd_ = -1;
    bool kept_ = false;
};

// Fills a fixed buffer and writes it out whole, checking the running total against the
// published size after every write.
class BufferedArchiveWriter {
public:
    BufferedArchiveWriter(PartialFile& file, std::int64_t expectedSize, const UpdateDownloading::Progress& progress)
        : file_(file), expectedSize_(expectedSize), progress_(progress) {
        buffer_.reserve(HTTPUpdateDownloader::bufferSize);
    }

    void take(std::string_view chunk) {
        while (!chunk.empty()) {
            std::size_t room = HTTPUpdateDownloader::bufferSize - buffer_.size();
            std::size_t part = std::min(room, chunk.size());
            buffer_.insert(buffer_.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(part));
            chunk.remove_prefix(part);
            if (buffer_.size() == HTTPUpdateDownloader::bufferSize) flush();
        }
    }

    void flush() {
        if (buffer_.empty()) return;
        file_.write(buffer_.data(), buffer_.size());
        total_ += static_cast<std::int64_t>(buffer_.size());
        buffer_.clear();
        if (total_ > expectedSize_) throw UpdateFailure(HTTPUpdateDownloader::mismatchReason);
        if (progress_) progress_(total_);
    }

private:
    PartialFile& file_;
    std::int64_t expectedSize_;
    const UpdateDownloading::Progress& progress_;
    std::vector<char> buffer_;
    std::int64_t total_ = 0;
};

}  // namespace

std::string HTTPUpdateDownloader::temporaryFileName() {
    // Named after what the platform publishes: an application in a zip archive on a Mac, a
    // portable installation in a compressed tar archive on Linux.
#if defined(__APPLE__)
    return "Kestrix-update-" + randomUUID() + ".zip";
#else
    return "Kestrix-update-" + randomUUID() + ".tar.gz";
#endif
}

std::filesystem::path HTTPUpdateDownloader::download(const std::string& url, std::int64_t expectedSize,
                                                     const Progress& progress, std::stop_token stop) {
    if (!url.starts_with(kSecureScheme)) throw UpdateFailure(insecureReason);
    std::filesystem::path folder;
    try {
        folder = std::filesystem::temp_directory_path();
    } catch (const std::filesystem::filesystem_error&) {
        throw UpdateFailure(cannotSaveReason);
    }
    PartialFile file(folder / temporaryFileName());
    BufferedArchiveWriter writer(file, expectedSize, progress);

    CurlRequest request(url, settings_, std::move(stop));
    request.setIdleTimeout(timeout);
    // An exception must not cross libcurl's C frames: keep it and rethrow after the transfer.
    std::exception_ptr writeFailure;
    auto outcome = request.perform([&](std::string_view chunk) {
        try {
            writer.take(chunk);
            return true;
        } catch (...) {
            writeFailure = std::current_exception();
            return false;
        }
    });
    if (writeFailure) std::rethrow_exception(writeFailure);
    if (outcome.status != kHTTPOK) throw UpdateFailure(downloadFailedReason);
    if (!outcome.completed) throw std::runtime_error(outcome.error);
    writer.flush();
    return file.keep();
}

}  // namespace kx
