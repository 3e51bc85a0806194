#!/usr/bin/env bash
# Peak memory (maximum resident set size) and wall time of zelk-voice on one
# hour of 44.1 kHz stereo speech: encode to IMA ADPCM and to A-law, decode back
# to 44.1 kHz, and two inputs at once (two parallel jobs in one run).
#
#   bench/tool_memory.sh [ZELK_VOICE] [WORKDIR]
#
# ZELK_VOICE defaults to build/release/tools/zelk-voice/zelk-voice, WORKDIR to
# /tmp/zelk-voice-memory. The input (about 640 MB) is made there once with sox
# from the LibriVox speech in Debian's pocketsphinx-testdata, looped to one
# hour, left channel forwards and right channel reversed; the outputs need about
# 160 MB more. Not a test: it prints figures.
set -euo pipefail
tool=$(realpath "${1:-build/release/tools/zelk-voice/zelk-voice}")
work=${2:-/tmp/zelk-voice-memory}
mkdir -p "$work"
cd "$work"

if [[ ! -f hour.wav ]]; then
  speech=/usr/share/pocketsphinx/test/data/librivox
  sox "$speech"/*.wav -r 44100 left.wav
  sox left.wav right.wav reverse
  sox -M left.wav right.wav -b 16 pair.wav
  repeats=$(python3 -c "import math; print(math.ceil(3600 / $(soxi -D pair.wav)) - 1)")
  sox pair.wav hour.wav repeat "$repeats" trim 0 3600
  cp hour.wav hour2.wav
  rm -f left.wav right.wav pair.wav
fi

# Runs the tool under GNU time; prints "label  peak MB  wall s".
measure() {
  local label=$1
  shift
  /usr/bin/time -v -o time.txt "$tool" -q "$@" >/dev/null
  local kb wall
  kb=$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' time.txt)
  wall=$(sed -n 's/^\s*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' time.txt)
  printf '%-44s %9.1f MB %10s\n' "$label" "$(echo "$kb / 1024" | bc -l)" "$wall"
}

rm -rf out && mkdir out
printf '%-44s %12s %10s\n' "one hour of 44.1 kHz stereo" "peak RSS" "wall"
measure "encode -c ima  -> .zvf" encode -c ima hour.wav -o out/hour.zvf
measure "encode -c alaw -> .wav" encode -c alaw hour.wav -o out/hour.al.wav
measure "decode --rate 44100 (IMA stream)" decode out/hour.zvf -o out/hour.dec.wav --rate 44100
measure "encode -c ima, two inputs at once" encode -c ima hour.wav hour2.wav -o out/two/
measure "decode --rate 44100, two inputs at once" decode out/two/hour.zvf out/two/hour2.zvf \
  -o out/twodec/ --rate 44100
rm -rf out time.txt
