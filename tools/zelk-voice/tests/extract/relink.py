#!/usr/bin/env python3
"""Rewrites an Ethernet pcap for the extract fixtures, with nothing but the
pcap file format (and RFC 791/8200 for fragments):

  relink.py vlan IN OUT TAG[,TAG...]   802.1Q tags (two tags: 802.1ad outer, QinQ)
  relink.py null IN OUT                BSD loopback (DLT_NULL), family in little-endian
  relink.py loop IN OUT                OpenBSD loopback (DLT_LOOP), family in network order
  relink.py frag IN OUT SIZE           IPv4/IPv6 UDP datagrams over SIZE bytes cut into fragments,
                                       the fragments of each datagram written in reverse order
"""
import struct
import sys

ETHERNET, NULL, LOOP = 1, 0, 108


def read_pcap(path):
    with open(path, 'rb') as f:
        data = f.read()
    magic = struct.unpack('<I', data[:4])[0]
    if magic not in (0xa1b2c3d4, 0xa1b23c4d):
        sys.exit(f'{path}: not a little-endian classic pcap')
    link = struct.unpack('<I', data[20:24])[0]
    if link != ETHERNET:
        sys.exit(f'{path}: link type {link}, expected Ethernet')
    at, packets = 24, []
    while at + 16 <= len(data):
        sec, frac, incl, orig = struct.unpack('<IIII', data[at:at + 16])
        packets.append([sec, frac, data[at + 16:at + 16 + incl], orig])
        at += 16 + incl
    return data[:24], packets


def write_pcap(path, header, link, packets):
    with open(path, 'wb') as f:
        f.write(header[:20] + struct.pack('<I', link))
        for sec, frac, frame, orig in packets:
            f.write(struct.pack('<IIII', sec, frac, len(frame), orig))
            f.write(frame)


def checksum(b):
    s = sum(struct.unpack(f'!{len(b) // 2}H', b))
    while s > 0xffff:
        s = (s & 0xffff) + (s >> 16)
    return ~s & 0xffff


def fragments(frame, size, ident):
    """The frame's IP datagram as fragments carrying at most SIZE payload bytes each."""
    eth, etype = frame[:14], struct.unpack('!H', frame[12:14])[0]
    ip = frame[14:]
    if etype == 0x0800 and ip[9] == 17:
        hl = (ip[0] & 15) * 4
        total = struct.unpack('!H', ip[2:4])[0]
        body = ip[hl:total]
        if len(body) <= size:
            return [frame]
        out, step = [], size // 8 * 8
        for off in range(0, len(body), step):
            piece = body[off:off + step]
            more = off + step < len(body)
            h = bytearray(ip[:hl])
            struct.pack_into('!HHH', h, 2, hl + len(piece), ident & 0xffff,
                             (0x2000 if more else 0) | off // 8)
            struct.pack_into('!H', h, 10, 0)
            struct.pack_into('!H', h, 10, checksum(bytes(h)))
            out.append(eth + bytes(h) + piece)
        return out
    if etype == 0x86dd and ip[6] == 17:
        plen = struct.unpack('!H', ip[4:6])[0]
        body = ip[40:40 + plen]
        if len(body) <= size:
            return [frame]
        out, step = [], size // 8 * 8
        for off in range(0, len(body), step):
            piece = body[off:off + step]
            more = off + step < len(body)
            h = bytearray(ip[:40])
            h[6] = 44
            struct.pack_into('!H', h, 4, 8 + len(piece))
            frag = struct.pack('!BBHI', 17, 0, off | (1 if more else 0), ident)
            out.append(eth + bytes(h) + frag + piece)
        return out
    return [frame]


def main():
    mode, src, dst = sys.argv[1:4]
    header, packets = read_pcap(src)
    link, out = ETHERNET, []
    for n, (sec, frac, frame, orig) in enumerate(packets):
        if mode == 'vlan':
            tags = [int(t) for t in sys.argv[4].split(',')]
            inserted = b''
            for i, tag in enumerate(tags):
                tpid = 0x88a8 if i == 0 and len(tags) > 1 else 0x8100
                inserted += struct.pack('!HH', tpid, tag)
            # each tag: its TPID where the EtherType was, the EtherType moves behind it
            new = frame[:12] + inserted + frame[12:]
            out.append([sec, frac, new, orig + len(inserted)])
        elif mode in ('null', 'loop'):
            etype = struct.unpack('!H', frame[12:14])[0]
            family = 2 if etype == 0x0800 else 10 if mode == 'null' else 24
            head = struct.pack('<I' if mode == 'null' else '!I', family)
            out.append([sec, frac, head + frame[14:], orig - 10])
            link = NULL if mode == 'null' else LOOP
        elif mode == 'frag':
            pieces = fragments(frame, int(sys.argv[4]), 0x5000 + n)
            for piece in reversed(pieces):
                out.append([sec, frac, piece, len(piece)])
        else:
            sys.exit(f'unknown mode {mode}')
    write_pcap(dst, header, link, out)


if __name__ == '__main__':
    main()
