#!/usr/bin/env bash
# Signatures with the configuration window open: kvsshaa holding KEYS keys (default 1,000) on
# a virtual X display, ROUNDS rounds of Ed25519 signatures on one connection with the window
# never opened, then as many with it open on its Status page (every signature writes to the
# event log, and each entry refreshes the window). Prints each round and the medians, with the
# agent's processor time per request.
#
#   bench/openssh_load/window_open.sh [BUILD_DIR] [REQUESTS] [ROUNDS]   (defaults: build, 1000, 3)
#
# Needs Xvfb and openbox (make test installs them).
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
requests=${2:-1000}
rounds=${3:-3}
agent_bin=${KVSSHAA_BIN:-$build/bin/kvsshaa}
load=$build/bench/openssh_load
floor=$build/bench/floor_agent

# shellcheck source=bench/openssh_load/agents.sh
. "$repo/bench/openssh_load/agents.sh"

# The keys go in through an agent without windows, which answers its first-use prompt by
# askpass; the agent measured then starts on the display with the same store.
ssh-keygen -q -t ed25519 -N '' -C 'bench ed25519' -f "$tmp/ed25519"
start_kvsshaa
SSH_AUTH_SOCK=$kvsshaa_sock ssh-add -q "$tmp/ed25519" </dev/null
"$load" --populate $((${KEYS:-1000} - 1)) --socket "$kvsshaa_sock" >/dev/null
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
pids=()

display=$(for n in $(seq 70 99); do [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; break; }; done)
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
wait_for_socket "/tmp/.X11-unix/X$display"
DISPLAY=":$display" openbox >/dev/null 2>&1 &
pids+=($!)

home=$tmp/home
export DISPLAY=":$display" HOME="$home" XDG_CONFIG_HOME="$home/config"
export XDG_RUNTIME_DIR="$home/run" XDG_DATA_HOME="$home/data"
unset SSH_ASKPASS SSH_ASKPASS_REQUIRE QT_QPA_PLATFORM WAYLAND_DISPLAY
rm -f "$kvsshaa_sock"
"$agent_bin" 2>"$tmp/kvsshaa.stderr" &
pids+=($!)
agent_pid=$!
wait_for_socket "$kvsshaa_sock"
printf 'pw\n' >"$tmp/unlock"
SSH_ASKPASS=$repo/tests/support/askpass.sh SSH_ASKPASS_REQUIRE=force \
    KV_ASKPASS_QUEUE=$tmp/unlock SSH_AUTH_SOCK=$kvsshaa_sock ssh-add -X </dev/null >/dev/null 2>&1

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$agent_pid/stat"; }
measure() {
    local before
    before=$(cpu_ticks)
    "$load" --socket "$kvsshaa_sock" --label "$1" --requests "$requests" --case ssh-ed25519 \
        --connections 1 | tr '\n' ' '
    echo "$(( $(cpu_ticks) - before ))"
}
for _ in $(seq "$rounds"); do measure closed; done | tee "$tmp/rounds"
"$build/bin/kvsshaa-client" show-window
sleep 1
for _ in $(seq "$rounds"); do measure open; done | tee -a "$tmp/rounds"

python3 - "$tmp/rounds" "$requests" "$(getconf CLK_TCK)" <<'PY'
import statistics, sys
requests, tick = int(sys.argv[2]), 1e6 / int(sys.argv[3])
runs = {}
for line in open(sys.argv[1]):
    f = line.split()
    runs.setdefault(f[0], []).append((float(f[4]), int(f[-1]) * tick / (requests + 25)))
print("%-8s %10s %16s" % ("window", "req/s", "CPU us/request"))
for name, rows in runs.items():
    print("%-8s %10.0f %16.0f" % (name, statistics.median(r for r, _ in rows),
                                  statistics.median(c for _, c in rows)))
PY
