# shellcheck shell=bash
# Sourced by run.sh and instructions.sh, which set $repo, $agent_bin, $load and $floor first: a
# scratch folder whose agents are stopped when the script exits, and kvsshaa started in folders
# of its own.

: "${repo:?}" "${agent_bin:?}" "${load:?}" "${floor:?}"
[ -x "$load" ] && [ -x "$floor" ] || {
    echo "$(basename "$0"): build the openssh_load and floor_agent targets first" >&2
    exit 2
}
[ -x "$agent_bin" ] || { echo "$(basename "$0"): no agent at $agent_bin" >&2; exit 2; }
tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

wait_for_socket() {
    for _ in $(seq 200); do [ -S "$1" ] && return 0; sleep 0.05; done
    echo "$(basename "$0"): no socket at $1" >&2
    exit 1
}

# An RSA-2048 key made by ssh-keygen in $tmp/rsa, and as PEM, which floor_agent reads, in
# $tmp/rsa.pem.
make_rsa_key() {
    ssh-keygen -q -t rsa -b 2048 -N '' -C 'bench rsa' -f "$tmp/rsa"
    cp "$tmp/rsa" "$tmp/rsa.pem"
    ssh-keygen -q -p -m PEM -P '' -N '' -f "$tmp/rsa.pem" >/dev/null
}

# kvsshaa offscreen, "pw" chosen at its first-use prompt; arguments go before the binary (a
# wrapper such as valgrind). Returns once it serves $kvsshaa_sock unlocked.
kvsshaa_sock=$tmp/home/run/kvsshaa/ssh
start_kvsshaa() {
    local home=$tmp/home
    mkdir -p "$home"
    printf 'pw\npw\n' >"$tmp/queue"
    env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/config" \
        XDG_RUNTIME_DIR="$home/run" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen \
        SSH_ASKPASS="$repo/tests/support/askpass.sh" SSH_ASKPASS_REQUIRE=force \
        KV_ASKPASS_QUEUE="$tmp/queue" "$@" "$agent_bin" 2>"$tmp/kvsshaa.stderr" &
    pids+=($!)
    for _ in $(seq 1200); do
        grep -q 'kvsshaa: unlocked' "$tmp/kvsshaa.stderr" && break
        sleep 0.05
    done
    wait_for_socket "$kvsshaa_sock"
}
