# Runs clang-tidy (configuration in .clang-tidy) over the project's own
# sources with the compile commands of BUILD; any finding fails.
set(sources)
# The Qt Test programs, which include their generated meta-object code, are
# left out.
foreach(pattern pattern/*.cpp app/*.cpp app/qt/*.cpp measure/*.cpp series/*.cpp tests/e2e/*.cpp
                tests/fuzz/*.cpp tests/series/*.cpp
                tests/measure/*.cpp
                tests/wayland/WestonProbe.cpp tests/wayland/WaylandDriver.cpp
                tests/wayland/FakeCanberra.cpp)
  file(GLOB found ${ROOT}/${pattern})
  list(APPEND sources ${found})
endforeach()
if(NOT EXISTS ${BUILD}/compile_commands.json)
  message(FATAL_ERROR "clang-tidy: no ${BUILD}/compile_commands.json (cmake --preset sanitize)")
endif()
execute_process(COMMAND ${CLANG_TIDY} -p ${BUILD} --quiet ${sources}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
list(LENGTH sources count)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-tidy found problems in ${count} sources:\n${output}\n${errors}")
endif()
message(STATUS "clang-tidy: ${count} sources clean")
