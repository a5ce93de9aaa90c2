# Downloads LibRaw's upstream source as Debian serves it, through apt's own
# source download, into DIR: a private sources list (one deb-src entry for
# SUITE) and private package lists and cache, so that the system's apt
# sources and state stay as they are.
#   cmake -DDIR=... -DSUITE=... -DPACKAGE=... -P FetchLibRaw.cmake
foreach(variable DIR SUITE PACKAGE)
  if(NOT ${variable})
    message(FATAL_ERROR "FetchLibRaw.cmake needs -D${variable}=...")
  endif()
endforeach()
find_program(APT_GET apt-get REQUIRED)
set(apt ${DIR}/apt)
file(MAKE_DIRECTORY ${apt}/sources ${apt}/lists/partial ${apt}/cache/archives/partial)
file(WRITE ${apt}/sources/${SUITE}-source.sources
     "Types: deb-src\n"
     "URIs: http://deb.debian.org/debian\n"
     "Suites: ${SUITE}\n"
     "Components: main\n"
     "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n")
set(options -qq -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=${apt}/sources
            -o Dir::State::Lists=${apt}/lists -o Dir::Cache=${apt}/cache)
message(STATUS "Fetching the source of ${PACKAGE} from Debian ${SUITE}")
execute_process(COMMAND ${APT_GET} ${options} update RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "apt-get update for Debian ${SUITE}'s sources failed (${result})")
endif()
execute_process(COMMAND ${APT_GET} ${options} source --download-only --tar-only ${PACKAGE}
                WORKING_DIRECTORY ${DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "apt-get source ${PACKAGE} from Debian ${SUITE} failed (${result})")
endif()
