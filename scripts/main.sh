#!/usr/bin/env bash
# The main job, from a clean clone on Debian 12 as root: install what the build
# needs, build the library and the zelk-voice tool (release, Ninja), and run
# `zelk-voice roundtrip` on the bundled speech sample, which prints bit rate,
# quality and speed for every codec. Extra arguments go to `roundtrip`, e.g.
#   scripts/main.sh --plot snr.svg -o decoded/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/main -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZELK_BUILD_TESTS=OFF -DZELK_BUILD_BENCH=OFF -DZELK_BUILD_TOOLS=ON
cmake --build build/main -j "$(nproc)" --target zelk-voice
build/main/tools/zelk-voice/zelk-voice roundtrip "$@"
