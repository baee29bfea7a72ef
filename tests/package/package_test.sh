#!/usr/bin/env bash
# Builds the Debian package from this build tree, installs it with dpkg (through apt-get, which waits
# for the package lock), runs what it installed, verifies the systemd user unit and removes the
# package again, checking that nothing of it is left. Needs root; skipped (77) otherwise, and when a
# kestrix package is already installed here (it is not ours to replace).
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
if [ "$(id -u)" -ne 0 ]; then echo "skipped: installing a package needs root"; exit 77; fi
if dpkg-query -W -f='${Status}' kestrix 2>/dev/null | grep -q "install ok installed"; then
    echo "skipped: a kestrix package is already installed on this machine"; exit 77
fi
apt=(apt-get -y -q -o DPkg::Lock::Timeout=600)
work=$(mktemp -d)
installed=0
cleanup() {
    if [ "$installed" -eq 1 ]; then "${apt[@]}" purge kestrix >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/kestrix_*.deb)
echo "package: $(dpkg-deb -f "$deb" Package Version Depends | tr '\n' ' ')"

installed=1
"${apt[@]}" install --no-install-recommends "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
/usr/bin/kestrixd --version | grep -Eq '^kestrixd [0-9]+\.[0-9]+\.[0-9]+'
for program in kestrixd kxctl kx-release; do
    /usr/bin/$program --help >/dev/null || { echo "$program --help failed"; exit 1; }
done
unit=/usr/lib/systemd/user/kestrixd.service
test -f "$unit"
if command -v systemd-analyze >/dev/null; then
    # Offline, as a system unit file: a user manager needs a login session this machine may not have.
    systemd-analyze verify "$unit"
else
    echo "systemd-analyze is not available: the unit file was not verified"
fi

"${apt[@]}" purge kestrix >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; exit 1; }
installed=0
if dpkg-query -W -f='${Status}' kestrix 2>/dev/null | grep -q "installed"; then echo "still installed"; exit 1; fi
for file in /usr/bin/kestrixd /usr/bin/kxctl /usr/bin/kx-release "$unit"; do
    if [ -e "$file" ]; then echo "left behind: $file"; exit 1; fi
done
echo "installed, ran and removed cleanly"
