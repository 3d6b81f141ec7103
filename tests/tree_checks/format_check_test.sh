#!/usr/bin/env bash
# The format check refuses a source that clang-format would change and passes one it would
# not. Usage: format_check_test.sh SOURCE_ROOT
set -uo pipefail
source_root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cp "$source_root/.clang-format" "$work/"
mkdir -p "$work/keys"
printf '%s\n' '#include "keys/a.h"' '' 'namespace kv {' '' 'int Twice(int v) { return 2 * v; }' '' \
    '}  // namespace kv' >"$work/keys/a.cpp"
out="$(bash "$source_root/scripts/check_format.sh" "$work" 2>&1)" || fail "a formatted file was refused: $out"

printf '%s\n' 'int  Badly (int v){return v;}' >"$work/keys/b.cpp"
out="$(bash "$source_root/scripts/check_format.sh" "$work" 2>&1)"
rc=$?
[ $rc -eq 1 ] || fail "an unformatted file was not refused (rc $rc): $out"
[[ "$out" == *"keys/b.cpp"* ]] || fail "the refusal does not name the file: $out"
[[ "$out" != *"keys/a.cpp"* ]] || fail "the formatted file was named too: $out"

if ((failures > 0)); then
    echo "$failures format check case(s) failed" >&2
    exit 1
fi
echo "format checks: every case passed"
