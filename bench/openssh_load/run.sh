#!/usr/bin/env bash
# Runs the OpenSSH load client against kvsshaa and against Debian's ssh-agent holding the
# same keys (RSA-2048, DSA-1024, Ed25519 and ECDSA nistp256 made by ssh-keygen, then 1,000
# keys for the list case), in one run, and prints both with the ratios. The RSA cases also run
# against floor_agent with the same RSA key: the least an agent can do per signature, which
# tells kvsshaa's own cost from what the machine costs any agent.
#
#   bench/openssh_load/run.sh [BUILD_DIR] [REQUESTS] [ROUNDS]   (defaults: build, 1000, 3)
#
# Every case runs ROUNDS times, the two agents taking turns, so that both see the same machine;
# the summary gives each agent's median over the rounds and their ratios.
#
# KVSSHAA_BIN overrides the agent binary (default BUILD_DIR/bin/kvsshaa).
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

make_rsa_key
ssh-keygen -q -t dsa -b 1024 -N '' -C 'bench dsa' -f "$tmp/dsa"
ssh-keygen -q -t ed25519 -N '' -C 'bench ed25519' -f "$tmp/ed25519"
ssh-keygen -q -t ecdsa -b 256 -N '' -C 'bench ecdsa' -f "$tmp/ecdsa"

ssh_agent_sock=$tmp/ssh-agent.sock
ssh-agent -D -a "$ssh_agent_sock" >/dev/null 2>&1 &
pids+=($!)
start_kvsshaa
floor_sock=$tmp/floor.sock
"$floor" "$floor_sock" "$tmp/rsa.pem" &
pids+=($!)
wait_for_socket "$ssh_agent_sock"
wait_for_socket "$floor_sock"

for sock in "$ssh_agent_sock" "$kvsshaa_sock"; do
    SSH_AUTH_SOCK=$sock ssh-add -q "$tmp/rsa" "$tmp/dsa" "$tmp/ed25519" "$tmp/ecdsa" </dev/null
done

header() {
    printf '%-10s %-14s %5s %8s %10s %10s %10s %6s %6s\n' agent case conns requests 'req/s' \
        'p50 us' 'p99 us' failed badsig
}

# Processor time an agent has used so far, in clock ticks (user + system).
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

ssh_agent_pid=${pids[0]}
kvsshaa_pid=${pids[1]}
floor_pid=${pids[2]}
cases="list ssh-rsa rsa-sha2-256 rsa-sha2-512 ssh-dss ssh-ed25519 ecdsa-nistp256"
header
for _ in $(seq "$rounds"); do
    for c in $cases; do
        agents="ssh-agent kvsshaa"
        case $c in ssh-rsa | rsa-sha2-*) agents="$agents floor" ;; esac
        for agent in $agents; do
            case $agent in
                ssh-agent) sock=$ssh_agent_sock pid=$ssh_agent_pid ;;
                kvsshaa) sock=$kvsshaa_sock pid=$kvsshaa_pid ;;
                floor) sock=$floor_sock pid=$floor_pid ;;
            esac
            before=$(cpu_ticks "$pid")
            "$load" --socket "$sock" --label "$agent" --requests "$requests" --case "$c" |
                tee -a "$tmp/$agent.out"
            echo "$c $(( $(cpu_ticks "$pid") - before ))" >>"$tmp/$agent.cpu"
        done
    done
done

# The list case with 1,000 keys: the same 998 more keys go into both agents, then ROUNDS rounds
# of it, the agents taking turns as above.
"$load" --populate 998 --socket "$ssh_agent_sock" --socket "$kvsshaa_sock"
for _ in $(seq "$rounds"); do
    "$load" --socket "$ssh_agent_sock" --label ssh-agent --requests "$requests" --list-only |
        tee -a "$tmp/ssh-agent.out"
    "$load" --socket "$kvsshaa_sock" --label kvsshaa --requests "$requests" --list-only |
        tee -a "$tmp/kvsshaa.out"
done

echo
echo "Medians over the rounds; kvsshaa against ssh-agent (throughput ratio: higher is better;"
echo "p99 ratio: lower is better)"
python3 - "$tmp/ssh-agent.out" "$tmp/kvsshaa.out" "$requests" "$(getconf CLK_TCK)" \
    "$tmp/floor.out" <<'PY'
import statistics, sys
def medians(path):
    runs = {}
    for line in open(path):
        f = line.split()
        runs.setdefault((f[1], f[2]), []).append((float(f[4]), float(f[6])))
    return {k: (statistics.median(r for r, _ in v), statistics.median(p for _, p in v), len(v))
            for k, v in runs.items()}
ours, theirs = medians(sys.argv[2]), medians(sys.argv[1])
print("%-14s %5s %6s %14s %12s %8s %10s" % ("case", "conns", "rounds", "ssh-agent req/s",
                                              "kvsshaa req/s", "ratio", "p99 ratio"))
for key, (rps, p99, n) in ours.items():
    if key not in theirs:
        continue
    trps, tp99, _ = theirs[key]
    print("%-14s %5s %6d %14.0f %12.0f %8.2f %10.2f" % (key[0], key[1], n, trps, rps, rps / trps,
                                                          p99 / tp99))

# Processor time per request (both connection counts and the warm-ups together), which the
# other work on the machine does not inflate as it does the wall-clock figures.
requests, tick = int(sys.argv[3]), 1e6 / int(sys.argv[4])
def cpu(path):
    runs = {}
    for line in open(path):
        name, ticks = line.split()
        runs.setdefault(name, []).append(int(ticks) * tick / (2 * requests + 50))
    return {k: statistics.median(v) for k, v in runs.items()}
ours, theirs = cpu(sys.argv[2].replace(".out", ".cpu")), cpu(sys.argv[1].replace(".out", ".cpu"))
print()
print("%-14s %20s %18s %8s" % ("case", "ssh-agent CPU us/req", "kvsshaa CPU us/req", "ratio"))
for name, us in ours.items():
    if name in theirs and us > 0:
        print("%-14s %20.0f %18.0f %8.2f" % (name, theirs[name], us, theirs[name] / us))

# The same RSA cases against floor_agent: what any agent could reach on this machine.
ours, theirs, floor = medians(sys.argv[2]), medians(sys.argv[1]), medians(sys.argv[5])
print()
print("RSA against floor_agent (one thread: read, sign with OpenSSL, write)")
print("%-14s %5s %12s %14s %16s %16s" % ("case", "conns", "floor req/s", "floor/ssh-agent",
                                         "kvsshaa/ssh-agent", "kvsshaa/floor"))
for key, (frps, _, _) in floor.items():
    if key in ours and key in theirs:
        rps, trps = ours[key][0], theirs[key][0]
        print("%-14s %5s %12.0f %14.2f %16.2f %16.2f" % (key[0], key[1], frps, frps / trps,
                                                         rps / trps, rps / frps))
PY
