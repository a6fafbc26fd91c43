# Fails when vindrel-send needs a library of a window system, directly or
# through another: it has to start on a server without a display.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ldd ${EXE} OUTPUT_VARIABLE libraries RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "ldd ${EXE} failed")
endif()
string(REPLACE "\n" ";" libraries "${libraries}")
foreach(library ${libraries})
  if(library MATCHES "libQt|libX|libxcb|wayland|libGL|libEGL|libgtk|libgdk|libfontconfig|libfreetype")
    message(SEND_ERROR "vindrel-send needs a window system's library:${library}")
  endif()
endforeach()
