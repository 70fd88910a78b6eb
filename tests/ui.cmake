orvalen_add_test(tst_dbparamwindow SOURCES tst_dbparamwindow.cpp uitestsupport.h LIBS ui)
