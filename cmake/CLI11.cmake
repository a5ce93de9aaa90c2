# CLI11 (header-only, Debian's libcli11-dev) for the Windows build, as the
# target CLI11::CLI11. Its headers are reached through a folder of the build
# tree that holds them alone: /usr/include itself on the cross compiler's
# path would put the Linux system's C headers before mingw's. (The Linux
# build takes the package's own CMake configuration.)
include_guard(GLOBAL)
if(CMAKE_CROSSCOMPILING AND NOT TARGET CLI11::CLI11)
  set(cli11_headers /usr/include/CLI)
  if(NOT EXISTS ${cli11_headers}/CLI.hpp)
    message(FATAL_ERROR "CLI11's headers are missing: install libcli11-dev (scripts/lib.sh)")
  endif()
  set(cli11_include ${CMAKE_BINARY_DIR}/cli11/include)
  file(MAKE_DIRECTORY ${cli11_include})
  file(CREATE_LINK ${cli11_headers} ${cli11_include}/CLI SYMBOLIC)
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${cli11_include})
endif()
