# Runs clang-tidy (configuration in .clang-tidy) over the sources that
# PATTERNS (a list of globs below ROOT) name, with the compile commands of
# BUILD; any finding fails. The project's sources are split into a few such
# groups, one test each, so that they run side by side on every core.
set(sources)
foreach(pattern ${PATTERNS})
  file(GLOB found ${ROOT}/${pattern})
  list(APPEND sources ${found})
endforeach()
# The Windows units have no compile commands in this tree.
list(FILTER sources EXCLUDE REGEX "(Win32|Windows)\\.cpp$")
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
