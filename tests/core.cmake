# The engine's tests link only the core library and Qt Test.
orvalen_add_test(tst_hashtools SOURCES tst_hashtools.cpp LIBS core)
orvalen_add_test(tst_checksumfile SOURCES tst_checksumfile.cpp LIBS core)
orvalen_add_test(tst_checksumwriter SOURCES tst_checksumwriter.cpp LIBS core)
orvalen_add_test(tst_folderwalk SOURCES tst_folderwalk.cpp LIBS core)
orvalen_add_test(tst_packedpaths SOURCES tst_packedpaths.cpp LIBS core)
orvalen_add_test(tst_compare SOURCES tst_compare.cpp LIBS core)
orvalen_add_test(tst_verifysession SOURCES tst_verifysession.cpp LIBS core)
orvalen_add_test(tst_ignorerules SOURCES tst_ignorerules.cpp LIBS core)
# The engine as orvalen-cli drives it, in process.
orvalen_add_test(tst_streamverify SOURCES tst_streamverify.cpp LIBS core)
orvalen_add_test(tst_treescan SOURCES tst_treescan.cpp LIBS core)
orvalen_add_test(tst_update SOURCES tst_update.cpp LIBS core)
orvalen_add_test(tst_slices SOURCES tst_slices.cpp LIBS core)
