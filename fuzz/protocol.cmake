# Decoding of every native-protocol request and reply layout.
kv_fuzz_target(protocol_requests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_requests.cpp
    LIBS kv_protocol)
