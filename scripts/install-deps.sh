#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Does nothing when they are all present; otherwise updates the lists once.
set -euo pipefail

packages=(
    cmake ninja-build ccache g++ zlib1g-dev libssl-dev openssl libdeflate-dev
    qt6-base-dev qt6-base-dev-tools qt6-httpserver-dev qt6-websockets-dev libqt6sql6-mysql libqt6sql6-sqlite libmariadb-dev
    mariadb-server mariadb-client
    redis-server libhiredis-dev
    fonts-dejavu-core
    dpkg-dev libsystemd-dev
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
