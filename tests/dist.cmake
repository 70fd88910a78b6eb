# The files a Linux installation carries beside the programs, each checked by
# the tool its readers use.
add_test(NAME desktopfile
         COMMAND desktop-file-validate ${PROJECT_SOURCE_DIR}/app/com.varnock.Orvalen.desktop)
set_tests_properties(desktopfile PROPERTIES FAIL_REGULAR_EXPRESSION ".")

add_test(NAME metainfo
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_metainfo.sh
                 ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR})
