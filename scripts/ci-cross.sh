#!/usr/bin/env bash
# The library on other CPUs, from a clean clone on Debian 12 as root: cross-build
# it for s390x (big-endian) and aarch64 with Debian's cross compilers and run
# its unit tests, the codec digest comparison among them, under qemu-user. The
# digests must equal the committed ones, which the x86-64 build prints too.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --all
jobs=$(nproc)

for triple in s390x-linux-gnu aarch64-linux-gnu; do
  arch=${triple%%-*}
  command -v "qemu-$arch-static" >/dev/null || { echo "qemu-$arch-static missing" >&2; exit 1; }
  echo "== $arch cross build"
  cmake -S . -B "build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$triple.cmake" \
    -DZELK_BUILD_BENCH=OFF -DZELK_BUILD_TOOLS=OFF
  cmake --build "build/$arch" -j "$jobs"
  echo "== $arch tests under qemu-$arch-static"
  ctest --test-dir "build/$arch" --output-on-failure -j "$jobs"
done
