# A staged `cmake --install` puts the receiving side in place: both
# programs, the autostart entry, the example Samba configuration naming the
# installed vindrel-drop, and a tmpfiles.d entry that makes a sticky spool.
#   cmake -DBUILD=<build dir> -DSTAGE=<empty dir> -DPREFIX=<install prefix> -P install_check.cmake
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(root ${STAGE}${PREFIX})
foreach(file ${root}/libexec/vindrel/vindrel-drop ${root}/bin/vindrel-inbox
             ${STAGE}/etc/xdg/autostart/vindrel-inbox.desktop
             ${root}/share/doc/vindrel/examples/smb.conf ${root}/lib/tmpfiles.d/vindrel.conf
             ${root}/share/man/man1/vindrel-inbox.1 ${root}/share/man/man1/vindrel.1)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ ${root}/share/doc/vindrel/examples/smb.conf conf)
if(NOT conf MATCHES "\n   message command = ${PREFIX}/libexec/vindrel/vindrel-drop %f %L %s\n")
  message(FATAL_ERROR "the example configuration does not name the installed vindrel-drop")
endif()
if(NOT conf MATCHES "\n   server min protocol = NT1\n" OR NOT conf MATCHES "\n   netbios aliases = ")
  message(FATAL_ERROR "the example configuration lacks SMB1 or the aliases")
endif()
file(READ ${STAGE}/etc/xdg/autostart/vindrel-inbox.desktop entry)
if(NOT entry MATCHES "\nTryExec=vindrel-inbox\nExec=vindrel-inbox\n")
  message(FATAL_ERROR "the autostart entry does not start vindrel-inbox, or not only where it is")
endif()
find_program(TMPFILES systemd-tmpfiles)
if(TMPFILES)
  execute_process(COMMAND ${TMPFILES} --root=${STAGE} --create ${root}/lib/tmpfiles.d/vindrel.conf
                  RESULT_VARIABLE rc)
  execute_process(COMMAND stat -c %a ${STAGE}/var/spool/vindrel OUTPUT_VARIABLE mode
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT mode STREQUAL "1777")
    message(FATAL_ERROR "the tmpfiles.d entry made no sticky spool (${rc}, mode ${mode})")
  endif()
endif()
file(REMOVE_RECURSE ${STAGE})
