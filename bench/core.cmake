# The engine at scale against rhash, sha256sum and openssl on the same warm
# data, in one run:
#   cmake --build <build> --target bench_core_run
# The data is kept under ${ORVALEN_BENCH_DIR} (default: /tmp/orvalen-core-bench).
add_executable(bench_core bench_core.cpp)
set_target_properties(bench_core PROPERTIES AUTOMOC ON)
target_link_libraries(bench_core PRIVATE core)

add_custom_target(bench_core_run
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/core_bench.sh $<TARGET_FILE:bench_core>
  DEPENDS bench_core
  USES_TERMINAL
  VERBATIM
)

# Small files hashed through io_uring against the plain path, in the same
# program (see uring_bench.cpp).
if(ORVALEN_URING)
  add_executable(uring_bench uring_bench.cpp)
  target_link_libraries(uring_bench PRIVATE core)
endif()
