#!/usr/bin/env bash
# The include check and the link check catch what they are for, on small trees that break the
# layering one way each, and pass a tree that keeps to it.
# Usage: layering_checks_test.sh SOURCE_ROOT
source "$(dirname "$0")/check_cases.sh"

# A tree with the real layer table and one file per named folder.
new_tree() {
    rm -rf "$work/tree"
    mkdir -p "$work/tree/scripts"
    cp "$source_root/scripts/layers.txt" "$source_root/scripts/check_layers.sh" "$work/tree/scripts/"
}

add_file() {  # path, then its lines
    local path="$work/tree/$1"
    shift
    mkdir -p "$(dirname "$path")"
    printf '%s\n' "$@" >"$path"
}

expect_includes() {  # "pass" or "fail", what the tree is, text the output must hold
    local want="$1" what="$2" text="${3:-}" out rc
    out="$(bash "$work/tree/scripts/check_layers.sh" "$work/tree" 2>&1)"
    rc=$?
    if [ "$want" = pass ] && [ $rc -ne 0 ]; then fail "$what: refused: $out"; fi
    if [ "$want" = fail ] && [ $rc -ne 1 ]; then fail "$what: not refused (rc $rc): $out"; fi
    if [ -n "$text" ] && [[ "$out" != *"$text"* ]]; then fail "$what: output lacks '$text': $out"; fi
}

new_tree
add_file keys/key_store.cpp '#include "keys/key_store.h"' '#include <vector>' '#include "core/event_log.h"'
add_file app/agent_app.cpp '#include "keys/key_store.h"' '#include "platform/paths.h"'
add_file agent/main.cpp '#include "ui/qt_user_interface.h"' '#include "app/agent_app.h"'
add_file ui/page.cpp '#include "app/unlock_on_demand.h"' '#include "kvclm/kvclm.h"'
add_file kvclm/sign.cpp '#include <openssl/evp.h>' '#include "kvclm/wire.h"'
add_file platform/registry/registry_key.cpp '#include "platform/secure_memory.h"'
expect_includes pass "a tree that keeps to the layers"

add_file keys/agent_lock.cpp '#include "keys/agent_lock.h"' '  #  include "app/agent_app.h"'
expect_includes fail "keys/ including app/" "keys/agent_lock.cpp:2: app/agent_app.h"

new_tree
add_file cryptomodule/hash.cpp '#include "core/settings_table.h"'
expect_includes fail "a folder including its neighbour on the same line" "cryptomodule/ may not include core/"

new_tree
add_file core/event_log.cpp '#include "app/agent_app.h"'
expect_includes fail "the settings and log layer including the application" "core/ may not include app/"

new_tree
add_file agent/main_frame.cpp '#include "ui/tray/system_tray.h"'
expect_includes fail "agent/ including ui/ outside the executable's start-up" "agent/main_frame.cpp:1"

new_tree
add_file cryptomodule/private_key.cpp '#include "kvclm/wire.h"'
expect_includes fail "a module header other than the ABI" "kvclm/kvclm.h only"

new_tree
add_file keys/key_file_io.cpp '#include <openssl/pem.h>'
expect_includes fail "OpenSSL outside the module" "only kvclm/ uses crypto libraries"

new_tree
add_file keys/key_text.h '#include "tests/support/temp_dir.h"'
expect_includes fail "a product folder including the tests" "no layer of the product"

# The link check: a project with the real layering module whose libraries break it.
cmake_case() {  # "pass" or "fail", what, text the output must hold, extra CMake lines
    local want="$1" what="$2" text="$3" out rc
    shift 3
    rm -rf "$work/project" "$work/project-build"
    mkdir -p "$work/project/cmake" "$work/project/scripts"
    cp "$source_root/cmake/layering.cmake" "$work/project/cmake/"
    cp "$source_root/scripts/layers.txt" "$work/project/scripts/"
    for folder in platform keys app ui; do
        mkdir -p "$work/project/$folder"
        echo "add_library(kv_$folder INTERFACE)" >"$work/project/$folder/CMakeLists.txt"
    done
    {
        echo 'cmake_minimum_required(VERSION 3.25)'
        echo 'project(layering_case LANGUAGES NONE)'
        echo 'include(cmake/layering.cmake)'
        echo 'add_library(Qt6::Widgets INTERFACE IMPORTED)'
        echo 'add_library(Qt6::Core INTERFACE IMPORTED)'
        echo 'foreach(folder platform keys app ui)'
        echo '    add_subdirectory(${folder})'
        echo 'endforeach()'
        printf '%s\n' "$@"
        echo 'kv_check_layering()'
    } >"$work/project/CMakeLists.txt"
    out="$(cmake -S "$work/project" -B "$work/project-build" 2>&1)"
    rc=$?
    if [ "$want" = pass ] && [ $rc -ne 0 ]; then fail "$what: refused: $out"; fi
    if [ "$want" = fail ] && [ $rc -eq 0 ]; then fail "$what: not refused"; fi
    if [ -n "$text" ] && [[ "$out" != *"$text"* ]]; then fail "$what: output lacks '$text': $out"; fi
}

cmake_case pass "links that follow the layers" "" \
    'target_link_libraries(kv_app INTERFACE kv_keys kv_platform)' \
    'target_link_libraries(kv_ui INTERFACE kv_app Qt6::Widgets)'
cmake_case fail "a lower library linking a higher one" "kv_keys (keys/) links kv_app (app/)" \
    'target_link_libraries(kv_keys INTERFACE kv_app)'
cmake_case fail "Qt Widgets reached through another library" "kv_app (app/) links Qt Widgets" \
    'add_library(kv_widgets_helper INTERFACE)' \
    'target_link_libraries(kv_widgets_helper INTERFACE Qt6::Widgets)' \
    'target_link_libraries(kv_app INTERFACE kv_widgets_helper)'
cmake_case fail "Qt below the agent's Qt parts" "kv_platform (platform/) links Qt6::Core" \
    'target_link_libraries(kv_platform INTERFACE Qt6::Core)'

finish layering
