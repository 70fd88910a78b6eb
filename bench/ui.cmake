# reportFile of the progress window with the window on screen, against a
# refresh on every file, in one run:
#   cmake --build <build> --target bench_ui_run
# (needs a display; the target runs it under xvfb-run when that exists).
if(TARGET ui)
  add_executable(bench_ui bench_ui.cpp)
  set_target_properties(bench_ui PROPERTIES AUTOMOC ON)
  target_link_libraries(bench_ui PRIVATE ui ${ORVALEN_QT_PREFIX}::Test)

  find_program(ORVALEN_XVFB_RUN xvfb-run)
  if(ORVALEN_XVFB_RUN)
    set(ORVALEN_BENCH_UI_COMMAND ${ORVALEN_XVFB_RUN} -a $<TARGET_FILE:bench_ui>)
  else()
    set(ORVALEN_BENCH_UI_COMMAND $<TARGET_FILE:bench_ui>)
  endif()
  add_custom_target(bench_ui_run
    COMMAND ${ORVALEN_BENCH_UI_COMMAND}
    DEPENDS bench_ui
    USES_TERMINAL
    VERBATIM
  )
endif()
