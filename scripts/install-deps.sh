#!/usr/bin/env bash
# Installs every Debian package Kestrix needs to build, test, fuzz and run.
# Idempotent and non-interactive; waits for the apt lock instead of failing.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format git
  # libraries
  libsodium-dev nlohmann-json3-dev libasio-dev libcli11-dev libcurl4-openssl-dev
  libqrencode-dev libsdbus-c++-dev libsystemd-dev libavahi-compat-libdnssd-dev
  libx11-dev libxtst-dev libxrandr-dev libicu-dev libxfixes-dev libxext-dev libxss-dev libxres-dev
  libpulse-dev libglib2.0-dev libarchive-dev qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # services the tests start
  dbus avahi-daemon avahi-utils tmux xvfb xauth x11-utils openbox xdotool
  openssl python3 procps iproute2 ca-certificates
  pulseaudio pulseaudio-utils mpv mpv-mpris playerctl python3-dbusmock xclip xsel xterm x11-apps
  wmctrl trayer zbar-tools imagemagick qrencode dpkg-dev fakeroot
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
APT_OPTS=(-y -q -o DPkg::Lock::Timeout=600)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages already installed"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get "${APT_OPTS[@]}" update
$SUDO apt-get "${APT_OPTS[@]}" install --no-install-recommends "${missing[@]}"
