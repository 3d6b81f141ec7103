#!/usr/bin/env bash
# Fails when a source file includes a header of a folder above its own (scripts/layers.txt),
# a header of the cryptographic module other than its ABI header, or a crypto library's header
# outside the module. Usage: check_layers.sh [ROOT] (default: this script's tree). Prints one
# line per offending include.
set -euo pipefail

root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
table="$root/scripts/layers.txt"
[ -f "$table" ] || { echo "check_layers: no layer table at $table" >&2; exit 2; }

declare -A rank=()
level=0
while IFS= read -r line; do
    line="${line%%#*}"
    [ -n "${line//[[:space:]]/}" ] || continue
    for folder in $line; do rank[$folder]=$level; done
    level=$((level + 1))
done <"$table"
# The layer folder of a path: the longest folder of the table it lies in (app/core before
# app), else its first component.
layer_of() {
    local path="$1" best="${1%%/*}" folder
    for folder in "${!rank[@]}"; do
        [[ "$folder" == */* && "$path" == "$folder"/* && ${#folder} -gt ${#best} ]] && best=$folder
    done
    echo "$best"
}
# The agent's start-up wires the windows to everything else.
top_files=" agent/main.cpp "

failures=0
report() {
    echo "$1:$2: $3" >&2
    failures=$((failures + 1))
}

check_file() {
    local file="$1" folder own
    folder=$(layer_of "$file")
    own=${rank[$folder]}
    [[ "$top_files" == *" $file "* ]] && own=$level
    local lineno header target
    while IFS=$'\t' read -r lineno header; do
        [ -n "$header" ] || continue
        case "$header" in
            \<openssl/* | \<libssh/*)
                [ "$folder" = kvclm ] || report "$file" "$lineno" "$header: only kvclm/ uses crypto libraries"
                continue
                ;;
            \<*) continue ;;
        esac
        header="${header//\"/}"
        [[ "$header" == */* ]] || continue  # beside the file itself
        target=$(layer_of "$header")
        [ "$target" != "$folder" ] || continue
        if [ -z "${rank[$target]+set}" ]; then
            report "$file" "$lineno" "$header: $target/ is no layer of the product"
        elif [ "$target" = kvclm ] && [ "$header" != kvclm/kvclm.h ]; then
            report "$file" "$lineno" "$header: the module is reached through kvclm/kvclm.h only"
        elif ((rank[$target] >= own)); then
            report "$file" "$lineno" "$header: $folder/ may not include $target/ (scripts/layers.txt)"
        fi
    done < <(sed -n '/^[[:space:]]*#[[:space:]]*include/{=;p}' "$root/$file" |
        paste - - | sed 's/\t[[:space:]]*#[[:space:]]*include[[:space:]]*\(["<][^">]*[">]\).*/\t\1/')
}

checked=0
for folder in "${!rank[@]}"; do
    [ -d "$root/$folder" ] || continue
    while IFS= read -r path; do
        path="${path#"$root"/}"
        [ "$(layer_of "$path")" = "$folder" ] || continue  # a nested layer checks its own
        check_file "$path"
        checked=$((checked + 1))
    done < <(find "$root/$folder" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \))
done

if ((failures > 0)); then
    echo "check_layers: $failures include(s) against the layering in $checked files" >&2
    exit 1
fi
echo "check_layers: $checked files keep to the layering"
