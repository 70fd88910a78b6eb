# The hash layer's tests link only the hash library and Qt Test.

# The NIST CAVP and RFC 1321 vectors come from Debian's
# python3-cryptography-vectors. Without them the vector tests would have
# nothing to check, so a missing folder stops the configuration.
find_path(ORVALEN_HASH_VECTORS
  NAMES SHA2/SHA256ShortMsg.rsp
  HINTS /usr/lib/python3/dist-packages/cryptography_vectors/hashes
  PATHS /usr/lib/python3 /usr/local/lib /usr/lib
  PATH_SUFFIXES dist-packages/cryptography_vectors/hashes cryptography_vectors/hashes
  DOC "The hashes folder of the cryptography_vectors Python package")
if(NOT ORVALEN_HASH_VECTORS
   OR NOT EXISTS ${ORVALEN_HASH_VECTORS}/SHA1/SHA1ShortMsg.rsp
   OR NOT EXISTS ${ORVALEN_HASH_VECTORS}/MD5/rfc-1321.txt)
  message(FATAL_ERROR
    "The hash test vectors were not found. Install them with "
    "'sudo apt-get install python3-cryptography-vectors', or point "
    "ORVALEN_HASH_VECTORS at the package's cryptography_vectors/hashes folder, "
    "or configure with -DORVALEN_BUILD_TESTS=OFF.")
endif()

orvalen_add_test(tst_hashvectors SOURCES tst_hashvectors.cpp LIBS hash ${ORVALEN_QT_PREFIX}::Core)
target_compile_definitions(tst_hashvectors PRIVATE ORVALEN_HASH_VECTORS="${ORVALEN_HASH_VECTORS}")

orvalen_add_test(tst_hashwrapper SOURCES tst_hashwrapper.cpp LIBS hash ${ORVALEN_QT_PREFIX}::Core)

orvalen_add_test(tst_hashfile SOURCES tst_hashfile.cpp hashfiletest.h LIBS hash ${ORVALEN_QT_PREFIX}::Core)

# A hang on a FIFO or a device must fail, not stall the whole run.
set_tests_properties(tst_hashvectors tst_hashwrapper tst_hashfile PROPERTIES TIMEOUT 300)

# Reading an open file: POSIX descriptors only.
if(UNIX)
  orvalen_add_test(tst_filereader SOURCES tst_filereader.cpp hashfiletest.h LIBS hash ${ORVALEN_QT_PREFIX}::Core)
  set_tests_properties(tst_filereader PROPERTIES TIMEOUT 300)
endif()
