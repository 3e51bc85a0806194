#!/usr/bin/env python3
"""One SIP call over loopback for the extract fixtures: an INVITE with an SDP
offer, a 200 OK with the answer, ACK, speech both ways from two ffmpeg
processes (RTP with a dynamic payload type), then BYE and 200 OK.

  sip_call.py udp|tcp PT ENCODING FFMPEG_CODEC CALLER.wav CALLEE.wav BASEPORT

FFMPEG_CODEC zelk:dvi4 or zelk:adpcm2 sends with $ZELK_RTP_SENDER instead of ffmpeg.

SIP runs between BASEPORT and BASEPORT+2, the caller's audio is received on
BASEPORT+10, the callee's on BASEPORT+20. TCP messages go out in two segments each.
"""
import os
import socket
import subprocess
import sys
import threading
import time

transport, pt, encoding, ffcodec, caller_wav, callee_wav, base = sys.argv[1:8]
base = int(base)
HOST = '127.0.0.1'
SIP_A, SIP_B, RTP_A, RTP_B = base, base + 2, base + 10, base + 20
CALL_ID = f'zelk-fixture-{base}@{HOST}'


def sdp(port, session):
    return (f'v=0\r\no=- {session} 1 IN IP4 {HOST}\r\ns=-\r\nc=IN IP4 {HOST}\r\nt=0 0\r\n'
            f'm=audio {port} RTP/AVP {pt} 101\r\na=rtpmap:{pt} {encoding}/8000\r\n'
            f'a=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\na=ptime:20\r\n')


def message(first, cseq, body='', proto='UDP'):
    head = (f'{first}\r\nVia: SIP/2.0/{proto} {HOST}:{SIP_A};branch=z9hG4bK{cseq}x\r\n'
            f'From: <sip:alice@{HOST}>;tag=a1\r\nTo: <sip:bob@{HOST}>;tag=b2\r\n'
            f'Call-ID: {CALL_ID}\r\nCSeq: {cseq}\r\nMax-Forwards: 70\r\n')
    if body:
        head += 'Content-Type: application/sdp\r\n'
    return (head + f'Content-Length: {len(body)}\r\n\r\n' + body).encode()


def ffmpeg(wav, dest, local):
    if ffcodec.startswith('zelk:'):  # the RTP component's sender (DVI4, two-bit)
        ssrc = str(0x10000 * dest + local)
        return subprocess.Popen([os.environ['ZELK_RTP_SENDER'], ffcodec[5:], pt, ssrc, wav,
                                 HOST, str(dest), str(local)])
    return subprocess.Popen(
        ['ffmpeg', '-hide_banner', '-loglevel', 'error', '-re', '-i', wav,
         '-af', 'asetnsamples=160', '-c:a', ffcodec, '-payload_type', pt,
         '-f', 'rtp', f'rtp://{HOST}:{dest}?localrtpport={local}'],
        stdout=subprocess.DEVNULL)


invite = message(f'INVITE sip:bob@{HOST}:{SIP_B} SIP/2.0', '1 INVITE', sdp(RTP_A, 1),
                 transport.upper())
ok = message('SIP/2.0 200 OK', '1 INVITE', sdp(RTP_B, 2), transport.upper())
ack = message(f'ACK sip:bob@{HOST}:{SIP_B} SIP/2.0', '1 ACK', '', transport.upper())
bye = message(f'BYE sip:bob@{HOST}:{SIP_B} SIP/2.0', '2 BYE', '', transport.upper())
bye_ok = message('SIP/2.0 200 OK', '2 BYE', '', transport.upper())

if transport == 'udp':
    a = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    a.bind((HOST, SIP_A))
    b = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    b.bind((HOST, SIP_B))
    send_ab = lambda m: a.sendto(m, (HOST, SIP_B))
    send_ba = lambda m: b.sendto(m, (HOST, SIP_A))
else:
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((HOST, SIP_B))
    listener.listen(1)
    a = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    a.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    a.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    a.bind((HOST, SIP_A))
    accepted = []
    t = threading.Thread(target=lambda: accepted.append(listener.accept()[0]))
    t.start()
    a.connect((HOST, SIP_B))
    t.join()
    b = accepted[0]
    b.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def halves(sock, m):
        sock.sendall(m[:len(m) // 2])
        time.sleep(0.05)
        sock.sendall(m[len(m) // 2:])

    send_ab = lambda m: halves(a, m)
    send_ba = lambda m: halves(b, m)

send_ab(invite)
time.sleep(0.1)
send_ba(ok)
time.sleep(0.05)
send_ab(ack)
time.sleep(0.1)
procs = [ffmpeg(caller_wav, RTP_B, RTP_A)]
time.sleep(0.3)  # the callee starts speaking a little later
procs.append(ffmpeg(callee_wav, RTP_A, RTP_B))
for p in procs:
    p.wait()
time.sleep(0.1)
send_ab(bye)
time.sleep(0.05)
send_ba(bye_ok)
time.sleep(0.1)
a.close()
b.close()
