# Renders the texts of packaging/Texts.cmake for each document: plain text
# wrapped for the .deb's description and the Windows README.txt, XML for the
# AppStream metadata, and troff for the man page. Included by Install.cmake
# and Package.cmake; sets PRUVEX_DOC_* variables for configure_file.
include_guard(GLOBAL)
include(${PROJECT_SOURCE_DIR}/packaging/Texts.cmake)

# Words of TEXT on lines of at most WIDTH characters, each line starting with
# INDENT; the lines joined with newlines.
function(pruvex_wrap out text width indent)
  string(REPLACE " " ";" words "${text}")
  set(lines "")
  set(line "")
  foreach(word IN LISTS words)
    string(LENGTH "${indent}${line} ${word}" length)
    if(line STREQUAL "")
      set(line "${word}")
    elseif(length GREATER width)
      string(APPEND lines "${indent}${line}\n")
      set(line "${word}")
    else()
      string(APPEND line " ${word}")
    endif()
  endforeach()
  set(${out} "${lines}${indent}${line}" PARENT_SCOPE)
endfunction()

function(pruvex_xml out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# troff: backslashes printed as such, hyphens that begin an option or stand
# alone as minus signs, and no line taken for a request.
function(pruvex_troff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|[ (])--" "\\1\\\\-\\\\-" text "${text}")
  string(REGEX REPLACE "(^|[ (])-" "\\1\\\\-" text "${text}")
  string(REGEX REPLACE "(\\\\-\\\\-[a-z]+)-" "\\1\\\\-" text "${text}")
  if(text MATCHES "^[.']")
    string(PREPEND text "\\&")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Entries "term|text" of a list in FORMAT: TEXT (the term on its own line,
# the text wrapped below it, indented), MAN (tagged paragraphs with the term
# in bold) or XML (AppStream list items).
function(pruvex_items out format)
  set(result "")
  foreach(item IN LISTS ARGN)
    string(REPLACE "|" ";" parts "${item}")
    list(GET parts 0 term)
    list(GET parts 1 text)
    if(format STREQUAL "TEXT")
      pruvex_wrap(text "${text}" 72 "      ")
      string(APPEND result "  ${term}\n${text}\n")
    elseif(format STREQUAL "MAN")
      pruvex_troff(term "${term}")
      pruvex_troff(text "${text}")
      string(APPEND result ".TP\n.B ${term}\n${text}\n")
    else()
      pruvex_xml(term "${term}")
      pruvex_xml(text "${text}")
      string(APPEND result "      <li>${term}: ${text}</li>\n")
    endif()
  endforeach()
  if(NOT format STREQUAL "TEXT")
    string(STRIP "${result}" result)
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The long description in each form.
set(PRUVEX_DOC_DESCRIPTION_TEXT "")
set(PRUVEX_DOC_DESCRIPTION_XML "")
set(PRUVEX_DOC_DESCRIPTION_MAN "")
foreach(paragraph IN LISTS PRUVEX_DESCRIPTION)
  pruvex_wrap(wrapped "${paragraph}" 72 "")
  pruvex_xml(xml "${paragraph}")
  pruvex_troff(man "${paragraph}")
  string(APPEND PRUVEX_DOC_DESCRIPTION_TEXT "${wrapped}\n\n")
  string(APPEND PRUVEX_DOC_DESCRIPTION_XML "    <p>${xml}</p>\n")
  string(APPEND PRUVEX_DOC_DESCRIPTION_MAN ".PP\n${man}\n")
endforeach()
string(STRIP "${PRUVEX_DOC_DESCRIPTION_TEXT}" PRUVEX_DOC_DESCRIPTION_TEXT)
string(STRIP "${PRUVEX_DOC_DESCRIPTION_XML}" PRUVEX_DOC_DESCRIPTION_XML)
string(STRIP "${PRUVEX_DOC_DESCRIPTION_MAN}" PRUVEX_DOC_DESCRIPTION_MAN)
string(REGEX REPLACE "^\\.PP\n" "" PRUVEX_DOC_DESCRIPTION_MAN "${PRUVEX_DOC_DESCRIPTION_MAN}")

# The keys as an AppStream list too.
pruvex_items(PRUVEX_DOC_KEYS_XML XML ${PRUVEX_KEYS})
pruvex_xml(PRUVEX_DOC_KEY_RULE_XML "${PRUVEX_KEY_RULE}")

foreach(list ARGUMENTS KEYS OPTIONS EXIT_STATUSES EXAMPLES)
  pruvex_items(PRUVEX_DOC_${list}_TEXT TEXT ${PRUVEX_${list}})
  pruvex_items(PRUVEX_DOC_${list}_MAN MAN ${PRUVEX_${list}})
endforeach()
foreach(paragraph ARGUMENT_RULES KEY_RULE)
  pruvex_wrap(PRUVEX_DOC_${paragraph}_TEXT "${PRUVEX_${paragraph}}" 72 "")
  pruvex_troff(PRUVEX_DOC_${paragraph}_MAN "${PRUVEX_${paragraph}}")
endforeach()
pruvex_troff(PRUVEX_DOC_SUMMARY_MAN "${PRUVEX_SUMMARY}")


# The copyright line and the licence text, from the LICENSE file alone.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE PRUVEX_LICENSE_TEXT)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" copyright_line "${PRUVEX_LICENSE_TEXT}")
set(PRUVEX_COPYRIGHT "${CMAKE_MATCH_1}")
if(NOT PRUVEX_COPYRIGHT MATCHES " ${PRUVEX_DEVELOPERS}$")
  message(FATAL_ERROR "LICENSE must name the copyright holder \"${PRUVEX_DEVELOPERS}\"")
endif()

# pruvex-measure's and pruvex-series' man pages, and their paragraphs of the
# .deb's description.
foreach(program MEASURE SERIES)
  set(PRUVEX_${program}_DOC_DESCRIPTION_MAN "")
  foreach(paragraph IN LISTS PRUVEX_${program}_DESCRIPTION)
    pruvex_troff(man "${paragraph}")
    string(APPEND PRUVEX_${program}_DOC_DESCRIPTION_MAN ".PP\n${man}\n")
  endforeach()
  string(STRIP "${PRUVEX_${program}_DOC_DESCRIPTION_MAN}" PRUVEX_${program}_DOC_DESCRIPTION_MAN)
  string(REGEX REPLACE "^\\.PP\n" "" PRUVEX_${program}_DOC_DESCRIPTION_MAN
         "${PRUVEX_${program}_DOC_DESCRIPTION_MAN}")
  foreach(list OPTIONS EXIT_STATUSES EXAMPLES)
    pruvex_items(PRUVEX_${program}_DOC_${list}_MAN MAN ${PRUVEX_${program}_${list}})
  endforeach()
  pruvex_troff(PRUVEX_${program}_DOC_SUMMARY_MAN "${PRUVEX_${program}_SUMMARY}")
endforeach()
# And its part of the Windows README.txt.
set(PRUVEX_MEASURE_DOC_DESCRIPTION_TEXT "")
foreach(paragraph IN LISTS PRUVEX_MEASURE_DESCRIPTION)
  pruvex_wrap(text "${paragraph}" 72 "")
  string(APPEND PRUVEX_MEASURE_DOC_DESCRIPTION_TEXT "${text}\n\n")
endforeach()
string(STRIP "${PRUVEX_MEASURE_DOC_DESCRIPTION_TEXT}" PRUVEX_MEASURE_DOC_DESCRIPTION_TEXT)
foreach(list OPTIONS EXIT_STATUSES)
  pruvex_items(PRUVEX_MEASURE_DOC_${list}_TEXT TEXT ${PRUVEX_MEASURE_${list}})
endforeach()
pruvex_wrap(PRUVEX_MEASURE_DOC_SUMMARY_TEXT
            "The package also carries pruvex-measure, to ${PRUVEX_MEASURE_SUMMARY}, and pruvex-series, to ${PRUVEX_SERIES_SUMMARY}." 72 "")
