# A staged `cmake --install` puts the receiving side in place: both
# programs, the autostart entry, the example Samba configuration naming the
# installed vindrel-drop, and a tmpfiles.d entry that makes the spool the
# receiver's account owns.
#   cmake -DBUILD=<build dir> -DSTAGE=<empty dir> -DPREFIX=<install prefix> -DDOCDIR=<doc dir>
#         -DLIBEXECDIR=<libexec dir> -DTMPFILESDIR=<tmpfiles.d dir> -P install_check.cmake
# (the three dirs as the build was configured, relative to the prefix)
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(root ${STAGE}${PREFIX})
foreach(file ${root}/${LIBEXECDIR}/vindrel/vindrel-drop ${root}/bin/vindrel-inbox
             ${STAGE}/etc/xdg/autostart/vindrel-inbox.desktop
             ${root}/${DOCDIR}/examples/smb.conf ${root}/${TMPFILESDIR}/vindrel.conf
             ${root}/share/man/man1/vindrel-inbox.1 ${root}/share/man/man1/vindrel.1)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ ${root}/${DOCDIR}/examples/smb.conf conf)
if(NOT conf MATCHES "\n   message command = ${PREFIX}/${LIBEXECDIR}/vindrel/vindrel-drop \"%f\" \"%L\" \"%s\"\n")
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
  # The account as the package makes it; systemd-tmpfiles --root reads it there.
  file(WRITE ${STAGE}/etc/passwd "root:x:0:0::/root:/bin/sh\nvindrel:x:4240:4240::/:/bin/false\n")
  file(WRITE ${STAGE}/etc/group "root:x:0:\nvindrel:x:4240:\n")
  execute_process(COMMAND ${TMPFILES} --root=${STAGE} --create ${root}/${TMPFILESDIR}/vindrel.conf
                  RESULT_VARIABLE rc)
  execute_process(COMMAND stat -c "%a %u %g" ${STAGE}/var/spool/vindrel OUTPUT_VARIABLE made
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT made STREQUAL "775 4240 4240")
    message(FATAL_ERROR "the tmpfiles.d entry made no spool of the account vindrel (${rc}, ${made})")
  endif()
endif()
file(REMOVE_RECURSE ${STAGE})
