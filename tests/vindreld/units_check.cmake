# Installs into a staging root and checks the systemd units offline there:
# `systemd-analyze verify` passes and `security --offline=true` rates the
# service at most 2.0. Nothing is enabled or started.
#   cmake -DBUILD=<build dir> -DSTAGE=<staging dir> -P units_check.cmake
find_program(ANALYZE systemd-analyze REQUIRED)
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE}
                        ${CMAKE_COMMAND} --install ${BUILD} --component vindreld
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "staged install failed")
endif()
file(GLOB_RECURSE installed ${STAGE}/*)
foreach(pair "service;/vindreld[.]service$" "socket;/vindreld[.]socket$"
             "sysusers;/sysusers[.]d/vindrel[.]conf$" "daemon;/sbin/vindreld$"
             "config;/vindrel/vindreld[.]conf$" "manual;/man8/vindreld[.]8$")
  list(GET pair 0 name)
  list(GET pair 1 pattern)
  set(${name} ${installed})
  list(FILTER ${name} INCLUDE REGEX "${pattern}")
endforeach()
foreach(f service socket sysusers daemon config manual)
  if(NOT ${f})
    message(FATAL_ERROR "the install left out ${f}")
  endif()
endforeach()

# Verified outside the staging root (which has no system units to depend
# on), so ExecStart= names the staged program in the copy checked.
set(check ${STAGE}/verify)
file(READ ${service} unit)
# Enabled, it runs from boot: names held before anyone looks for them.
if(NOT unit MATCHES "\n\\[Install\\]\n([^[]*\n)?WantedBy=multi-user[.]target\n")
  message(FATAL_ERROR "vindreld.service is not wanted by multi-user.target")
endif()
string(REGEX REPLACE "ExecStart=([^ ]*)" "ExecStart=${daemon}" unit "${unit}")
file(WRITE ${check}/vindreld.service "${unit}")
file(COPY ${socket} DESTINATION ${check})
execute_process(COMMAND ${ANALYZE} verify --man=no ${check}/vindreld.socket ${check}/vindreld.service
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify: ${out}")
endif()
execute_process(COMMAND ${ANALYZE} security --offline=true --threshold=20 ${service}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REGEX MATCH "Overall exposure level for [^:]*: ([0-9.]+)" found "${out}")
message(STATUS "systemd-analyze security: ${CMAKE_MATCH_1}")
if(NOT rc EQUAL 0 OR NOT found)
  message(FATAL_ERROR "systemd-analyze security rates vindreld.service above 2.0:\n${out}")
endif()
