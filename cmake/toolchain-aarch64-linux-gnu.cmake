# Cross build for 64-bit ARM, little-endian (g++-aarch64-linux-gnu):
#   cmake -S . -B build/aarch64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
# Programs built here run under qemu-aarch64-static when it is installed.
set(ZELK_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ZELK_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
