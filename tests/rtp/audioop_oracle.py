#!/usr/bin/python3
"""The G.711 payloads against Python 3.11's audioop, exhaustively.

    audioop_oracle.py DRIVER

Every 16-bit sample, in order and shuffled, is coded by DRIVER (the
g711_payload_driver program) into PCMA and PCMU payloads and compared byte
for byte with audioop.lin2alaw / lin2ulaw; every code, in many orders, is
decoded by DRIVER and compared with audioop.alaw2lin / ulaw2lin. Exits 1 on
any difference. Also prints how audioop's mu-law stands to the other way of
taking a negative sample's magnitude (the one's complement), for the record.
"""
import random
import struct
import subprocess
import sys
import warnings

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import audioop


def run(driver, mode, law, data):
    done = subprocess.run([driver, mode, law], input=data, capture_output=True, check=True)
    return done.stdout


def ulaw_ones_complement(x):
    """mu-law with a negative sample's magnitude taken as (NOT x) >> 2."""
    if x < 0:
        v, mask = (~x) >> 2, 0x7F
    else:
        v, mask = x >> 2, 0xFF
    v = min(v, 8159) + 33
    seg = v.bit_length() - 5
    if seg >= 9:
        return 0x7F ^ mask
    return (((seg - 1) << 4) | ((v >> seg) & 15)) ^ mask


def main():
    driver = sys.argv[1]
    rng = random.Random(2024)
    samples = list(range(-32768, 32768))
    shuffled = samples[:]
    rng.shuffle(shuffled)
    failures = 0
    for law, encode, decode in (("alaw", audioop.lin2alaw, audioop.alaw2lin),
                                ("ulaw", audioop.lin2ulaw, audioop.ulaw2lin)):
        before = failures
        for order in (samples, shuffled):
            pcm = struct.pack("<%dh" % len(order), *order)
            ours, theirs = run(driver, "encode", law, pcm), encode(pcm, 2)
            bad = [order[i] for i in range(len(order)) if ours[i:i + 1] != theirs[i:i + 1]]
            if len(ours) != len(theirs) or bad:
                print("%s encode: %d of %d samples differ from audioop, e.g. %s"
                      % (law, len(bad), len(order), bad[:8]))
                failures += 1
        codes = bytes(range(256)) + bytes(rng.randrange(256) for _ in range(20000))
        ours, theirs = run(driver, "decode", law, codes), decode(codes, 2)
        if ours != theirs:
            print("%s decode differs from audioop" % law)
            failures += 1
        if failures == before:
            print("%s: all 65536 samples code and all 256 codes decode as audioop's" % law)

    pcm = struct.pack("<65536h", *samples)
    theirs = audioop.lin2ulaw(pcm, 2)
    apart = [x for x in samples if ulaw_ones_complement(x) != theirs[x + 32768]]
    print("audioop's mu-law differs from the one's-complement formulation at %d inputs, "
          "all negative: %s; first %s, last %s"
          % (len(apart), all(x < 0 for x in apart), apart[:4], apart[-4:]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
