# orvalen-cli is tested as a process; the test also links the engine to write
# the same tree's checksums file the way the desktop application does, and
# the terminal reporter to look at its progress line.
orvalen_add_test(tst_cli
  SOURCES tst_cli.cpp
    ${PROJECT_SOURCE_DIR}/cli/consolereport.cpp ${PROJECT_SOURCE_DIR}/cli/clijobs.cpp
    ${PROJECT_SOURCE_DIR}/cli/interruptflag.cpp ${PROJECT_SOURCE_DIR}/cli/localpath.cpp
    ${PROJECT_SOURCE_DIR}/cli/jsonline.cpp ${PROJECT_SOURCE_DIR}/cli/slicestate.cpp
  LIBS core ${ORVALEN_QT_PREFIX}::Core)
target_include_directories(tst_cli PRIVATE ${PROJECT_SOURCE_DIR}/cli)
target_compile_definitions(tst_cli PRIVATE
  ORVALEN_CLI="$<TARGET_FILE:orvalen-cli>"
  ORVALEN_QM_DIR="${CMAKE_BINARY_DIR}"
)
add_dependencies(tst_cli orvalen-cli)
if(TARGET orvalen_translations)
  add_dependencies(tst_cli orvalen_translations)
endif()
