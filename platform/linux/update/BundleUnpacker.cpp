#include "platform/linux/update/BundleUnpacker.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <string>
#include <string_view>

#include "agent/update/UpdateFailure.h"

namespace kx {

namespace {

constexpr std::size_t kReadBlock = 65536;
// Owner may do anything; group and others may read and run, never write, never set-id.
constexpr mode_t kPermissionMask = 0755;

[[noreturn]] void refuse() {
    throw UpdateFailure(BundleUnpacker::unpackFailedReason);
}

// A relative path without "." tricks: no leading "/", no ".." component.
bool staysInside(std::string_view path) {
    if (path.empty() || path.front() == '/') return false;
    std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
    return normal.empty() || *normal.begin() != "..";
}

// A symbolic link at `entryPath` pointing to `target` resolves inside the archive's root.
bool linkStaysInside(std::string_view entryPath, std::string_view target) {
    if (target.empty() || target.front() == '/') return false;
    auto resolved = (std::filesystem::path(entryPath).parent_path() / target).lexically_normal();
    return resolved.empty() || *resolved.begin() != "..";
}

struct ReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};

}  // namespace

void BundleUnpacker::unpack(const std::filesystem::path& archivePath, const std::filesystem::path& destination) {
    std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
    std::unique_ptr<archive, WriterDeleter> writer(archive_write_disk_new());
    if (!reader || !writer) refuse();
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_format_gnutar(reader.get());
    // Names are checked here and then made absolute under `destination`, so libarchive's own
    // refusal of absolute paths cannot be asked for; it still refuses ".." and writing through links.
    archive_write_disk_set_options(
        writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), kReadBlock) != ARCHIVE_OK) refuse();

    std::size_t entries = 0;
    std::int64_t bytes = 0;
    archive_entry* entry = nullptr;
    while (true) {
        int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK || ++entries > maxEntries) refuse();
        const char* name = archive_entry_pathname(entry);
        if (!name || !staysInside(name)) refuse();
        std::string path = name;
        auto type = archive_entry_filetype(entry);
        if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) refuse();
        if (type == AE_IFLNK) {
            const char* target = archive_entry_symlink(entry);
            if (!target || !linkStaysInside(path, target)) refuse();
        }
        if (const char* hardlink = archive_entry_hardlink(entry)) {
            if (!staysInside(hardlink)) refuse();
            archive_entry_set_hardlink(entry, (destination / hardlink).c_str());
        }
        if (archive_entry_size(entry) > maxBytes - bytes) refuse();
        archive_entry_set_pathname(entry, (destination / path).c_str());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & kPermissionMask);
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK) refuse();

        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        while ((status = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            bytes += static_cast<std::int64_t>(size);
            if (bytes > maxBytes) refuse();
            if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK) refuse();
        }
        if (status != ARCHIVE_EOF) refuse();
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) refuse();
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) refuse();
}

}  // namespace kx
