# Cross build for 64-bit IBM Z, a big-endian host (g++-s390x-linux-gnu):
#   cmake -S . -B build/s390x -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x-linux-gnu.cmake
# Programs built here run under qemu-s390x-static when it is installed.
set(ZELK_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(ZELK_QEMU qemu-s390x-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
