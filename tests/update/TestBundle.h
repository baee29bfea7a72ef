#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/support/AtomicFile.h"
#include "agent/update/BundleFileList.h"
#include "protocol/Base64URL.h"
#include "tests/update/TestManifests.h"

namespace kx::testing {

// Makes the installation folder `root` ("…/Kestrix") of `version`: bin/kestrixd (a copy of
// `program`), share/, the version file, the test update key and, when `seed` is given, the file
// list signed with it.
inline void makeBundle(const std::filesystem::path& root, const std::string& version,
                       const std::filesystem::path& program, std::optional<Key32> seed = testSeed()) {
    std::filesystem::create_directories(root / "bin");
    std::filesystem::create_directories(root / "share" / "applications");
    std::filesystem::copy_file(program, root / "bin" / "kestrixd", std::filesystem::copy_options::overwrite_existing);
    ::chmod((root / "bin" / "kestrixd").c_str(), 0755);
    std::ofstream(root / "share" / "applications" / "kestrix.desktop") << "[Desktop Entry]\nName=Kestrix\n";
    std::ofstream(root / "version") << version << "\n";
    std::ofstream(root / "update-public-key.txt") << base64URLEncode(testPublicKey()) << "\n";
    if (seed) writeFileAtomically(root / BundleFileList::fileName, BundleFileList::scan(root).signedText(*seed));
}

// One entry of a test archive.
struct TarEntry {
    enum class Type { file, folder, symlink, hardlink, device };
    std::string path;
    Type type = Type::file;
    std::string content = {};  // a file's bytes; a link's target
    mode_t mode = 0644;
};

// Every file and folder under `parent`/`top`, as archive entries named from `top` down.
inline std::vector<TarEntry> entriesOf(const std::filesystem::path& parent, const std::string& top) {
    std::vector<TarEntry> entries{{top + "/", TarEntry::Type::folder, {}, 0755}};
    for (const auto& item : std::filesystem::recursive_directory_iterator(parent / top)) {
        auto name = item.path().lexically_relative(parent).generic_string();
        auto mode = static_cast<mode_t>(item.status().permissions()) & 0777;
        if (item.is_directory())
            entries.push_back({name + "/", TarEntry::Type::folder, {}, mode});
        else
            entries.push_back({name, TarEntry::Type::file, readWholeFile(item.path()).value_or(""), mode});
    }
    return entries;
}

// Writes a gzip-compressed tar archive of `entries`.
inline void writeTarGz(const std::filesystem::path& file, const std::vector<TarEntry>& entries) {
    archive* writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    if (archive_write_open_filename(writer, file.c_str()) != ARCHIVE_OK) throw std::runtime_error("cannot write tar");
    for (const auto& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.path.c_str());
        archive_entry_set_perm(entry, item.mode);
        switch (item.type) {
            case TarEntry::Type::file:
                archive_entry_set_filetype(entry, AE_IFREG);
                archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
                break;
            case TarEntry::Type::folder: archive_entry_set_filetype(entry, AE_IFDIR); break;
            case TarEntry::Type::symlink:
                archive_entry_set_filetype(entry, AE_IFLNK);
                archive_entry_set_symlink(entry, item.content.c_str());
                break;
            case TarEntry::Type::hardlink:
                archive_entry_set_filetype(entry, AE_IFREG);
                archive_entry_set_hardlink(entry, item.content.c_str());
                break;
            case TarEntry::Type::device:
                archive_entry_set_filetype(entry, AE_IFCHR);
                archive_entry_set_rdev(entry, makedev(1, 3));
                break;
        }
        archive_write_header(writer, entry);
        if (item.type == TarEntry::Type::file) archive_write_data(writer, item.content.data(), item.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
}

}  // namespace kx::testing
