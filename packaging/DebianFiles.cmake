# Run by CPack between installing into its staging folder and packing the
# .deb: what Debian wants beyond the installed tree. The programs stripped of
# their symbols and of the compiler's notes, as Debian's own tools strip, the
# man pages compressed, the Debian changelog compressed beside the copyright
# file (both without a time stamp, so that the same inputs give the same
# package), and lintian's overrides with their reasons.
set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}")
  endif()
endfunction()

foreach(program pruvex pruvex-measure pruvex-series)
  run(strip --remove-section=.comment --remove-section=.note ${root}/bin/${program})
  run(gzip -9 -n ${root}/share/man/man1/${program}.1)
endforeach()
execute_process(COMMAND gzip -9 -n -c ${CPACK_PRUVEX_DEBIAN_CHANGELOG}
                OUTPUT_FILE ${root}/share/doc/pruvex/changelog.gz RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed on the changelog")
endif()
file(MAKE_DIRECTORY ${root}/share/lintian/overrides)
file(COPY_FILE ${CPACK_PRUVEX_LINTIAN_OVERRIDES} ${root}/share/lintian/overrides/pruvex)
file(CHMOD ${root}/share/lintian/overrides/pruvex
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
