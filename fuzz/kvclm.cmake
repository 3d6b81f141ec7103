# Fuzz targets of the cryptographic module: private key import (plain and with a passphrase),
# OpenSSH private key files,
# public blob import and Base64 decoding. They link the fuzzers' module, whose passphrase
# derivation runs one round whatever count an input names.
foreach(target kvclm_private_plain kvclm_private_protected kvclm_public_blob kvclm_base64
               kvclm_private_file)
    kv_fuzz_target(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp LIBS kvclm_fuzz)
endforeach()
