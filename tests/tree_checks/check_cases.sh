# Sourced by the tree-check tests: a scratch folder removed on exit, a failure counter, and the
# closing summary. Usage: source check_cases.sh; ... fail "why"; ...; finish "NAME"
set -uo pipefail
source_root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

finish() {
    if ((failures > 0)); then
        echo "$failures $1 check case(s) failed" >&2
        exit 1
    fi
    echo "$1 checks: every case passed"
}
