#!/usr/bin/env bash
# Builds the thread stress test under ThreadSanitizer and runs it: any data
# race between streams fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/tsan
echo "== thread stress test under ThreadSanitizer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELK_SANITIZE=thread -DZELK_BUILD_BENCH=OFF -DZELK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target thread_stress_test
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$build/tests/thread_stress_test"
