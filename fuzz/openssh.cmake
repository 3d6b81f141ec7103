# The OpenSSH front end: framing, translation and the native requests it makes.
kv_fuzz_target(openssh_translator
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/openssh_translator.cpp
        ${PROJECT_SOURCE_DIR}/tests/openssh/openssh_test_support.cpp
    LIBS kv_openssh)
target_compile_definitions(openssh_translator PRIVATE
    KV_TEST_MODULE_DIR="${KV_MODULE_DIR}" KV_TEST_SOURCE="${PROJECT_SOURCE_DIR}")
