# orvalen-cli is tested as a process, one executable a concern; the tests
# also link the engine to write the same tree's checksums file the way the
# desktop application does, and the CLI's jobs and terminal reporter to
# look at them in process.
foreach(test tst_cli tst_cliverify tst_cliupdate tst_clisignals tst_cliunreadable)
  orvalen_add_test(${test}
    SOURCES ${test}.cpp
    LIBS cli)
  target_compile_definitions(${test} PRIVATE
    ORVALEN_CLI="$<TARGET_FILE:orvalen-cli>"
    ORVALEN_QM_DIR="${CMAKE_BINARY_DIR}"
  )
  add_dependencies(${test} orvalen-cli)
  if(TARGET orvalen_translations)
    add_dependencies(${test} orvalen_translations)
  endif()
endforeach()

# digest --check: its line parser in process, its runs beside coreutils'.
orvalen_add_test(tst_digestcheck
  SOURCES tst_digestcheck.cpp
  LIBS cli)
target_compile_definitions(tst_digestcheck PRIVATE ORVALEN_CLI="$<TARGET_FILE:orvalen-cli>")
add_dependencies(tst_digestcheck orvalen-cli)

# --metrics: what orvalen-cli leaves, read back by Prometheus' own parser.
orvalen_add_test(tst_metricsfile
  SOURCES tst_metricsfile.cpp
  LIBS ${ORVALEN_QT_PREFIX}::Core)
target_compile_definitions(tst_metricsfile PRIVATE ORVALEN_CLI="$<TARGET_FILE:orvalen-cli>")
add_dependencies(tst_metricsfile orvalen-cli)

# The file system that fails on purpose, for the tests of unreadable files
# and directories; they skip where it was not built or cannot be mounted.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3)
endif()
if(FUSE3_FOUND)
  enable_language(C)
  add_executable(faultfs faultfs.c)
  target_link_libraries(faultfs PRIVATE PkgConfig::FUSE3)
  add_dependencies(tst_cliunreadable faultfs)
  target_compile_definitions(tst_cliunreadable PRIVATE ORVALEN_FAULTFS="$<TARGET_FILE:faultfs>")
endif()
