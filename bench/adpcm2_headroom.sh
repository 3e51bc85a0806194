#!/usr/bin/env bash
# Plays Debian's recorded speech (codec2-examples, pocketsphinx-testdata) and
# the bundled sample through the two-bit ADPCM at peak levels from -12 to
# 0 dBFS and prints where each recording first wraps around; then the same for
# a few pure tones and a square wave, for comparison.
#   bench/adpcm2_headroom.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target zelk_adpcm2_headroom >/dev/null || {
  cmake --build "$build" --target zelk_adpcm2_headroom
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
raw() { sox -D "$1" -r 8000 -c 1 -t raw -e signed -b 16 -L "$work/$2.raw"; }
for f in big_dog cross forig hts1 hts2 kristoff mmt1 morig ve9qrp vk5qi g3plx cq_ref; do
  [[ -f /usr/share/codec2/raw/$f.raw ]] && cp /usr/share/codec2/raw/$f.raw "$work/"
done
[[ -f /usr/share/codec2/raw/speech_orig_16k.wav ]] && raw /usr/share/codec2/raw/speech_orig_16k.wav speech_orig
for f in /usr/share/pocketsphinx/test/data/librivox/*.wav; do
  [[ -f $f ]] && raw "$f" "librivox-$(basename "$f" .wav | sed 's/.*-//')"
done
raw tools/zelk-voice/data/speech_sample.wav bundled
echo "== recorded speech"
"$build/bench/zelk_adpcm2_headroom" "$work"/*.raw
rm -f "$work"/*.raw
for hz in 300 1000 2500 3400; do
  sox -n -r 8000 -t raw -e signed -b 16 -L "$work/sine$hz.raw" synth 2 sine $hz
done
sox -n -r 8000 -t raw -e signed -b 16 -L "$work/square200.raw" synth 2 square 200
echo
echo "== pure tones and a square wave"
"$build/bench/zelk_adpcm2_headroom" "$work"/*.raw | sed -n '1,6p'
