#!/usr/bin/env bash
# The Windows DLLs, from a clean clone on Debian 12 as root: cross-build the
# 32-bit and the x64 DLL with MinGW-w64, check their export tables, and run the
# host-style test, the codec digest comparison and the test suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --all
jobs=$(nproc)
# A prefix of the build's own (one for both machines), and no Wine debug chatter.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine-prefix}" WINEDEBUG=-all
# Whatever happens below, no Wine server outlives this script.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

echo "== native codec digest (the reference both DLLs must match)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs" --target codec_digest

# Builds, shows and tests the DLL of one machine: <build dir> <MinGW triplet>.
windows_dll() {
  local dir=$1 triplet=$2
  echo "== Windows DLL cross build ($triplet)"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$triplet.cmake" \
    -DZELK_BUILD_BENCH=OFF -DZELK_BUILD_TOOLS=OFF \
    -DZELK_REFERENCE_DIGEST="$PWD/build/release/tests/codec_digest"
  cmake --build "$dir" -j "$jobs"  # fails on a wrong export table

  for dll in zelk_voice_engine zelk_voice_rtp; do
    [[ -f "$dir/bin/$dll.dll" ]] || continue
    echo "== export table of $dir/bin/$dll.dll"
    "$triplet-objdump" -p "$dir/bin/$dll.dll" |
      sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p;/DLL Name:/p'
  done

  echo "== tests under Wine ($triplet)"
  # Wine's output goes to a file, shown once the run is over. Wine's loader
  # has been seen to crash a program at start-up about once in twenty runs
  # on a busy machine, so a failed test gets one more run; the libraries are
  # deterministic, and a real fault fails both.
  local log=$dir/ctest-wine.log status=0
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --repeat until-pass:2 >"$log" 2>&1 ||
    status=$?
  cat "$log"
  return "$status"
}

windows_dll build/windows i686-w64-mingw32
windows_dll build/windows64 x86_64-w64-mingw32
