#!/usr/bin/env bash
# Installs the Debian packages kvsshaa needs: `setup.sh run` what building and running the
# agent needs, `setup.sh test` that and what the tests use (compilers for the sanitizer
# build, test libraries, the OpenSSH and PuTTY tools, a virtual X display with a tray host).
# Idempotent: installs only what is missing and runs apt-get update at most once.
set -euo pipefail

run_packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libsqlite3-dev libssl-dev libssh-dev
)
test_packages=(
    git clang libclang-rt-14-dev clang-format-14 ccache dpkg-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    putty-tools openssh-client openssh-server sqlite3 tcsh
    xvfb xauth x11-utils openbox trayer xdotool imagemagick dbus dbus-daemon
    util-linux procps python3
)

packages=("${run_packages[@]}")
case "${1:-test}" in
    run) ;;
    test) packages+=("${test_packages[@]}") ;;
    *) echo "usage: setup.sh run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
# openssh-server would start a system-wide sshd on some machines; the tests start their own
# on loopback, so a policy that forbids service starts keeps the machine as it was.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    trap '$sudo rm -f "$policy"' EXIT
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
