# Fails when a C++ source of the project differs from clang-format's layout.
file(GLOB_RECURSE sources
  ${ROOT}/pattern/*.cpp ${ROOT}/pattern/*.h
  ${ROOT}/app/*.cpp ${ROOT}/app/*.h
  ${ROOT}/measure/*.cpp ${ROOT}/measure/*.h
  ${ROOT}/series/*.cpp ${ROOT}/series/*.h
  ${ROOT}/tests/*.cpp ${ROOT}/tests/*.h
  ${ROOT}/bench/*.cpp
  ${ROOT}/tools/*.cpp)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${sources}
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-format: these sources need formatting:\n${errors}")
endif()
list(LENGTH sources count)
message(STATUS "${count} sources formatted")
