# LibRaw for the Windows program. No cross compiler here carries it, so its
# upstream source, as the Debian archive serves it, is fetched once per build
# tree, checked against the checksum pinned here and built statically (with
# Debian's mingw zlib, for deflate-compressed DNG files). Later builds use
# what is there: nothing is fetched or built again unless this file changes.
# Gives the target pruvex_libraw.
include(${CMAKE_CURRENT_LIST_DIR}/LibRawVersion.cmake)

set(dir ${CMAKE_BINARY_DIR}/libraw)
set(tarball ${dir}/libraw_${PRUVEX_LIBRAW_VERSION}.orig.tar.gz)
set(hash "")
if(EXISTS ${tarball})
  file(SHA256 ${tarball} hash)
endif()
if(NOT hash STREQUAL PRUVEX_LIBRAW_SHA256)
  file(REMOVE ${tarball})
  execute_process(COMMAND ${CMAKE_COMMAND} -DDIR=${dir} -DSUITE=${PRUVEX_LIBRAW_SUITE}
                          -DPACKAGE=libraw -P ${CMAKE_CURRENT_LIST_DIR}/FetchLibRaw.cmake
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT EXISTS ${tarball})
    message(FATAL_ERROR "LibRaw ${PRUVEX_LIBRAW_VERSION}'s source could not be fetched from "
                        "Debian ${PRUVEX_LIBRAW_SUITE} (is the version still the archive's?)")
  endif()
  file(SHA256 ${tarball} hash)
  if(NOT hash STREQUAL PRUVEX_LIBRAW_SHA256)
    message(FATAL_ERROR "${tarball}: SHA-256 ${hash}, not the pinned ${PRUVEX_LIBRAW_SHA256}")
  endif()
endif()

include(ExternalProject)
set(prefix ${dir}/install)
ExternalProject_Add(pruvex_libraw_build
  URL ${tarball}
  URL_HASH SHA256=${PRUVEX_LIBRAW_SHA256}
  PREFIX ${dir}
  SOURCE_DIR ${dir}/source
  BINARY_DIR ${dir}/build
  INSTALL_DIR ${prefix}
  PATCH_COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/libraw/CMakeLists.txt
                <SOURCE_DIR>/CMakeLists.txt
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
             -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
  BUILD_BYPRODUCTS ${prefix}/lib/libraw.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
# The patch step copies this project's build description of LibRaw in: a
# change to it builds LibRaw again.
ExternalProject_Add_StepDependencies(pruvex_libraw_build patch
                                     ${CMAKE_CURRENT_LIST_DIR}/libraw/CMakeLists.txt)

find_library(PRUVEX_MINGW_ZLIB NAMES libz.a REQUIRED)
file(MAKE_DIRECTORY ${prefix}/include)
add_library(pruvex_libraw STATIC IMPORTED GLOBAL)
set_target_properties(pruvex_libraw PROPERTIES
  IMPORTED_LOCATION ${prefix}/lib/libraw.a
  INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include
  # As LibRaw was built: a static library, its wide-character file names on.
  INTERFACE_COMPILE_DEFINITIONS "LIBRAW_NODLL;LIBRAW_WIN32_UNICODEPATHS"
  INTERFACE_LINK_LIBRARIES "${PRUVEX_MINGW_ZLIB};ws2_32")
add_dependencies(pruvex_libraw pruvex_libraw_build)
