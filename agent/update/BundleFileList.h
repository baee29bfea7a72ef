#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Bytes.h"

namespace kx {

// The publisher's signed list of every file in an installation folder ("Kestrix/"): its path
// inside the folder, size, SHA-256 and whether it is executable. An unpacked update is accepted
// only if its files are exactly those of a list signed with the update key.
struct BundleFileList {
    static constexpr std::string_view fileName = "files.json";
    static constexpr std::int64_t schema = 1;

    struct Entry {
        std::string path;  // relative, "/"-separated, e.g. "bin/kestrixd"
        std::int64_t size = 0;
        std::string sha256;  // lower-case hexadecimal
        bool executable = false;
        friend bool operator==(const Entry&, const Entry&) = default;
    };
    // The folder holds something no list may name (a link, a device, an unreadable file).
    struct Unlistable : std::exception {
        std::string detail;
        explicit Unlistable(std::string d) : detail(std::move(d)) {}
        const char* what() const noexcept override { return detail.c_str(); }
    };
    // A list that is malformed or whose signature is not the update key's.
    struct Invalid : std::exception {
        const char* what() const noexcept override { return "the file list is not validly signed"; }
    };

    std::vector<Entry> files;  // sorted by path

    // Every regular file under `root` except the list itself, read from disk. Throws Unlistable.
    static BundleFileList scan(const std::filesystem::path& root);
    // The list as checked by `publicKey`; throws Invalid.
    static BundleFileList verified(std::string_view text, const Key32& publicKey);
    // The list signed with the publisher's `seed`, as canonical JSON with its "signature".
    std::string signedText(const Key32& seed) const;

    friend bool operator==(const BundleFileList&, const BundleFileList&) = default;
};

}  // namespace kx
