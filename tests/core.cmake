# The engine's tests link only the core library and Qt Test.
orvalen_add_test(tst_hashtools SOURCES tst_hashtools.cpp LIBS core)
orvalen_add_test(tst_checksumfile SOURCES tst_checksumfile.cpp LIBS core)
orvalen_add_test(tst_checksumwriter SOURCES tst_checksumwriter.cpp LIBS core)
orvalen_add_test(tst_folderwalk SOURCES tst_folderwalk.cpp LIBS core)
orvalen_add_test(tst_packedpaths SOURCES tst_packedpaths.cpp LIBS core)
orvalen_add_test(tst_compare SOURCES tst_compare.cpp LIBS core)
orvalen_add_test(tst_ignorerules SOURCES tst_ignorerules.cpp LIBS core)
