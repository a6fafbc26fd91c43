# Installs into a staging root and checks the systemd units offline there:
# `systemd-analyze verify` passes and `security --offline=true` rates the
# service at most 2.0. Nothing is enabled or started.
#   cmake -DBUILD=<build dir> -DSTAGE=<staging dir> -P units_check.cmake
find_program(ANALYZE systemd-analyze REQUIRED)
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD}
                ENV DESTDIR=${STAGE} OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "staged install failed")
endif()
file(GLOB_RECURSE service ${STAGE}/*/vindreld.service)
file(GLOB_RECURSE socket ${STAGE}/*/vindreld.socket)
file(GLOB_RECURSE sysusers ${STAGE}/*/sysusers.d/vindrel.conf)
file(GLOB_RECURSE daemon ${STAGE}/*/sbin/vindreld)
file(GLOB_RECURSE config ${STAGE}/*/vindrel/vindreld.conf)
file(GLOB_RECURSE manual ${STAGE}/*/man8/vindreld.8)
foreach(f service socket sysusers daemon config manual)
  if(NOT ${f})
    message(FATAL_ERROR "the install left out ${f}")
  endif()
endforeach()

execute_process(COMMAND ${ANALYZE} verify --man=no --root=${STAGE} ${socket} ${service}
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
