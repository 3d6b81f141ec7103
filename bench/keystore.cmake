# The key store at 1,000 and 2,000 keys (load, find by blob, list reply) and a signature
# through Perform with an RSA-2048 key while unlocked.
if(NOT TARGET benchmark::benchmark)
    find_package(benchmark REQUIRED)
endif()
add_executable(keystore_bench ${CMAKE_CURRENT_LIST_DIR}/keystore_bench.cpp)
target_link_libraries(keystore_bench PRIVATE kv_handlers benchmark::benchmark)
target_include_directories(keystore_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_features(keystore_bench PRIVATE cxx_std_20)
target_compile_definitions(keystore_bench PRIVATE KV_BENCH_MODULE_DIR="${KV_MODULE_DIR}")
set_target_properties(keystore_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
if(TARGET kvclm)
    add_dependencies(keystore_bench kvclm)
endif()
