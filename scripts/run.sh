#!/usr/bin/env bash
# Builds the agent and starts it in the foreground.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kvsshaa kvsshaa-client kvclm
exec build/bin/kvsshaa
