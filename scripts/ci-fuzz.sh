#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and fuzzes each for a bounded time, starting
# from the committed corpus. Any crash, sanitizer report or failed check
# fails the script; new inputs stay in a scratch copy of the corpus.
#   scripts/ci-fuzz.sh [seconds per target]    (default 50)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-50}
build=build/fuzz
# Every target has a committed corpus under its name.
mapfile -t targets < <(ls fuzz/corpus)
echo "== fuzz targets: build and fuzz ${seconds}s each"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELK_BUILD_FUZZERS=ON -DZELK_BUILD_TESTS=OFF -DZELK_BUILD_BENCH=OFF -DZELK_BUILD_TOOLS=OFF \
  -DZELK_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

for t in "${targets[@]}"; do
  work="$build/work/$t"
  rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$t"/* "$work/corpus/"
  echo "== fuzzing $t for ${seconds}s"
  if ! "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
      -rss_limit_mb=1024 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1; then
    tail -n 60 "$work/log"
    echo "FAIL: $t found a fault; reproducer in $work/artifacts/" >&2
    exit 1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -n 1)
  echo "$t: $execs executions, $cov, corpus $(ls "$work/corpus" | wc -l) inputs"
done
