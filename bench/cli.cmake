# orvalen-cli against openssl and rhash on the same warm data, in one run:
#   cmake --build <build> --target bench_cli
# The data is kept under ${ORVALEN_BENCH_DIR} (default: /tmp/orvalen-cli-bench).
if(TARGET orvalen-cli)
  add_custom_target(bench_cli
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cli_bench.sh $<TARGET_FILE:orvalen-cli>
    DEPENDS orvalen-cli
    USES_TERMINAL
    VERBATIM
  )
endif()

# One large file, warm and cold, every algorithm beside openssl dgst, with
# the machine's caches and memory bandwidth:
#   cmake --build <build> --target bench_large_file
if(TARGET orvalen-cli)
  add_custom_target(bench_large_file
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/large-file-bench.sh ${CMAKE_BINARY_DIR}
    DEPENDS orvalen-cli bench_hash
    USES_TERMINAL
    VERBATIM
  )
endif()

# update against create on a 100,000-file tree with 1,000 files changed, the
# page cache dropped before each:
#   cmake --build <build> --target bench_update
if(TARGET orvalen-cli)
  add_custom_target(bench_update
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/update_bench.sh $<TARGET_FILE:orvalen-cli>
    DEPENDS orvalen-cli
    USES_TERMINAL
    VERBATIM
  )
endif()
