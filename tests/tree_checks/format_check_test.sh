#!/usr/bin/env bash
# The format check refuses a source that clang-format would change and passes one it would
# not. Usage: format_check_test.sh SOURCE_ROOT
source "$(dirname "$0")/check_cases.sh"

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

finish format
