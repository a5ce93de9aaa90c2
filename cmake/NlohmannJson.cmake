# nlohmann-json (header-only, Debian's nlohmann-json3-dev) for the Windows
# build, as the target nlohmann_json::nlohmann_json, its headers reached
# through a folder of the build tree that holds them alone (as CLI11.cmake
# does, for the same reason).
include_guard(GLOBAL)
if(CMAKE_CROSSCOMPILING AND NOT TARGET nlohmann_json::nlohmann_json)
  set(json_headers /usr/include/nlohmann)
  if(NOT EXISTS ${json_headers}/json.hpp)
    message(FATAL_ERROR "nlohmann-json's headers are missing: install nlohmann-json3-dev")
  endif()
  set(json_include ${CMAKE_BINARY_DIR}/nlohmann-json/include)
  file(MAKE_DIRECTORY ${json_include})
  file(CREATE_LINK ${json_headers} ${json_include}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
                        INTERFACE_INCLUDE_DIRECTORIES ${json_include})
endif()
