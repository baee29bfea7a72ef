// kx-release: makes the update signing key, signs update manifests and checks them exactly as
// the agent will.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <optional>

#include "agent/update/UpdateManifest.h"
#include "tools/ReleaseCommands.h"

int main(int argc, char** argv) {
    CLI::App app{"kx-release: the publisher's tool for Kestrix update keys and signed manifests"};
    app.require_subcommand(1);

    std::string keyFile;
    auto* keygen = app.add_subcommand("keygen",
                                      "Create a signing key: writes the private key file (mode 0600) "
                                      "and prints the public key for update-public-key.txt");
    keygen->add_option("PRIVATE_KEY_FILE", keyFile, "Where to write the private key (must not exist)")->required();

    std::string manifest, signingKey;
    std::optional<std::filesystem::path> output;
    auto* sign = app.add_subcommand("sign",
                                    "Sign a manifest: canonicalises it without \"signature\", signs it and "
                                    "writes it back with its \"signature\"");
    sign->add_option("MANIFEST", manifest, "The manifest JSON file")->required()->check(CLI::ExistingFile);
    sign->add_option("--key", signingKey, "Private key file from kx-release keygen")->required();
    sign->add_option("-o,--output", output, "Write the signed manifest here instead of over MANIFEST");

    std::string publicKey, platform(kx::updatePlatform);
    std::optional<std::string> version;
    auto* verify = app.add_subcommand("verify",
                                      "Check a manifest as the agent does; prints what it offers, or "
                                      "malformed, badSignature or unsupportedSchema (exit status 1)");
    verify->add_option("MANIFEST", manifest, "The signed manifest JSON file")->required()->check(CLI::ExistingFile);
    verify->add_option("--public-key", publicKey, "The 43-character public key, or a file holding it")->required();
    verify->add_option("--platform", platform, "Platform entry to read")->capture_default_str();
    verify->add_option("--version", version, "Running version to decide for, e.g. 1.2.0 or 1.3.0-dev");

    std::string jsonFile;
    auto* canonicalize = app.add_subcommand("canonicalize",
                                            "Print the canonical bytes of a JSON file; a parse "
                                            "error gives its byte offset and exit status 2");
    canonicalize->add_option("FILE", jsonFile, "The JSON file")->required()->check(CLI::ExistingFile);

    std::string bundle;
    auto* signBundle = app.add_subcommand("sign-bundle",
                                          "Sign an installation folder: writes files.json, the list of every "
                                          "file with its size and SHA-256, signed as a manifest is");
    signBundle->add_option("FOLDER", bundle, "The Kestrix folder (bin/, share/, version, ...)")
        ->required()
        ->check(CLI::ExistingDirectory);
    signBundle->add_option("--key", signingKey, "Private key file from kx-release keygen")->required();

    std::string archive;
    std::optional<std::filesystem::path> manifestFile;
    kx::release::EntryFields fields{{}, "0.0.0", {}, {}, {}, std::string(kx::updatePlatform)};
    auto* entry = app.add_subcommand("entry",
                                     "Make the manifest entry of a release archive: its size and SHA-256 with "
                                     "the given version and address; printed, or put into --manifest (unsigned)");
    entry->add_option("ARCHIVE", archive, "The release archive, e.g. Kestrix-1.3.0-linux-x86_64.tar.gz")
        ->required()
        ->check(CLI::ExistingFile);
    entry->add_option("--version", fields.version, "The release's version, e.g. 1.3.0")->required();
    entry->add_option("--url", fields.url, "Where the archive is published (https://...)")->required();
    entry->add_option("--minimum-version", fields.minimumVersion, "Older versions must update")->capture_default_str();
    entry->add_option("--note", fields.notes, "A line of release notes (repeatable)");
    entry->add_option("--cap", fields.caps, "A capability the release adds (repeatable)");
    entry->add_option("--platform", fields.platform, "Platform entry to write")->capture_default_str();
    entry->add_option("--manifest", manifestFile, "Put the entry into this manifest file");

    CLI11_PARSE(app, argc, argv);

    if (signBundle->parsed()) return kx::release::signBundle(bundle, signingKey, std::cout, std::cerr);
    if (entry->parsed()) return kx::release::entry(archive, fields, manifestFile, std::cout, std::cerr);

    if (keygen->parsed()) return kx::release::keygen(keyFile, std::cout, std::cerr);
    if (sign->parsed()) return kx::release::sign(manifest, signingKey, output, std::cout, std::cerr);
    if (verify->parsed()) return kx::release::verify(manifest, publicKey, platform, version, std::cout, std::cerr);
    return kx::release::canonicalize(jsonFile, std::cout, std::cerr);
}
