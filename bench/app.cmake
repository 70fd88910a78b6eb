# A create through the real main window against the engine alone, on the
# same warm tree of 100,000 small files, in one run:
#   cmake --build <build> --target bench_app_run
# (needs a display; the target runs it under xvfb-run when that exists).
if(TARGET app)
  add_executable(bench_app bench_app.cpp
    ${PROJECT_SOURCE_DIR}/tests/guidriver.cpp ${PROJECT_SOURCE_DIR}/tests/guidriver.h)
  set_target_properties(bench_app PROPERTIES AUTOMOC ON)
  target_include_directories(bench_app PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(bench_app PRIVATE app)

  find_program(ORVALEN_XVFB_RUN xvfb-run)
  if(ORVALEN_XVFB_RUN)
    set(ORVALEN_BENCH_APP_COMMAND ${ORVALEN_XVFB_RUN} -a $<TARGET_FILE:bench_app>)
  else()
    set(ORVALEN_BENCH_APP_COMMAND $<TARGET_FILE:bench_app>)
  endif()
  add_custom_target(bench_app_run
    COMMAND ${ORVALEN_BENCH_APP_COMMAND}
    DEPENDS bench_app
    USES_TERMINAL
    VERBATIM
  )
endif()
