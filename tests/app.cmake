if(TARGET app)
  set(ORVALEN_APP_TEST_DEFINITIONS
    ORVALEN_QM_DIR="${CMAKE_BINARY_DIR}"
    ORVALEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    # The lupdate of the Qt being built with: another major version's would
    # read the sources by other rules.
    ORVALEN_LUPDATE="$<TARGET_FILE:${ORVALEN_QT_PREFIX}::lupdate>"
  )
  orvalen_add_test(tst_mainwindow
    SOURCES tst_mainwindow.cpp guidriver.cpp guidriver.h
    LIBS app)
  target_compile_definitions(tst_mainwindow PRIVATE ORVALEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  orvalen_add_test(tst_translationloader
    SOURCES tst_translationloader.cpp guidriver.cpp guidriver.h
    LIBS app)
  target_compile_definitions(tst_translationloader PRIVATE ${ORVALEN_APP_TEST_DEFINITIONS})
  if(TARGET orvalen_translations)
    add_dependencies(tst_translationloader orvalen_translations)
  endif()
endif()

# --help and --version answer without a display: no DISPLAY, no Wayland,
# no Qt platform chosen.
if(TARGET orvalen)
  add_test(NAME orvalen_version_without_display
           COMMAND env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $<TARGET_FILE:orvalen> --version)
  set_tests_properties(orvalen_version_without_display PROPERTIES
                       PASS_REGULAR_EXPRESSION "^orvalen ${PROJECT_VERSION}\n$")
  add_test(NAME orvalen_help_without_display
           COMMAND env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $<TARGET_FILE:orvalen> -stylesheet x --help)
  set_tests_properties(orvalen_help_without_display PROPERTIES
                       PASS_REGULAR_EXPRESSION "Usage: [^\n]*orvalen \\[options\\]\n.*--version")
endif()
