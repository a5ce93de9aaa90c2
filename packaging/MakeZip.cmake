# Packs the Windows zip: Pruvex.exe, README.txt and LICENSE.txt, and the
# runtime libraries' notices under licences/, text with Windows line ends,
# every file dated DATE so that the same inputs give the same zip.
#   cmake -DEXE= -DREADME= -DLICENSE= -DNOTICES= -DNOTICE_NAMES= -DDATE= -DSTAGE= -DZIP=
#         -P MakeZip.cmake
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/licences)

function(copy_text from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${to} "${text}")
endfunction()

file(COPY_FILE ${EXE} ${STAGE}/Pruvex.exe)
copy_text(${README} ${STAGE}/README.txt)
copy_text(${LICENSE} ${STAGE}/LICENSE.txt)
set(members Pruvex.exe README.txt LICENSE.txt)
foreach(notice name IN ZIP_LISTS NOTICES NOTICE_NAMES)
  copy_text(${notice} ${STAGE}/licences/${name})
  list(APPEND members licences/${name})
endforeach()

get_filename_component(zip_dir ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${zip_dir})
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip --mtime=${DATE} ${members}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot write ${ZIP}")
endif()
