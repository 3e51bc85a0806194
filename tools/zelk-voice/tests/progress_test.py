#!/usr/bin/env python3
"""The progress bar as a terminal shows it.

zelk-voice runs with stdout and stderr on a pseudo-terminal of a given width
while its input arrives slowly through a pipe. The bar must redraw in place
(carriage return, never a new line) within the width, only move forward, and
be erased before the result line appears.

    progress_test.py ZELK_VOICE
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import fcntl

RATE = 8000
SECONDS = 2
CHUNKS = 20


def wav_header(samples):
    data = samples * 2
    return (b"RIFF" + struct.pack("<I", 36 + data) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16) + b"data" +
            struct.pack("<I", data))


def run_on_terminal(tool, columns, workdir):
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    proc = subprocess.Popen([tool, "encode", "-c", "ima", "-", "-o", "out.zvf"],
                            stdin=subprocess.PIPE, stdout=slave, stderr=slave, cwd=workdir)
    os.close(slave)
    output = bytearray()

    def read_all():
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal's other end closed
                return
            if not chunk:
                return
            output.extend(chunk)

    reader = threading.Thread(target=read_all)
    reader.start()
    samples = RATE * SECONDS
    proc.stdin.write(wav_header(samples))
    block = b"\x10\x00" * (samples // CHUNKS)
    for _ in range(CHUNKS):
        proc.stdin.write(block)
        proc.stdin.flush()
        time.sleep(SECONDS / CHUNKS * 0.8)
    proc.stdin.close()
    status = proc.wait(timeout=60)
    reader.join(timeout=10)
    os.close(master)
    return status, output.decode("utf-8", "replace")


def check(tool, columns, expect_bar):
    failures = []
    with tempfile.TemporaryDirectory() as workdir:
        status, text = run_on_terminal(tool, columns, workdir)
    if status != 0:
        return [f"{columns} columns: exit status {status}: {text!r}"]
    result = text.find("standard input -> out.zvf")
    if result < 0:
        return [f"{columns} columns: no result line in {text!r}"]
    before = text[:result]
    if "\n" in before:
        failures.append(f"{columns} columns: the bar started a new line: {before!r}")
    if not before.endswith("\r\x1b[K"):
        failures.append(f"{columns} columns: the bar was not erased before the result: {before!r}")
    draws = [s[:-3] if s.endswith("\x1b[K") else s for s in before.split("\r")]
    draws = [d for d in draws if d]
    for d in draws:
        if len(d) >= columns:
            failures.append(f"{columns} columns: a redraw of {len(d)} characters: {d!r}")
    percents = [int(m.group(1)) for d in draws for m in [re.search(r"(\d+)%", d)] if m]
    if len(percents) < 3:
        failures.append(f"{columns} columns: only {len(percents)} redraws: {before!r}")
    elif percents != sorted(percents) or percents[0] >= percents[-1]:
        failures.append(f"{columns} columns: the bar did not only move forward: {percents}")
    has_bar = any("[" in d and "#" in d for d in draws)
    if has_bar != expect_bar:
        failures.append(f"{columns} columns: bar drawn {has_bar}, expected {expect_bar}: {draws}")
    return failures


def main():
    tool = sys.argv[1]
    failures = check(tool, 80, True) + check(tool, 40, True) + check(tool, 16, False)
    for f in failures:
        print("FAIL:", f)
    if failures:
        return 1
    print("progress bar: in place, within the width, forward only, erased before results")
    return 0


if __name__ == "__main__":
    sys.exit(main())
