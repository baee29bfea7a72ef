#!/usr/bin/env bash
# Builds what a Linux user installs, in the release configuration, into dist/:
#   kestrix_VERSION_amd64.deb              the Debian package (CPack; dependencies from dpkg-shlibdeps)
#   Kestrix-VERSION-linux-x86_64.tar.gz    the portable installation, which updates itself
#   Kestrix-VERSION-linux-x86_64.json      its manifest entry (size and SHA-256), when a URL is given
# The portable installation is signed when a release key is given:
#   KX_RELEASE_KEY=release.key             private key from `kx-release keygen` (signs files.json)
#   KX_UPDATE_PUBLIC_KEY_FILE=key.txt      the matching public key the installation trusts
#   KX_RELEASE_URL=https://host/files      where the archive will be published (for the manifest entry)
# Build with -DKX_UPDATE_BASE_URL=https://host (KX_CMAKE_ARGS) so that the agent knows its update host.
# KX_PRESET picks another configuration (default: release).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
preset=${KX_PRESET:-release}
# shellcheck disable=SC2086
cmake --preset "$preset" ${KX_CMAKE_ARGS:-} >/dev/null
build=build/$preset
declare -A built=([kestrixd]=daemon/kestrixd [kxctl]=client/kxctl [kestrix]=app/kestrix)
targets=(kestrixd kxctl kx-release)
# The desktop app, once the tree has it.
if cmake --build --preset "$preset" --target help 2>/dev/null | grep -q '^kestrix:'; then targets+=(kestrix); fi
cmake --build --preset "$preset" --target "${targets[@]}"

dist=dist
mkdir -p "$dist"
cpack -G DEB -B "$dist" --config "$build/CPackConfig.cmake"
rm -rf "$dist/_CPack_Packages"
deb=$(ls -t "$dist"/kestrix_*.deb | head -n1)

version=$("$build/daemon/kestrixd" --version | awk '{print $2}')
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
bundle="$stage/Kestrix"
mkdir -p "$bundle/bin" "$bundle/share/doc/kestrix"
for program in "${targets[@]}"; do
    [ "$program" = kx-release ] && continue
    install -m 0755 "$build/${built[$program]}" "$bundle/bin/$program"
done
if [ -d app/share ]; then cp -r app/share/. "$bundle/share/"; fi
printf '%s\n' "$version" >"$bundle/version"
# The libraries it needs: the package's dependencies, installed once with apt.
depends=$(dpkg-deb -f "$deb" Depends)
{
    echo "Kestrix $version runs from this folder. It needs these libraries (Debian 12 package names):"
    echo "  $depends"
    echo "Install them with: sudo apt install $(echo "$depends" | sed -E 's/ \([^)]*\)//g; s/,//g')"
} >"$bundle/share/doc/kestrix/DEPENDENCIES"

archive="$dist/Kestrix-$version-linux-x86_64.tar.gz"
if [ -n "${KX_RELEASE_KEY:-}" ] && [ -n "${KX_UPDATE_PUBLIC_KEY_FILE:-}" ]; then
    cp "$KX_UPDATE_PUBLIC_KEY_FILE" "$bundle/update-public-key.txt"
    "$build/tools/kx-release" sign-bundle "$bundle" --key "$KX_RELEASE_KEY"
else
    echo "package.sh: no KX_RELEASE_KEY and KX_UPDATE_PUBLIC_KEY_FILE: the portable installation is not signed" \
         "and will not update itself" >&2
fi
tar -czf "$archive" --owner=0 --group=0 --numeric-owner -C "$stage" Kestrix
if [ -n "${KX_RELEASE_URL:-}" ]; then
    "$build/tools/kx-release" entry "$archive" --version "$version" \
        --url "${KX_RELEASE_URL%/}/$(basename "$archive")" >"${archive%.tar.gz}.json"
fi
echo "package.sh: $deb"
echo "package.sh: $archive"
