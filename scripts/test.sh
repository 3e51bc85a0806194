#!/usr/bin/env bash
# Everything CI checks, from a clean clone on Debian 12 as root: formatting,
# the release build and the AddressSanitizer/UndefinedBehaviorSanitizer build
# with all their tests, the Windows DLL under Wine, the s390x and aarch64 builds
# under qemu, fuzzing and ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --all
jobs=$(nproc)

echo "== format check"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror

echo "== release build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELK_SANITIZE=address,undefined -DZELK_BUILD_BENCH=OFF
cmake --build build/sanitize -j "$jobs"
ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

scripts/ci-windows.sh  # the 32-bit and x64 DLLs, cross-built, their tests under Wine
scripts/ci-cross.sh    # big-endian s390x and aarch64, cross-built, their tests under qemu
scripts/ci-fuzz.sh     # bounded libFuzzer run of every fuzz target
scripts/ci-tsan.sh     # thread stress test under ThreadSanitizer

# Every step above stops the script on its first failure, so reaching this
# line means every test of every build passed.
count_tests() { ctest --test-dir "$1" -N | sed -n 's/^Total Tests: //p'; }
total=$(($(count_tests build/release) + $(count_tests build/sanitize) + $(count_tests build/windows) +
  $(count_tests build/windows64) + $(count_tests build/s390x) + $(count_tests build/aarch64) + 5))
echo "== all builds: release, sanitizers, Windows x86 and x64 under Wine, s390x and aarch64 under" \
  "qemu, 4 fuzz targets, ThreadSanitizer"
echo "ci: $total passed, 0 failed"

