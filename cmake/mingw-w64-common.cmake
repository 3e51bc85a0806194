# What the MinGW-w64 cross builds share; a toolchain file sets
# CMAKE_SYSTEM_PROCESSOR and ZELK_MINGW_PREFIX (the triplet) and includes this.
# Programs built here run on Linux through Wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# of GCC 12 lacks. Its libwinpthread is linked statically like the rest of
# the runtime (below), so no module built here needs a MinGW DLL.
find_program(ZELK_MINGW_CC NAMES ${ZELK_MINGW_PREFIX}-gcc-posix ${ZELK_MINGW_PREFIX}-gcc REQUIRED)
find_program(ZELK_MINGW_CXX NAMES ${ZELK_MINGW_PREFIX}-g++-posix ${ZELK_MINGW_PREFIX}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${ZELK_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ZELK_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ZELK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC runtime (libgcc, libstdc++, libwinpthread) goes into every module,
# so the DLL and the test programs import only Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine (one loader for 32- and 64-bit programs); its debug
# chatter stays off.
find_program(ZELK_WINE NAMES wine)
find_program(ZELK_WINESERVER NAMES wineserver)
if(ZELK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all ${ZELK_WINE})
endif()
