# Shared part of the Linux cross toolchains (cmake/toolchain-<triple>.cmake),
# which set ZELK_CROSS_TRIPLE, CMAKE_SYSTEM_PROCESSOR and ZELK_QEMU first.
# Compilers from Debian's g++-<triple> packages; the target's programs, tests
# and GoogleTest's discovery among them, run on the build machine under
# qemu-user (qemu-user-static) with the target's libraries from /usr/<triple>.
set(CMAKE_SYSTEM_NAME Linux)

find_program(ZELK_CROSS_CC NAMES ${ZELK_CROSS_TRIPLE}-gcc REQUIRED)
find_program(ZELK_CROSS_CXX NAMES ${ZELK_CROSS_TRIPLE}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${ZELK_CROSS_CC})
set(CMAKE_CXX_COMPILER ${ZELK_CROSS_CXX})

set(CMAKE_FIND_ROOT_PATH /usr/${ZELK_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZELK_QEMU_PROGRAM NAMES ${ZELK_QEMU})
if(ZELK_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELK_QEMU_PROGRAM} -L /usr/${ZELK_CROSS_TRIPLE})
endif()
