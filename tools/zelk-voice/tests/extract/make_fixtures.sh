#!/usr/bin/env bash
# Makes the committed captures in fixtures/ with software from outside the
# project: ffmpeg sends RTP over loopback, tcpdump captures it, editcap and
# mergecap (wireshark-common) and relink.py rewrite and damage the captures.
# Needs root (tcpdump), ffmpeg, sox, tcpdump, wireshark-common and the speech
# of Debian's codec2-examples; the RTP component's generator (zelk_rtp_sender)
# for the DVI4 and two-bit streams, passed as $ZELK_RTP_SENDER (built by the
# tests: build/<dir>/tools/zelk-voice/tests/extract/zelk_rtp_sender).
# Takes about a minute: ffmpeg sends in real time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/fixtures
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# Two voices, 1.5 s each, 8 kHz 16-bit mono.
sox -t raw -r 8000 -e signed -b 16 -c 1 /usr/share/codec2/raw/hts1a.raw "$work/a.wav" trim 0 1.5
sox -t raw -r 8000 -e signed -b 16 -c 1 /usr/share/codec2/raw/morig.raw "$work/b.wav" trim 0 1.5

# capture OUT IFACE FILTER [TCPDUMP-OPTION...] -- COMMAND...
capture() {
  local file=$1 iface=$2 filter=$3
  shift 3
  local opts=()
  while [[ $1 != -- ]]; do opts+=("$1"); shift; done
  shift
  tcpdump -i "$iface" -Z root -U -w "$file" "${opts[@]}" "$filter" 2>/dev/null &
  local pid=$!
  sleep 1
  "$@"
  sleep 0.5
  kill -INT "$pid"
  wait "$pid" || true
}

# send WAV CODEC URL [FFMPEG-OPTION...]: 20 ms packets unless the options say otherwise
send() {
  local wav=$1 codec=$2 url=$3
  shift 3
  ffmpeg -hide_banner -loglevel error -re -i "$wav" "$@" -c:a "$codec" -f rtp "$url" >/dev/null
}
twenty=(-af asetnsamples=160)

# µ-law, 20 ms, sequence numbers wrapping through 65535 half way.
capture "$out/ulaw.pcap" lo 'udp portrange 47000-47001' -- \
  send "$work/a.wav" pcm_mulaw rtp://127.0.0.1:47000 "${twenty[@]}" -ssrc 0x1A2B3C4D -seq 65500
# A-law over IPv6, as pcapng.
capture "$work/alaw6.pcap" lo 'udp portrange 47010-47011' -- \
  send "$work/b.wav" pcm_alaw "rtp://[::1]:47010" "${twenty[@]}" -ssrc 0x2B3C4D5E
editcap -F pcapng "$work/alaw6.pcap" "$out/alaw-ipv6.pcapng"
# ffmpeg's own packets: 1460 and 588 bytes, as many samples.
capture "$out/ulaw-ffmpeg-sizes.pcap" lo 'udp portrange 47020-47021' -- \
  send "$work/a.wav" pcm_mulaw rtp://127.0.0.1:47020 -ssrc 0x3C4D5E6F
# Linux cooked captures (tcpdump -i any), v1 and v2 (as pcapng).
capture "$out/cooked-v1.pcap" any 'udp portrange 47030-47031' -y LINUX_SLL -- \
  send "$work/a.wav" pcm_mulaw rtp://127.0.0.1:47030 "${twenty[@]}" -ssrc 0x4D5E6F70
capture "$work/cooked2.pcap" any 'udp portrange 47040-47041' -y LINUX_SLL2 -- \
  send "$work/b.wav" pcm_alaw rtp://127.0.0.1:47040 "${twenty[@]}" -ssrc 0x5E6F7081
editcap -F pcapng "$work/cooked2.pcap" "$out/cooked-v2.pcapng"
# Calls with SIP: dynamic payload types mapped by a=rtpmap, both directions.
capture "$out/sip-udp.pcap" lo 'portrange 47100-47130' -- \
  python3 "$here/sip_call.py" udp 97 PCMA pcm_alaw "$work/a.wav" "$work/b.wav" 47100
capture "$out/sip-tcp.pcap" lo 'portrange 47200-47230' -- \
  python3 "$here/sip_call.py" tcp 98 PCMU pcm_mulaw "$work/b.wav" "$work/a.wav" 47200
# A dynamic payload type without any SDP.
capture "$out/unknown-pt.pcap" lo 'udp portrange 47050-47051' -- \
  send "$work/a.wav" pcm_mulaw rtp://127.0.0.1:47050 "${twenty[@]}" -payload_type 97 \
  -ssrc 0x6F708192

# DVI4 (static payload type 5) and a SIP call in the two-bit codec under its
# SDP name, sent with the RTP component's payloads.
sender=${ZELK_RTP_SENDER:?set ZELK_RTP_SENDER to the built zelk_rtp_sender}
export ZELK_RTP_SENDER=$sender
capture "$out/dvi4.pcap" lo 'udp port 47060' -- \
  "$sender" dvi4 5 0x7A8B9CAD "$work/a.wav" 127.0.0.1 47060
capture "$out/sip-adpcm2.pcap" lo 'portrange 47300-47330' -- \
  python3 "$here/sip_call.py" udp 96 ZELK-ADPCM2 zelk:adpcm2 "$work/a.wav" "$work/b.wav" 47300

# Other encapsulations of the same traffic.
python3 "$here/relink.py" vlan "$out/ulaw.pcap" "$out/qinq.pcap" 100,200
editcap -F pcap -C 14 -T rawip "$out/ulaw.pcap" "$out/rawip.pcap"
python3 "$here/relink.py" null "$out/ulaw.pcap" "$out/null.pcap"
python3 "$here/relink.py" loop "$work/alaw6.pcap" "$out/loop-ipv6.pcap"
# IP fragments, each datagram's fragments in reverse order.
python3 "$here/relink.py" frag "$out/ulaw-ffmpeg-sizes.pcap" "$out/fragments.pcap" 512
python3 "$here/relink.py" frag "$work/alaw6.pcap" "$out/fragments-ipv6.pcap" 96

# Damage: a burst of 3 lost and one single loss; two duplicates (one at once,
# one 3 ms later); two packets 45 ms late (reordered inside the playout window)
# and one 300 ms late (after its place was played).
base=$out/ulaw.pcap
editcap "$base" "$work/holes.pcap" 12-14 25 33 45 55
editcap -r "$base" "$work/dup0.pcap" 20
editcap -r "$base" "$work/dup.pcap" 28
editcap -t 0.003 "$work/dup.pcap" "$work/dup3.pcap"
editcap -r "$base" "$work/moved.pcap" 33 55
editcap -t 0.045 "$work/moved.pcap" "$work/moved45.pcap"
editcap -r "$base" "$work/late.pcap" 45
editcap -t 0.3 "$work/late.pcap" "$work/late300.pcap"
mergecap -F pcap -w "$out/lossy.pcap" "$work/holes.pcap" "$work/dup0.pcap" "$work/dup3.pcap" \
  "$work/moved45.pcap" "$work/late300.pcap"
# DVI4 with a burst of two lost and a single loss: each packet's header resyncs.
editcap -F pcap "$out/dvi4.pcap" "$out/dvi4-lossy.pcap" 20-21 40
# Cut in the middle of a packet.
size=$(stat -c %s "$base")
head -c $((size * 2 / 3)) "$base" >"$out/truncated.pcap"
# Signalling only, no RTP.
tshark -r "$out/sip-udp.pcap" -Y 'sip' -w "$out/no-rtp.pcap" -F pcap 2>/dev/null

ls -l "$out"
du -sh "$out"
