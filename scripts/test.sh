#!/usr/bin/env bash
# Builds and runs every test: the unit tests and a bounded fuzz run under ASan+UBSan (clang),
# then the full suite, end-to-end and interop tests included, on the regular build.
# The last lines are ctest's summary of the full suite.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKV_SANITIZE=ON -DKV_FUZZ=ON -DKV_WITH_UI=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest -L 'unit|fuzz' --output-on-failure -j"$jobs")

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j"$jobs"
cd build && ctest --output-on-failure
