#!/usr/bin/env bash
# Everything CI checks, from a clean clone on Debian 12 as root: formatting,
# the release build and the AddressSanitizer/UndefinedBehaviorSanitizer build
# with all their tests, the Windows DLL under Wine, the s390x and aarch64 builds
# under qemu, fuzzing and ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step's wall time, printed at the end: CI must stay well under 25 minutes.
timings=()
timed() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  timings+=("$(printf '%5ds  %s' $((SECONDS - start)) "$name")")
}
timed "packages" scripts/install-deps.sh --all
jobs=$(nproc)

format_check() {
  echo "== format check"
  git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
}

release() {
  echo "== release build and tests"
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build build/release -j "$jobs"
  ctest --test-dir build/release --output-on-failure -j "$jobs"
}

sanitize() {
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
  cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZELK_SANITIZE=address,undefined -DZELK_BUILD_BENCH=OFF
  cmake --build build/sanitize -j "$jobs"
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
}

timed "format check" format_check
timed "release build and tests" release
timed "sanitizer build and tests" sanitize
timed "Windows x86 and x64" scripts/ci-windows.sh  # both DLLs cross-built, tests under Wine
timed "s390x and aarch64" scripts/ci-cross.sh      # cross-built, tests under qemu
timed "fuzzing" scripts/ci-fuzz.sh 30              # 30 s of libFuzzer for every target
timed "ThreadSanitizer" scripts/ci-tsan.sh         # thread stress test

# Every step above stops the script on its first failure, so reaching this
# line means every test of every build passed.
count_tests() { ctest --test-dir "$1" -N | sed -n 's/^Total Tests: //p'; }
fuzz_targets=$(ls fuzz/corpus | wc -l)
total=$(($(count_tests build/release) + $(count_tests build/sanitize) + $(count_tests build/windows) +
  $(count_tests build/windows64) + $(count_tests build/s390x) + $(count_tests build/aarch64) + fuzz_targets + 1))
echo "== all builds: release, sanitizers, Windows x86 and x64 under Wine, s390x and aarch64 under" \
  "qemu, $fuzz_targets fuzz targets, ThreadSanitizer"
echo "== wall time by step"
printf '%s\n' "${timings[@]}"
printf '%5ds  in all\n' "$SECONDS"
echo "ci: $total passed, 0 failed"

