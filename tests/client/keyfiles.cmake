# SSH2 key files and fingerprints (keys/ssh2_*, keys/key_file_*, keys/fingerprint.*) and the
# client's key input. The interop cases run puttygen and ssh-keygen at test time.
kv_unit_test(keyfiles_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/keyfile_text_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/keyfile_roundtrip_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/keyfile_fingerprint_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/keyfile_interop_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/keyfile_test_support.cpp
    LIBS kv_keys kv_client)
if(TARGET kvclm)
    add_dependencies(keyfiles_test kvclm)
endif()
