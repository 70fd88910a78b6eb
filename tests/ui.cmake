orvalen_add_test(tst_dbparamwindow SOURCES tst_dbparamwindow.cpp uitestsupport.h LIBS ui)
orvalen_add_test(tst_choosedirwidget SOURCES tst_choosedirwidget.cpp uitestsupport.h LIBS ui)
orvalen_add_test(tst_settingsfile SOURCES tst_settingsfile.cpp uitestsupport.h LIBS ui)
orvalen_add_test(tst_createhashwindow SOURCES tst_createhashwindow.cpp uitestsupport.h LIBS ui)
# The window's width is checked against its title in every shipped language.
target_compile_definitions(tst_createhashwindow PRIVATE ORVALEN_QM_DIR="${CMAKE_BINARY_DIR}")
if(TARGET orvalen_translations)
  add_dependencies(tst_createhashwindow orvalen_translations)
endif()
orvalen_add_test(tst_creationdbresult SOURCES tst_creationdbresult.cpp uitestsupport.h LIBS ui)
target_compile_definitions(tst_creationdbresult PRIVATE ORVALEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
orvalen_add_test(tst_checkdbresult SOURCES tst_checkdbresult.cpp uitestsupport.h LIBS ui)
# A scale factor of 2 halves the offscreen screen's 800 x 600: the digest row
# alone is then wider than the screen.
foreach(dialog tst_creationdbresult tst_checkdbresult)
  add_test(NAME ${dialog}_scaled COMMAND ${dialog} fitsTheScreenItOpensOn)
  set_tests_properties(${dialog}_scaled PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2")
endforeach()
