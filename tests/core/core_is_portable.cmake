# Fails when a file under core/ includes anything but the standard library,
# the core itself or the platform seam headers: the core must build with no
# window system and no OS headers.
cmake_minimum_required(VERSION 3.25)
file(GLOB sources ${ROOT}/core/*.h ${ROOT}/core/*.cpp)
set(allowed_seams netmsg.h login_name.h settings_store.h)
foreach(source ${sources})
  file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line ${includes})
    if(line MATCHES "<([a-z_]+)>")
      continue()  # standard headers have bare lower-case names
    elseif(line MATCHES "\"core/[a-z_]+\\.h\"")
      continue()
    elseif(line MATCHES "\"platform/([a-z_]+\\.h)\"" AND CMAKE_MATCH_1 IN_LIST allowed_seams)
      continue()
    endif()
    message(SEND_ERROR "${source}: not allowed in the core: ${line}")
  endforeach()
endforeach()
