#!/usr/bin/env bash
# Regenerates speech_sample.wav, the recording that `zelk-voice roundtrip` uses
# when it is given no input: two synthetic voices (a lower male one and a
# higher female one) reading a sentence each, mixed down to 8 kHz, 16-bit mono.
# Needs espeak-ng and sox (Debian packages of the same names). The result is
# committed, so neither is needed to build or test.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
espeak-ng -v en-us -s 150 -p 35 -w "$tmp/a.wav" \
  "The birch canoe slid on the smooth planks."
espeak-ng -v en-gb+f3 -s 160 -p 65 -w "$tmp/b.wav" \
  "It is easy to tell the depth of a well."
sox -R "$tmp/a.wav" "$tmp/b.wav" -r 8000 -c 1 -b 16 -e signed-integer speech_sample.wav norm -3
