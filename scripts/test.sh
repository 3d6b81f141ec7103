#!/usr/bin/env bash
# Builds and runs every test in three trees, each with warnings as errors:
#  1. build-asan: the whole tree (Qt parts included) with clang under AddressSanitizer and
#     UndefinedBehaviorSanitizer at -O1, with the libFuzzer targets in the same tree. Runs
#     everything: unit, window, end-to-end, interop, desktop and memory-scan tests, and a
#     bounded run of every fuzz target.
#  2. build-tsan: the compute pool, the handlers, the key code and the module under
#     ThreadSanitizer, with the tests where worker threads meet the user-interface thread.
#  3. build: the regular tree, with everything but the fuzzers (it has none), the installed
#     product's checks included.
# The last lines are ctest's summary of the regular tree.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Paths below the checkout are hashed relative to it, so that a clone in any folder reuses
# what the compiler cache holds from another.
export CCACHE_BASEDIR="$PWD"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKV_SANITIZE=ON -DKV_FUZZ=ON -DKV_WITH_UI=ON -DKV_BUILD_TESTS=ON -DKV_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
(
    # Every process the tests start (the agent included) reports to the test's output and
    # fails on the first finding; known leaks below the agent are listed in
    # tests/support/lsan_suppressions.txt.
    export ASAN_OPTIONS="detect_leaks=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan_suppressions.txt:print_suppressions=0"
    cd build-asan && ctest --output-on-failure -j"$jobs"
)

# No Qt and only the targets these tests need, so that the tree stays quick to build.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKV_TSAN=ON -DKV_WITH_UI=OFF -DKV_BUILD_TESTS=ON -DKV_WERROR=ON >/dev/null
tsan_tests="compute_pool_test pooled_operations_test handlers_test secret_cache_test rsa_crt_test"
cmake --build build-tsan -j"$jobs" --target kvclm $tsan_tests
(
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
    cd build-tsan && ctest --output-on-failure -R "^(${tsan_tests// /|})\$"
)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=ON -DKV_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j"$jobs"
cd build && ctest --output-on-failure -j"$jobs"
