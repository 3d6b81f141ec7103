#!/usr/bin/env bash
# Counts the instructions kvsshaa and floor_agent execute per rsa-sha2-256 signature on one
# connection, under valgrind's callgrind: all of them, those inside OpenSSL's RSA_private_encrypt
# (the signature itself) and the rest. Instruction counts do not move with the machine's other
# work, so this tells what an agent adds per request where the wall-clock rates cannot.
#
#   bench/openssh_load/instructions.sh [BUILD_DIR] [REQUESTS]   (defaults: build, 300)
#
# Valgrind offers no AVX-512 or SHA instructions, so libcrypto takes other paths than on the
# processor itself: compare the two agents with each other, not with `openssl speed`.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
requests=${2:-300}
agent_bin=$build/bin/kvsshaa
load=$build/bench/openssh_load
floor=$build/bench/floor_agent
command -v callgrind_control >/dev/null || { echo "instructions.sh: needs valgrind" >&2; exit 2; }

# shellcheck source=bench/openssh_load/agents.sh
. "$repo/bench/openssh_load/agents.sh"

make_rsa_key
start_kvsshaa valgrind --tool=callgrind --callgrind-out-file="$tmp/kvsshaa.cg"
valgrind --tool=callgrind --callgrind-out-file="$tmp/floor.cg" "$floor" "$tmp/floor.sock" \
    "$tmp/rsa.pem" 2>/dev/null &
pids+=($!)
wait_for_socket "$tmp/floor.sock"
SSH_AUTH_SOCK=$kvsshaa_sock ssh-add -q "$tmp/rsa" </dev/null

# Instructions per request: all, inside RSA_private_encrypt, the rest.
count() {
    local pid=$1 sock=$2 name=$3
    "$load" --socket "$sock" --label warm-up --requests 20 --case rsa-sha2-256 >/dev/null
    callgrind_control -z "$pid" >/dev/null 2>&1
    "$load" --socket "$sock" --label "$name" --requests "$requests" --case rsa-sha2-256 \
        --connections 1 >/dev/null
    callgrind_control -d "$pid" >/dev/null 2>&1
    callgrind_annotate --inclusive=yes --threshold=100 --auto=no "$tmp/$name.cg".* |
        awk -v name="$name" -v n="$requests" '
            { gsub(/,/, "", $1) }
            /PROGRAM TOTALS/ { total = $1 }
            /:RSA_private_encrypt / { rsa = $1 }
            END { printf "%-8s %12.0f %12.0f %12.0f\n", name, total / n, rsa / n, (total - rsa) / n }'
}

printf '%-8s %12s %12s %12s\n' agent 'all/req' 'signature' 'rest'
count "${pids[0]}" "$kvsshaa_sock" kvsshaa
count "${pids[1]}" "$tmp/floor.sock" floor
