# The hash layer's throughput, alone and beside openssl dgst and sha256sum on
# the same warm 1 GiB file:
#   cmake --build <build> --target bench_hash_run
# The file is kept at ${ORVALEN_HASH_BENCH_FILE} (default: /tmp/orvalen-hash-bench-1g.bin).
add_executable(bench_hash ${CMAKE_CURRENT_LIST_DIR}/bench_hash.cpp)
target_link_libraries(bench_hash PRIVATE hash)

add_custom_target(bench_hash_run
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/hash-vs-openssl.sh $<TARGET_FILE:bench_hash>
  DEPENDS bench_hash
  USES_TERMINAL
  VERBATIM
)
