# The files a Linux installation carries beside the programs, each checked by
# the tool its readers use.
foreach(page orvalen orvalen-cli)
  # groff exits with 0 on warnings; any message fails the test.
  add_test(NAME manpage_${page}
           COMMAND groff -man -ww -z ${PROJECT_BINARY_DIR}/docs/${page}.1)
  set_tests_properties(manpage_${page} PROPERTIES FAIL_REGULAR_EXPRESSION ".")
endforeach()

add_test(NAME completion_orvalen-cli
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_completion.sh
                 ${PROJECT_SOURCE_DIR}/dist/bash-completion/orvalen-cli)

# zsh through compinit on a pseudo terminal, fish through complete -C.
add_test(NAME completion_orvalen-cli_zsh
         COMMAND zsh -f ${CMAKE_CURRENT_SOURCE_DIR}/check_completion.zsh
                 ${PROJECT_SOURCE_DIR}/dist/zsh-completion)
add_test(NAME completion_orvalen-cli_fish
         COMMAND fish --no-config ${CMAKE_CURRENT_SOURCE_DIR}/check_completion.fish
                 ${PROJECT_SOURCE_DIR}/dist/fish-completion/orvalen-cli.fish)
set_tests_properties(completion_orvalen-cli_zsh completion_orvalen-cli_fish PROPERTIES TIMEOUT 120)

add_test(NAME desktopfile
         COMMAND desktop-file-validate ${PROJECT_SOURCE_DIR}/app/com.varnock.Orvalen.desktop)
set_tests_properties(desktopfile PROPERTIES FAIL_REGULAR_EXPRESSION ".")

add_test(NAME metainfo
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_metainfo.sh
                 ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR})

# Qt's own texts in other languages come with the package by default.
if(ORVALEN_QT_PREFIX STREQUAL "Qt6")
  set(orvalen_qt_translations qt6-translations-l10n)
else()
  set(orvalen_qt_translations qttranslations5-l10n)
endif()
add_test(NAME package_recommends_qt_translations
         COMMAND grep -Fx "set(CPACK_DEBIAN_PACKAGE_RECOMMENDS \"${orvalen_qt_translations}\")"
                 ${PROJECT_BINARY_DIR}/CPackConfig.cmake)

add_test(NAME systemd_units
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_units.sh
                 ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR})
set_tests_properties(systemd_units PROPERTIES SKIP_RETURN_CODE 77)
