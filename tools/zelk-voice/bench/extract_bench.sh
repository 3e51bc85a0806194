#!/usr/bin/env bash
# How fast `zelk-voice extract` is and how little memory it needs: prints
# capture MB/s and calls per second on a capture of many short calls, and the
# peak RSS on a capture of about 1 GB (the figure that must stay flat).
#
#   extract_bench.sh BUILD_DIR [WORK_DIR]
# BUILD_DIR holds tools/zelk-voice/zelk-voice and the capture generator
# (a release build: cmake --build BUILD --target zelk-voice zelk_extract_capture_gen).
# WORK_DIR needs about 4 GB free (the 1 GB capture and the WAVs it turns into).
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-$(mktemp -d)}
mkdir -p "$work"
trap 'rm -rf "$work/bench-out" "$work"/bench-*.pcap' EXIT
tool=$build/tools/zelk-voice/zelk-voice
gen=$build/tools/zelk-voice/bench/zelk_extract_capture_gen

# run NAME CALLS CONCURRENT SECONDS: generates, extracts, prints one line
# (and, for the first, how long tshark takes for its figures alone).
run() {
  local name=$1 calls=$2 concurrent=$3 seconds=$4
  local cap=$work/bench-$name.pcap
  "$gen" "$calls" "$concurrent" "$seconds" "$cap"
  local bytes
  bytes=$(stat -c %s "$cap")
  cat "$cap" >/dev/null  # from the page cache, as a second reading would be
  rm -rf "$work/bench-out"
  /usr/bin/time -f '%e %M' -o "$work/time" "$tool" extract "$cap" -o "$work/bench-out" >/dev/null
  read -r elapsed rss <"$work/time"
  local streams
  streams=$(find "$work/bench-out" -name '*.wav' | wc -l)
  awk -v n="$name" -v b="$bytes" -v e="$elapsed" -v r="$rss" -v c="$calls" -v s="$streams" \
    'BEGIN { printf "%-8s %8.1f MB %6d calls %6d WAVs %7.2f s %8.1f MB/s %9.0f calls/s %7.1f MB peak RSS\n",
             n, b / 1e6, c, s, e, b / 1e6 / e, c / e, r / 1024 }'
  if [[ $name == short ]] && command -v tshark >/dev/null; then
    /usr/bin/time -f '%e %M' -o "$work/time" tshark -r "$cap" -q -z rtp,streams >/dev/null 2>&1
    read -r elapsed rss <"$work/time"
    awk -v e="$elapsed" -v r="$rss" -v b="$bytes" \
      'BEGIN { printf "  (tshark -z rtp,streams on it, figures only: %.2f s, %.1f MB/s, %.0f MB peak RSS)\n",
               e, b / 1e6 / e, r / 1024 }'
  fi
}

echo "capture: calls of SECONDS s, 20 ms G.711 both ways, SIP over UDP; extract writes every WAV"
run short 3000 50 2      # many short calls
run 1GB 10500 100 5      # about 1 GB
run 1GB-1s 47000 100 1   # about 1 GB of calls of 1 s: the most streams
