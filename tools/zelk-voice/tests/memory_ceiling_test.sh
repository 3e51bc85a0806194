#!/bin/sh
# Long inputs under an address-space limit far below what holding them whole
# would take: ten minutes of 48 kHz stereo arrive through a pipe (as doubles
# the input alone is 460 MB), are encoded, decoded back to 44.1 kHz (26 million
# samples) and measured by roundtrip, each with 128 MB of address space.
#   memory_ceiling_test.sh ZELK_VOICE WORKDIR
set -eu
tool=$1
work=$2
limit_kb=131072
rm -rf "$work"
mkdir -p "$work"
cd "$work"
sox -n -r 48000 -c 2 -b 16 -t wav - synth 600 sine 300 sine 500 |
  (ulimit -v $limit_kb && exec "$tool" -q encode -c ima - -o long.zvf)
(ulimit -v $limit_kb && exec "$tool" -q decode long.zvf --rate 44100 -o long.wav)
(ulimit -v $limit_kb && exec "$tool" roundtrip long.zvf --csv --time 0.001 -c ima) >/dev/null 2>&1 &&
  { echo "FAIL: roundtrip read a .zvf as audio"; exit 1; }
(ulimit -v $limit_kb && exec "$tool" -q roundtrip --raw-rate 44100 long.wav --csv --time 0.001 -c ima) >rt.csv
samples=$(od -An -tu8 -j16 -N8 long.zvf | tr -d ' ')
bytes=$(stat -c %s long.wav)
[ "$samples" -eq 4800000 ] || { echo "FAIL: long.zvf holds $samples samples"; exit 1; }
[ "$bytes" -eq $((44 + 600 * 44100 * 2)) ] || { echo "FAIL: long.wav has $bytes bytes"; exit 1; }
grep -q '^ima,' rt.csv || { echo "FAIL: no roundtrip row"; cat rt.csv; exit 1; }
echo "10 minutes of 48 kHz stereo: encode, decode --rate 44100 and roundtrip in 128 MB of address space"
rm -rf "$work"
