# What a desktop installation holds besides the two programs (icons, AppStream
# metainfo, man pages, copyright and changelog), and the Debian package that
# CPack makes of it (tools/package.sh).
include(GNUInstallDirs)

set(PACKAGING_SOURCE ${CMAKE_CURRENT_LIST_DIR})
set(PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(QUORVEL_MAINTAINER "The Quorvel developers <quorvel@brackenfold.example>")
set(QUORVEL_HOMEPAGE "https://www.brackenfold.example/quorvel")

# The icon in every size the hicolor theme expects: 16 and 32 pixels drawn by
# hand (installed with the window), the others rendered from the drawing.
set(ICON_THEME_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
foreach(size 22 24 48 64 128 256)
  install(FILES ${PACKAGING_SOURCE}/icons/quorvel-${size}.png
          DESTINATION ${ICON_THEME_DIR}/${size}x${size}/apps RENAME quorvel.png)
endforeach()
install(FILES ${PACKAGING_SOURCE}/quorvel.svg DESTINATION ${ICON_THEME_DIR}/scalable/apps)

set(METAINFO_FILE ${PACKAGING_OUT}/example.brackenfold.Quorvel.metainfo.xml)
configure_file(${PACKAGING_SOURCE}/example.brackenfold.Quorvel.metainfo.xml.in ${METAINFO_FILE}
               @ONLY)
install(FILES ${METAINFO_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Man pages and the changelog are shipped compressed, without a timestamp, so
# the same sources give the same package.
set(COMPRESSED_DOCS)
function(add_compressed_doc source name)
  configure_file(${source} ${PACKAGING_OUT}/${name} @ONLY)
  add_custom_command(OUTPUT ${PACKAGING_OUT}/${name}.gz
                     COMMAND gzip -9nkf ${PACKAGING_OUT}/${name}
                     DEPENDS ${PACKAGING_OUT}/${name})
  set(COMPRESSED_DOCS ${COMPRESSED_DOCS} ${PACKAGING_OUT}/${name}.gz PARENT_SCOPE)
endfunction()
add_compressed_doc(${PACKAGING_SOURCE}/quorvel.1 quorvel.1)
add_compressed_doc(${PACKAGING_SOURCE}/quorvel-devsim.1 quorvel-devsim.1)
add_compressed_doc(${PACKAGING_SOURCE}/changelog.in changelog)
add_custom_target(compressed_docs ALL DEPENDS ${COMPRESSED_DOCS})
install(FILES ${PACKAGING_OUT}/quorvel.1.gz ${PACKAGING_OUT}/quorvel-devsim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The licence as a machine-readable copyright file: its permission notice,
# each line indented and each empty line a lone dot.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE LICENSE_TEXT)
string(FIND "${LICENSE_TEXT}" "Permission is hereby" NOTICE_START)
string(SUBSTRING "${LICENSE_TEXT}" ${NOTICE_START} -1 LICENSE_NOTICE)
string(STRIP "${LICENSE_NOTICE}" LICENSE_NOTICE)
string(REPLACE "\n\n" "\n.\n" LICENSE_NOTICE "${LICENSE_NOTICE}")
string(REPLACE "\n" "\n " LICENSE_NOTICE " ${LICENSE_NOTICE}")
configure_file(${PACKAGING_SOURCE}/copyright.in ${PACKAGING_OUT}/copyright @ONLY)
set(PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quorvel)
install(FILES ${PACKAGING_OUT}/copyright ${PACKAGING_OUT}/changelog.gz
        DESTINATION ${PACKAGE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quorvel_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUORVEL_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's font, which no library names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial port debugging terminal")
# CPack puts the summary first and indents the rest, an empty line as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvel is a desktop terminal for embedded engineers who bring up and
exercise devices on a serial line. Pick a port and the line settings, type
what to send as plain text or hex bytes, and watch what comes back as text
or hex.

It can also send on its own: on a timer, as an auto-reply after each
received frame, or by echoing each frame back. It counts the bytes both
ways and measures the time from the last transmission to each reply.

quorvel-devsim, a simulated device on a pseudo-terminal, comes with it.")
include(CPack)
