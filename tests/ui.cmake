orvalen_add_test(tst_dbparamwindow SOURCES tst_dbparamwindow.cpp uitestsupport.h LIBS ui)
orvalen_add_test(tst_createhashwindow SOURCES tst_createhashwindow.cpp uitestsupport.h LIBS ui)
