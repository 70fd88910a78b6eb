# The engine's tests link only the core library and Qt Test.
orvalen_add_test(tst_hashtools SOURCES tst_hashtools.cpp LIBS core)
orvalen_add_test(tst_checksumfile SOURCES tst_checksumfile.cpp LIBS core)
orvalen_add_test(tst_compare SOURCES tst_compare.cpp LIBS core)
orvalen_add_test(tst_ignorerules SOURCES tst_ignorerules.cpp LIBS core)
if(TARGET uringreader)
  orvalen_add_test(tst_uringreader SOURCES tst_uringreader.cpp LIBS uringreader)
endif()
