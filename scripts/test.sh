#!/usr/bin/env bash
# Everything CI checks, from a clean clone on Debian 12 as root:
# formatting, the release build and the sanitizer build with all their tests.
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

scripts/ci-windows.sh
scripts/ci-fuzz.sh  # bounded libFuzzer run of every fuzz target
scripts/ci-tsan.sh  # thread stress test under ThreadSanitizer
