# The packages: the .deb of the Linux program (CPack, from what Install.cmake
# installs) and the zip of Pruvex.exe, pruvex-measure.exe and pruvex-series.exe for Windows
# users. `cpack -G DEB` makes
# the .deb; the zip is built with the tree whenever it builds Pruvex.exe.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/Documents.cmake)

set(PRUVEX_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package CACHE PATH "Where the packages are written")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pruvex)
set(CPACK_PACKAGE_VENDOR "${PRUVEX_DEVELOPERS}")
set(CPACK_PACKAGE_VERSION "${PRUVEX_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PRUVEX_SUMMARY}")
set(CPACK_PACKAGE_CONTACT "${PRUVEX_DEVELOPERS}")
set(CPACK_PACKAGE_DIRECTORY ${PRUVEX_PACKAGE_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its Wayland platform plugin at run time, out of dpkg-shlibdeps'
# sight. The round trip to a Wayland compositor goes through an interface of
# Qt's own that may change with any Qt release: the package asks for the Qt
# it was built with, as Debian's packages do.
find_package(Qt6 REQUIRED COMPONENTS Core)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland, qt6-base-abi (= ${Qt6Core_VERSION})")
# pruvex-series drives a camera on USB through the gphoto2 program; without
# it a camera's own tethering program does.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gphoto2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# CPack puts the summary on the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "${PRUVEX_DOC_DESCRIPTION_TEXT}\n\n${PRUVEX_MEASURE_DOC_SUMMARY_TEXT}")
# What Debian wants beyond the installed tree: the program stripped, the man
# page compressed, the Debian changelog and lintian's overrides.
# The changelog's date in RFC 5322 form, for the release date (the weekday
# by Sakamoto's method).
string(REPLACE "-" ";" date_parts "${PRUVEX_RELEASE_DATE}")
list(GET date_parts 0 year)
list(GET date_parts 1 month)
list(GET date_parts 2 day)
math(EXPR month_index "${month} - 1")
math(EXPR day_number "${day}")
set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
list(GET month_offsets ${month_index} month_offset)
set(weekday_year ${year})
if(month_index LESS 2)
  math(EXPR weekday_year "${year} - 1")
endif()
math(EXPR weekday "(${weekday_year} + ${weekday_year} / 4 - ${weekday_year} / 100 + ${weekday_year} / 400 + ${month_offset} + ${day_number}) % 7")
set(weekdays Sun Mon Tue Wed Thu Fri Sat)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET weekdays ${weekday} weekday_name)
list(GET months ${month_index} month_name)
set(PRUVEX_DEBIAN_DATE "${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000")
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PRUVEX_DOCS_DIR}/changelog @ONLY)
set(CPACK_PRUVEX_DEBIAN_CHANGELOG ${PRUVEX_DOCS_DIR}/changelog)
set(CPACK_PRUVEX_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/DebianFiles.cmake)
include(CPack)

if(PRUVEX_WINDOWS_EXE)
  # README.txt for Windows users, from the same texts as the man page.
  set(title "${PRUVEX_PRODUCT_NAME} ${PRUVEX_VERSION} for Windows")
  string(LENGTH "${title}" title_length)
  string(REPEAT "=" ${title_length} PRUVEX_DOC_TITLE_RULE)
  string(REGEX REPLACE "(^|\n)  pruvex" "\\1  Pruvex.exe" PRUVEX_DOC_EXAMPLES_WINDOWS_TEXT
         "${PRUVEX_DOC_EXAMPLES_TEXT}")
  include(${CMAKE_CURRENT_LIST_DIR}/LibRawVersion.cmake)
  set(readme ${PRUVEX_DOCS_DIR}/README.txt)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt.in ${readme} @ONLY)

  # The notices of the runtime libraries linked into the exe, as the
  # cross compiler's packages ship them.
  set(notices
      /usr/share/doc/gcc-mingw-w64-base/copyright
      /usr/share/common-licenses/GPL-3
      /usr/share/doc/mingw-w64-common/copyright)
  set(notice_names GCC-RUNTIME.txt GPL-3.txt MINGW-W64.txt)
  # And of the libraries pruvex-measure.exe has linked in: zlib from the
  # cross compiler's packages, LibRaw from the source its build fetched.
  list(APPEND notices /usr/share/doc/libz-mingw-w64-dev/copyright)
  list(APPEND notice_names ZLIB.txt)
  foreach(notice IN LISTS notices)
    if(NOT EXISTS ${notice})
      message(FATAL_ERROR "The runtime licence notice ${notice} is missing: install the "
                          "mingw-w64 cross compiler (scripts/lib.sh, MINGW_PACKAGES)")
    endif()
  endforeach()
  set(libraw_source ${PRUVEX_WINDOWS_DIR}/libraw/source)
  set(built_notices ${libraw_source}/COPYRIGHT ${libraw_source}/LICENSE.CDDL
                    ${libraw_source}/LICENSE.LGPL)
  list(APPEND notices ${built_notices})
  list(APPEND notice_names LIBRAW-COPYRIGHT.txt LIBRAW-CDDL.txt LIBRAW-LGPL.txt)

  set(PRUVEX_ZIP ${PRUVEX_PACKAGE_DIR}/${PRUVEX_PRODUCT_NAME}-${PRUVEX_VERSION}-win64.zip)
  add_custom_command(OUTPUT ${PRUVEX_ZIP}
    COMMAND ${CMAKE_COMMAND}
            "-DEXES=${PRUVEX_WINDOWS_EXE};${PRUVEX_WINDOWS_MEASURE_EXE};${PRUVEX_WINDOWS_SERIES_EXE}"
            -DREADME=${readme}
            -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE "-DNOTICES=${notices}"
            "-DNOTICE_NAMES=${notice_names}" -DDATE=${PRUVEX_RELEASE_DATE}
            -DSTAGE=${CMAKE_BINARY_DIR}/zip-stage -DZIP=${PRUVEX_ZIP}
            -P ${PROJECT_SOURCE_DIR}/packaging/MakeZip.cmake
    DEPENDS ${PRUVEX_WINDOWS_EXE} ${PRUVEX_WINDOWS_MEASURE_EXE} ${PRUVEX_WINDOWS_SERIES_EXE}
            pruvex_windows ${readme} ${PROJECT_SOURCE_DIR}/LICENSE
            ${PROJECT_SOURCE_DIR}/packaging/MakeZip.cmake ${notices}
    COMMENT "Packing ${PRUVEX_PRODUCT_NAME}-${PRUVEX_VERSION}-win64.zip"
    VERBATIM)
  add_custom_target(pruvex_zip ALL DEPENDS ${PRUVEX_ZIP})
endif()
