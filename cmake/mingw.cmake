# Shared part of the mingw-w64 toolchain files; they set VINDREL_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model (std::mutex, which GoogleTest needs); its library is
# linked in statically like the rest.
set(CMAKE_C_COMPILER ${VINDREL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VINDREL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VINDREL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VINDREL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so no DLL of the toolchain has to sit beside the
# program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
