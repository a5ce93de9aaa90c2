# Packs the Windows zip: the programs (EXES), README.txt and LICENSE.txt,
# and the notices of the libraries linked into them under licences/, text
# with Windows line ends, every file dated DATE so that the same inputs give
# the same zip.
#   cmake -DEXES= -DREADME= -DLICENSE= -DNOTICES= -DNOTICE_NAMES= -DDATE= -DSTAGE= -DZIP=
#         -P MakeZip.cmake
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/licences)

function(copy_text from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${to} "${text}")
endfunction()

set(members)
foreach(exe IN LISTS EXES)
  get_filename_component(name ${exe} NAME)
  file(COPY_FILE ${exe} ${STAGE}/${name})
  list(APPEND members ${name})
endforeach()
copy_text(${README} ${STAGE}/README.txt)
copy_text(${LICENSE} ${STAGE}/LICENSE.txt)
list(APPEND members README.txt LICENSE.txt)
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
