#!/usr/bin/env python3
"""Runs `zelk-voice extract` on a capture and checks it against peers nobody
here wrote: the per-stream figures against `tshark -z rtp,streams`, and the
audio against the payload bytes tshark reports, decoded by Python's audioop
(G.711) or by the program given with --payload-decoder (DVI4 by spandsp).

  check_extract.py --tool ZELK_VOICE --capture FILE --work DIR [options]

Prints one line per stream: our figures beside tshark's.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import warnings
import wave

with warnings.catch_warnings():
    warnings.simplefilter('ignore', DeprecationWarning)
    import audioop

ROW = re.compile(
    r'^\s*([\d.]+)\s+([\d.]+)\s+(\S+)\s+(\d+)\s+(\S+)\s+(\d+)\s+(0x[0-9A-Fa-f]+)\s+(.+?)\s+'
    r'(\d+)\s+(-?\d+)\s+\((-?[\d.]+)%\)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+(-?[\d.]+)\s+'
    r'([\d.]+)\s+([\d.]+)')


def fail(msg):
    print(f'FAIL: {msg}', file=sys.stderr)
    sys.exit(1)


def endpoint(addr, port):
    return f'[{addr}]:{port}' if ':' in addr else f'{addr}:{port}'


def tshark_streams(capture, args):
    out = subprocess.run(['tshark', '-r', capture, *args, '-q', '-z', 'rtp,streams'],
                         capture_output=True, text=True).stdout  # exits 2 on a cut file, after its report
    rows = {}
    for line in out.splitlines():
        m = ROW.match(line)
        if not m:
            continue
        g = m.groups()
        key = (endpoint(g[2], g[3]), endpoint(g[4], g[5]), int(g[6], 16))
        rows[key] = dict(packets=int(g[8]), lost=int(g[9]), max_delta=float(g[13]),
                         mean_jitter=float(g[15]), max_jitter=float(g[16]))
    return rows


def tshark_packets(capture, args):
    """Per stream: (extended seq, timestamp, payload bytes, capture time) in capture order."""
    fields = ['rtp.ssrc', 'rtp.seq', 'rtp.timestamp', 'rtp.payload', 'frame.time_epoch',
              'ip.src', 'ipv6.src', 'udp.srcport', 'ip.dst', 'ipv6.dst', 'udp.dstport']
    cmd = ['tshark', '-r', capture, *args, '-Y', 'rtp', '-T', 'fields', '-E', 'separator=\t',
           '-E', 'occurrence=l']
    for f in fields:
        cmd += ['-e', f]
    out = subprocess.run(cmd, capture_output=True, text=True).stdout
    streams, highest = {}, {}
    for line in out.splitlines():
        ssrc, seq, ts, payload, t, s4, s6, sport, d4, d6, dport = line.split('\t')
        key = (endpoint(s4 or s6, sport), endpoint(d4 or d6, dport), int(ssrc, 16))
        # Sequence numbers unwrapped to the nearest of the highest so far
        # (tshark's rtp.extseq is off for a first packet near the wrap).
        seq = int(seq)
        top = highest.get(key, seq + 65536)
        ext = top + ((seq - top + 32768) % 65536 - 32768)
        highest[key] = max(top, ext)
        streams.setdefault(key, []).append(
            (ext, int(ts), bytes.fromhex(payload.replace(':', '')), float(t)))
    return streams


def decode_all(codec, payloads, decoder):
    """Each payload's samples, the payloads in sequence order (the two-bit
    decoder keeps its state from one to the next)."""
    if codec == 'ulaw':
        return [list(memoryview(audioop.ulaw2lin(p, 2)).cast('h')) for p in payloads]
    if codec == 'alaw':
        return [list(memoryview(audioop.alaw2lin(p, 2)).cast('h')) for p in payloads]
    if codec not in ('ima', 'adpcm2') or not decoder:
        return None
    data = b''.join(len(p).to_bytes(2, 'big') + p for p in payloads)
    mode = 'dvi4' if codec == 'ima' else 'adpcm2'
    pcm = list(memoryview(subprocess.run([decoder, mode], input=data, capture_output=True,
                                         check=True).stdout).cast('h'))
    out, at = [], 0
    for p in payloads:
        n = (len(p) - 4) * 2 if codec == 'ima' else len(p) * 4
        out.append(pcm[at:at + n])
        at += n
    return out


def read_wav(path):
    with wave.open(path) as w:
        if w.getframerate() != 8000 or w.getsampwidth() != 2:
            fail(f'{path}: not 8 kHz 16-bit')
        data = w.readframes(w.getnframes())
        return list(memoryview(data).cast('h')), w.getnchannels()


def check_audio(stream, packets, decoder, join_samples, conceal_check):
    """Every packet's samples at its timestamp's place, except late ones and the
    first samples after a loss (where the receiver joins the concealment to the
    signal: up to 10 ms for G.711 and the two-bit codec, none for DVI4)."""
    ours, channels = read_wav(stream['file'])
    if channels != 1:
        fail(f"{stream['file']}: {channels} channels")
    unique = {}
    for ext, ts, payload, t in packets:
        unique.setdefault(ext, (ts, payload))
    seqs = sorted(unique)
    ts0 = unique[seqs[0]][0]
    compared = mismatched = 0
    # A late packet is concealed, and the packet after it joins the concealment.
    allowed = 2 * stream['late']
    end = 0
    refs = decode_all(stream['codec'], [unique[e][1] for e in seqs], decoder)
    if refs is None:
        fail(f"no reference decoder for {stream['codec']}")
    for i, ext in enumerate(seqs):
        ts = unique[ext][0]
        pos = (ts - ts0) % (1 << 32)
        ref = refs[i]
        end_prev = end
        end = max(end, pos + len(ref))
        after_loss = i > 0 and seqs[i - 1] != ext - 1
        if after_loss and conceal_check:
            # The lost time is played from the history, not left silent: its
            # first 5 ms are not all zero when the speech before was not.
            gap = ours[end_prev:end_prev + 40]
            if any(refs[i - 1][-40:]) and not any(gap):
                fail(f"{stream['file']}: the loss before packet {ext} was left silent")
        lo = join_samples if after_loss else 0
        got = ours[pos + lo:pos + len(ref)]
        if got != ref[lo:]:
            mismatched += 1
        compared += 1
    if mismatched > allowed:
        fail(f"{stream['file']}: {mismatched} of {compared} packets differ from the reference "
             f"decode (late: {allowed})")
    if len(ours) != end:
        fail(f"{stream['file']}: {len(ours)} samples, the packets span {end}")
    return f'audio: {compared - mismatched}/{compared} packets sample-exact'


def check_mix(streams, packets):
    mixes = {s['mix_file'] for s in streams if s['mix_file']}
    if not mixes:
        fail('--mix wrote no stereo file')
    for mix in mixes:
        pair = [s for s in streams if s['mix_file'] == mix]
        if len(pair) != 2:
            fail(f'{mix}: made of {len(pair)} streams')
        a, b = pair  # the report lists streams in order of their first packet
        if a['source'] != b['destination'] or a['destination'] != b['source']:
            fail(f'{mix}: the two streams are not the two directions of a call')
        samples, channels = read_wav(mix)
        if channels != 2:
            fail(f'{mix}: {channels} channels')
        left, right = samples[0::2], samples[1::2]
        mono = [read_wav(s['file'])[0] for s in pair]
        # The offset between the channels is the time between the streams'
        # first packets as tshark reports them.
        first = [min(p[3] for p in packets[(s['source'], s['destination'], int(s['ssrc'], 16))])
                 for s in pair]
        offset = round((first[1] - first[0]) * 8000)
        lead = [max(0, -offset), max(0, offset)]
        for chan, m, ld, name in ((left, mono[0], lead[0], 'left'), (right, mono[1], lead[1], 'right')):
            if any(chan[:ld]) or chan[ld:ld + len(m)] != m or any(chan[ld + len(m):]):
                fail(f'{mix}: {name} channel is not its stream placed {ld} samples in')
        print(f'mix: {os.path.basename(mix)}: offset {offset} samples')


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--tool', required=True)
    p.add_argument('--capture', required=True, action='append')
    p.add_argument('--work', required=True)
    p.add_argument('--tool-arg', action='append', default=[])
    p.add_argument('--tshark-arg', action='append', default=[])
    p.add_argument('--expect-status', type=int, default=0)
    p.add_argument('--expect-error', default=None, help='regex that stderr must match')
    p.add_argument('--streams', type=int, default=None, help='streams we must report')
    p.add_argument('--audio', action='store_true')
    p.add_argument('--mix', action='store_true')
    p.add_argument('--payload-decoder', default=None,
                   help='zelk_payload_decoder: DVI4 by spandsp, two-bit by the engine')
    p.add_argument('--concealed', action='store_true',
                   help='lost time must be concealed, not silent')
    p.add_argument('--split', type=int, default=0,
                   help='cut the capture into files of this many packets (editcap -c) and give '
                        'the tool all of them, in order')
    p.add_argument('--fsize-limit', type=int, default=0,
                   help='run the tool with RLIMIT_FSIZE at this many bytes (a full disk)')
    p.add_argument('--join-samples', type=int, default=0,
                   help='samples after a loss not compared (concealment joins there)')
    a = p.parse_args()

    out_dir = os.path.join(a.work, 'out')
    subprocess.run(['rm', '-rf', a.work], check=True)
    os.makedirs(a.work)
    inputs = a.capture
    if a.split:
        subprocess.run(['editcap', '-c', str(a.split), a.capture[0],
                        os.path.join(a.work, 'part.pcap')], check=True)
        inputs = sorted(os.path.join(a.work, f) for f in os.listdir(a.work) if f.startswith('part'))
        print(f'{len(inputs)} parts')

    def limit():
        if a.fsize_limit:
            import resource
            import signal
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a failed write, not a killed process
            resource.setrlimit(resource.RLIMIT_FSIZE, (a.fsize_limit, a.fsize_limit))

    run = subprocess.run([a.tool, 'extract', *inputs, '-o', out_dir, '--json', *a.tool_arg],
                         capture_output=True, text=True, preexec_fn=limit)
    sys.stderr.write(run.stderr)
    if run.returncode != a.expect_status:
        fail(f'exit status {run.returncode}, expected {a.expect_status}')
    if a.expect_error and not re.search(a.expect_error, run.stderr):
        fail(f'stderr does not match {a.expect_error!r}')
    written = os.listdir(out_dir) if os.path.isdir(out_dir) else []
    leftovers = [f for f in written if f.startswith('.')]
    if leftovers:
        fail(f'temporary files left behind: {leftovers}')
    if a.fsize_limit and written:
        fail(f'files left after failed writes: {written}')
    report = json.loads(run.stdout)
    streams = report['streams']
    if a.streams is not None and len(streams) != a.streams:
        fail(f'{len(streams)} streams reported, expected {a.streams}')
    if not streams:
        return

    capture = a.capture[0]
    theirs = tshark_streams(capture, a.tshark_arg)
    packets = tshark_packets(capture, a.tshark_arg) if (a.audio or a.mix) else {}
    print(f'{"stream":<52} {"packets":>13} {"lost":>11} {"max delta ms":>19} '
          f'{"mean jitter ms":>15} {"max jitter ms":>15}')
    for s in streams:
        key = (s['source'], s['destination'], int(s['ssrc'], 16))
        t = theirs.get(key)
        if t is None:
            fail(f'tshark does not list {key}')
        name = f"{s['source']} -> {s['destination']} {s['ssrc']}"
        print(f"{name:<52} {s['packets']:>6}/{t['packets']:<6} {s['lost']:>5}/{t['lost']:<5} "
              f"{s['max_delta_ms']:>9.3f}/{t['max_delta']:<9.3f} "
              f"{s['mean_jitter_ms']:>7.3f}/{t['mean_jitter']:<7.3f} "
              f"{s['max_jitter_ms']:>7.3f}/{t['max_jitter']:<7.3f}")
        if s['packets'] != t['packets'] or s['lost'] != t['lost']:
            fail(f'{name}: packets/lost {s["packets"]}/{s["lost"]}, tshark {t["packets"]}/{t["lost"]}')
        if abs(s['max_delta_ms'] - t['max_delta']) > 0.002:
            fail(f'{name}: max delta {s["max_delta_ms"]}, tshark {t["max_delta"]}')
        # tshark prints 3 decimals; the requirement is 0.1 ms, we hold far closer.
        for ours, mine in (('mean_jitter_ms', 'mean_jitter'), ('max_jitter_ms', 'max_jitter')):
            if t[mine] > 0 and abs(s[ours] - t[mine]) > 0.002:
                fail(f'{name}: {ours} {s[ours]}, tshark {t[mine]}')
        if a.audio:
            if not s['file']:
                fail(f'{name}: no WAV written')
            print('  ' + check_audio(s, packets[key], a.payload_decoder, a.join_samples, a.concealed))
    if a.mix:
        check_mix(streams, packets)


if __name__ == '__main__':
    main()
