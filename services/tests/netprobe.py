#!/usr/bin/env python3
"""Asks the player's media server and mDNS responder as a client on its network does.

  netprobe.py ssdp ADDR [SECONDS]       M-SEARCH for a media server, sent out of the
                                        interface of ADDR; prints the LOCATION answered
  netprobe.py mdns ADDR NAME [SECONDS]  the A record of NAME (zelplayer.local); prints
                                        the address answered
  netprobe.py banner ADDR PORT          the first line a TCP server sends (FTP's 220)
  netprobe.py timewait ADDR FIRST LAST  leaves a closed client connection (TIME_WAIT,
                                        no SO_REUSEADDR) on each free port FIRST..LAST of
                                        ADDR, as root clients' reserved ports are left;
                                        prints how many
Exit status 0 on an answer, 1 when none came in time. Multicast leaves through ADDR's
interface only: the player's own namespace.
"""
import socket
import struct
import sys
import time


def ask(addr, group, port, query, parse, seconds):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(addr))
    s.settimeout(0.25)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        s.sendto(query, (group, port))
        try:
            while True:
                data, _ = s.recvfrom(4096)
                got = parse(data)
                if got:
                    return got
        except (socket.timeout, OSError):
            pass
    return None


def ssdp(addr, seconds):
    query = (b'M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n'
             b'MAN: "ssdp:discover"\r\nMX: 1\r\n'
             b'ST: urn:schemas-upnp-org:device:MediaServer:1\r\n\r\n')

    def parse(data):
        for line in data.decode('latin-1').split('\r\n'):
            if line.upper().startswith('LOCATION:'):
                return line.split(':', 1)[1].strip()
        return None
    return ask(addr, '239.255.255.250', 1900, query, parse, seconds)


def mdns(addr, name, seconds):
    labels = b''.join(bytes([len(p)]) + p for p in name.encode().split(b'.'))
    # One question, class IN with the unicast-response bit: the answer comes here.
    query = struct.pack('>6H', 0x2a, 0, 1, 0, 0, 0) + labels + b'\0' + struct.pack('>HH', 1, 0x8001)

    def parse(data):
        answers = struct.unpack('>H', data[6:8])[0]
        # An A record's data is its last four bytes when it is the one answer.
        if answers and len(data) >= 16 and struct.unpack('>H', data[-6:-4])[0] == 4:
            return socket.inet_ntoa(data[-4:])
        return None
    return ask(addr, '224.0.0.251', 5353, query, parse, seconds)


def banner(addr, port):
    try:
        with socket.create_connection((addr, port), timeout=3) as s:
            return s.makefile('rb').readline().decode('latin-1').strip()
    except OSError:
        return None


def timewait(addr, first, last):
    listener = socket.socket()
    listener.bind((addr, 0))
    listener.listen(64)
    n = 0
    for port in range(first, last + 1):
        client = socket.socket()
        try:
            client.bind((addr, port))
        except OSError:
            client.close()
            continue
        client.connect(listener.getsockname())
        server, _ = listener.accept()
        # The side that closes first keeps TIME_WAIT: the client, as after an RPC call.
        client.close()
        server.recv(1)
        server.close()
        n += 1
    return str(n)


def main(argv):
    if len(argv) >= 3 and argv[1] == 'ssdp':
        got = ssdp(argv[2], float(argv[3]) if len(argv) > 3 else 5)
    elif len(argv) >= 4 and argv[1] == 'mdns':
        got = mdns(argv[2], argv[3], float(argv[4]) if len(argv) > 4 else 5)
    elif len(argv) == 4 and argv[1] == 'banner':
        got = banner(argv[2], int(argv[3]))
    elif len(argv) == 5 and argv[1] == 'timewait':
        got = timewait(argv[2], int(argv[3]), int(argv[4]))
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if got:
        print(got)
        return 0
    return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
