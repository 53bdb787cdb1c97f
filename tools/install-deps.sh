#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Non-interactive: safe in CI and on a fresh machine. Needs root (or sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
# Packages that ask questions (wireshark-common, tzdata, keyboard-configuration)
# get their answers up front so no prompt can hang a run.
$SUDO debconf-set-selections <<'PRESEED'
wireshark-common wireshark-common/install-setuid boolean false
tzdata tzdata/Areas select Etc
tzdata tzdata/Zones/Etc select UTC
keyboard-configuration keyboard-configuration/layoutcode string us
PRESEED

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-dev
  libpcap-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libxkbcommon-dev
  iproute2 libcap2-bin libcap-dev procps
  xvfb xauth fonts-liberation fonts-dejavu-core
  dpkg-dev file lintian help2man desktop-file-utils appstream tshark xdg-utils
  g++-mingw-w64-x86-64-posix wine wine64 jq unzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
fi
