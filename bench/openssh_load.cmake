# The OpenSSH agent load client, driven by bench/openssh_load/run.sh.
include(${CMAKE_CURRENT_LIST_DIR}/openssh_load/CMakeLists.txt)
