#!/usr/bin/env bash
# The main job: build the library and round-trip a generated signal through
# every codec, printing what came back. Debian 12, as root, from a clean clone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/main -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_TESTS=OFF -DZELK_BUILD_BENCH=OFF
cmake --build build/main -j "$(nproc)" --target roundtrip_demo
build/main/examples/roundtrip_demo
