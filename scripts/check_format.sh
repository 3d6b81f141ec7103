#!/usr/bin/env bash
# Fails when a C or C++ source differs from what clang-format makes of it with the root
# .clang-format. Usage: check_format.sh [ROOT] (default: this script's tree). In a git
# checkout the tracked files are checked, elsewhere every source below ROOT. The formatter is
# the one scripts/setup.sh installs: other versions lay out some constructs differently.
set -euo pipefail

root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
formatter="$(command -v clang-format-14 || true)"
if [ -z "$formatter" ]; then
    echo "check_format: clang-format-14 is missing; scripts/setup.sh test installs it" >&2
    exit 2
fi

cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.h' '*.hpp' '*.c' '*.cpp')
else
    mapfile -t files < <(find . -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) \
        -not -path './build*' | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
    echo "check_format: no sources below $root" >&2
    exit 2
fi

if ! "$formatter" --dry-run -Werror --style=file "${files[@]}"; then
    echo "check_format: run $formatter -i on the files above" >&2
    exit 1
fi
echo "check_format: ${#files[@]} files formatted"
