# What `cmake --install` puts in place for the Linux program, and so what the
# .deb holds: the program, its desktop entry, AppStream metadata, icons drawn
# at each size, man page and licence, and pruvex-measure and pruvex-series with
# their man pages. Nothing else of the build (no tests, no static libraries) is
# installed.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/Documents.cmake)

set(PRUVEX_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
set(PRUVEX_DESKTOP_FILE ${PRUVEX_DOCS_DIR}/${PRUVEX_APP_ID}.desktop)
set(PRUVEX_METAINFO_FILE ${PRUVEX_DOCS_DIR}/${PRUVEX_APP_ID}.metainfo.xml)
set(PRUVEX_MAN_PAGE ${PRUVEX_DOCS_DIR}/pruvex.1)
set(PRUVEX_MEASURE_MAN_PAGE ${PRUVEX_DOCS_DIR}/pruvex-measure.1)
set(PRUVEX_SERIES_MAN_PAGE ${PRUVEX_DOCS_DIR}/pruvex-series.1)
set(PRUVEX_COPYRIGHT_FILE ${PRUVEX_DOCS_DIR}/copyright)
configure_file(${PROJECT_SOURCE_DIR}/packaging/pruvex.desktop.in ${PRUVEX_DESKTOP_FILE} @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/pruvex.metainfo.xml.in ${PRUVEX_METAINFO_FILE}
               @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/pruvex.1.in ${PRUVEX_MAN_PAGE} @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/pruvex-measure.1.in ${PRUVEX_MEASURE_MAN_PAGE} @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/pruvex-series.1.in ${PRUVEX_SERIES_MAN_PAGE} @ONLY)

# The licence in Debian's machine-readable copyright format: the text of
# LICENSE, each line indented and empty lines written as a dot.
string(STRIP "${PRUVEX_LICENSE_TEXT}" license_body)
string(REGEX REPLACE "^[^\n]*\n\n[^\n]*\n\n" "" license_body "${license_body}")
string(REPLACE "\n\n" "\n.\n" license_body "${license_body}")
string(REPLACE "\n" "\n " PRUVEX_DOC_LICENSE_DEBIAN " ${license_body}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${PRUVEX_COPYRIGHT_FILE} @ONLY)

# The icon theme's images, each drawn at its own size by the icon tool.
set(PRUVEX_ICON_SIZES 16 22 24 32 48 64 128 256)
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/icon ${CMAKE_BINARY_DIR}/tools/icon)
set(icon_files)
foreach(size IN LISTS PRUVEX_ICON_SIZES)
  set(icon ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${PRUVEX_APP_ID}.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND pruvex_icon --png ${size} ${icon}
    DEPENDS pruvex_icon
    COMMENT "Drawing the ${size} x ${size} icon")
  list(APPEND icon_files ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(pruvex_icons ALL DEPENDS ${icon_files})

install(TARGETS pruvex pruvex_measure pruvex_series RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PRUVEX_DESKTOP_FILE} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${PRUVEX_METAINFO_FILE} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${PRUVEX_MAN_PAGE} ${PRUVEX_MEASURE_MAN_PAGE} ${PRUVEX_SERIES_MAN_PAGE}
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PRUVEX_COPYRIGHT_FILE} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/pruvex)
