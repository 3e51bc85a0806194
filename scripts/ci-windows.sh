#!/usr/bin/env bash
# The 32-bit Windows DLL, from a clean clone on Debian 12 as root: cross-build
# it with MinGW-w64, check its export table, and run the host-style test, the
# codec digest comparison and the test suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --all
jobs=$(nproc)
# A prefix of the build's own, and no Wine debug chatter.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine-prefix}" WINEDEBUG=-all
# Whatever happens below, no Wine server outlives this script.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

echo "== native codec digest (the reference the DLL must match)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs" --target codec_digest

echo "== Windows DLL cross build"
cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DZELK_BUILD_BENCH=OFF -DZELK_BUILD_TOOLS=OFF \
  -DZELK_REFERENCE_DIGEST="$PWD/build/release/tests/codec_digest"
cmake --build build/windows -j "$jobs"  # fails on a wrong export table

for dll in zelk_voice_engine zelk_voice_rtp; do
  echo "== export table of build/windows/bin/$dll.dll"
  i686-w64-mingw32-objdump -p build/windows/bin/$dll.dll |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p;/DLL Name:/p'
done

echo "== tests under Wine"
# Wine's output goes to a file, shown once the run is over.
log=build/windows/ctest-wine.log
status=0
ctest --test-dir build/windows --output-on-failure -j "$jobs" >"$log" 2>&1 || status=$?
cat "$log"
exit "$status"
