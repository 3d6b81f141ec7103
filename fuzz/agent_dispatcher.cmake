# Requests through the real dispatcher, handlers, key store and module.
kv_fuzz_target(agent_dispatcher
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/agent_dispatcher.cpp
    LIBS kv_handlers)
