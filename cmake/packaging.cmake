# The Debian package: "cpack -G DEB" in a build folder makes
# orvalen_<version>_<architecture>.deb of everything the install rules hold.
include(GNUInstallDirs)

set(ORVALEN_PACKAGE_MAINTAINER "Varnock <orvalen@varnock.com>" CACHE STRING
    "Maintainer field of the Debian package: name <address>")

set(CPACK_PACKAGE_NAME orvalen)
set(CPACK_PACKAGE_VENDOR Varnock)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORVALEN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "detect silent changes in a directory tree with SHA-256 checksums")
# Packages install below /usr whatever prefix the build was configured with.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# A umask that leaves directories group-writable must not reach the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

# A plain strip keeps the compiler's .comment and .note sections, which
# Debian's own packages leave out; CPack strips through install --strip.
install(CODE "set(orvalen_strip \"${CMAKE_STRIP}\")
set(orvalen_bindir \"${CMAKE_INSTALL_BINDIR}\")")
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP AND orvalen_strip)
    foreach(program orvalen orvalen-cli)
      execute_process(COMMAND "${orvalen_strip}" --remove-section=.comment --remove-section=.note
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${orvalen_bindir}/${program}"
                      RESULT_VARIABLE result)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "Stripping ${program} failed: ${result}")
      endif()
    endforeach()
  endif()
]])

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVALEN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary above becomes the first line; CPack indents the rest and turns
# the empty line into the paragraph mark Debian expects.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Orvalen hashes every file of a directory tree (SHA-256) into a plain-text
checksums file. Later it hashes the tree again and lists every file that
changed, every new file and every file that has gone missing.

The package holds the desktop application (orvalen, built with Qt) and
orvalen-cli, which does the same two jobs from a terminal without a display,
for cron jobs, systemd timers and scripts. orvalen-cli also prints MD5,
SHA-1, SHA-256, SHA-384 and SHA-512 digests in the format of sha256sum.")
# Library dependencies come from dpkg-shlibdeps, so they name the versions
# of the system the package was built on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialog texts (file dialogs, standard buttons such as Cancel) in
# other languages; without them those stay English in a German or Russian
# session. Recommended, so apt installs them by default.
if(ORVALEN_QT_PREFIX STREQUAL "Qt6")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
else()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qttranslations5-l10n)
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Installing makes /var/lib/orvalen; purging removes the settings file the
# desktop program wrote as root.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/dist/debian/postinst
                                       ${PROJECT_SOURCE_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
