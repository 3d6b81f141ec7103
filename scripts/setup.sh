#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing kvsshaa need.
# Idempotent: installs only what is missing and runs apt-get update at most once.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libsqlite3-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev
    putty-tools openssh-client openssh-server xvfb xauth util-linux procps python3
    trayer xdotool openbox x11-utils imagemagick libssh-dev ccache dbus
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
