# The engine's tests link only the core library and Qt Test.
orvalen_add_test(tst_hashtools SOURCES tst_hashtools.cpp LIBS core)
