if(TARGET app)
  set(ORVALEN_APP_TEST_DEFINITIONS
    ORVALEN_QM_DIR="${CMAKE_BINARY_DIR}"
    ORVALEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    # The lupdate of the Qt being built with: another major version's would
    # read the sources by other rules.
    ORVALEN_LUPDATE="$<TARGET_FILE:${ORVALEN_QT_PREFIX}::lupdate>"
  )
  # The driver and the fixture the main window's tests share, built once.
  add_library(mainwindowtest STATIC guidriver.cpp guidriver.h mainwindowtest.cpp mainwindowtest.h)
  set_target_properties(mainwindowtest PROPERTIES AUTOMOC ON)
  target_link_libraries(mainwindowtest PUBLIC app ${ORVALEN_QT_PREFIX}::Test)
  foreach(unit tst_mainwindow tst_mainwindowerrors tst_mainwindowcancel tst_stopsignals tst_applicationicon)
    orvalen_add_test(${unit} SOURCES ${unit}.cpp LIBS mainwindowtest)
  endforeach()
  target_compile_definitions(tst_applicationicon PRIVATE ORVALEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(UNIX)
    add_test(NAME tst_stopsignals_exit
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_exit_during_create.sh
                     $<TARGET_FILE:tst_stopsignals>)
  endif()
  # A real Escape key, sent through an X server with no window manager.
  find_program(ORVALEN_XVFB_RUN xvfb-run)
  if(ORVALEN_XVFB_RUN)
    add_test(NAME tst_mainwindowcancel_x11
             COMMAND ${ORVALEN_XVFB_RUN} -a $<TARGET_FILE:tst_mainwindowcancel> realEscapeKeyCancels)
    set_tests_properties(tst_mainwindowcancel_x11 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb")
  endif()
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
