# Requests through the real dispatcher, handlers, key store and module.
# The agent keeps state from one input to the next (stored keys, the log, SQLite's cache), so
# nearly every input allocates more than it frees; libFuzzer's leak check after each such input
# would cost more than the input itself.
kv_fuzz_target(agent_dispatcher
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/agent_dispatcher.cpp
    LIBS kv_handlers
    FLAGS -detect_leaks=0)
# Loads the fuzzers' module (one-round derivation) from fuzz/crypto beside it.
add_dependencies(agent_dispatcher kvclm_fuzz)
