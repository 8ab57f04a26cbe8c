#!/usr/bin/env python3
"""A source client for icecast that sends a chained Ogg file (one logical
stream per title, as stations that change titles in Ogg send them), paced
in real time by the pages' granule positions, over and over.

    ogg_chain_source.py PORT MOUNT PASSWORD FILE RATE NAME
"""
import base64
import socket
import struct
import sys
import time

LEAD_SECONDS = 0.5  # sent ahead of real time, as encoders do


def pages_of(data):
    pages, at = [], 0
    while at + 27 <= len(data) and data[at:at + 4] == b"OggS":
        segments = data[at + 26]
        lacing = data[at + 27:at + 27 + segments]
        size = 27 + segments + sum(lacing)
        granule, = struct.unpack_from("<q", data, at + 6)
        first = (data[at + 5] & 2) != 0
        pages.append((data[at:at + size], granule, first))
        at += size
    return pages


def main():
    port, mount, password, path, rate, name = sys.argv[1:7]
    rate = float(rate)
    pages = pages_of(open(path, "rb").read())
    sock = socket.create_connection(("127.0.0.1", int(port)))
    auth = base64.b64encode(("source:" + password).encode()).decode()
    sock.sendall(("PUT %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nAuthorization: Basic %s\r\n"
                  "Content-Type: application/ogg\r\nIce-Name: %s\r\nIce-Public: 0\r\n\r\n"
                  % (mount, port, auth, name)).encode())
    answer = b""
    while b"\r\n\r\n" not in answer:
        chunk = sock.recv(4096)
        if not chunk:
            sys.exit("icecast closed the connection: %r" % answer)
        answer += chunk
    if b" 200" not in answer.split(b"\r\n")[0]:
        sys.exit("icecast refused the source: %r" % answer)
    start = time.monotonic()
    played = 0.0  # seconds of the chains sent before this one
    while True:
        chain_start, chain_end = played, played
        for page, granule, first in pages:
            if first:
                played = chain_end
                chain_start = played
            if granule > 0:
                chain_end = chain_start + granule / rate
                delay = start + chain_end - LEAD_SECONDS - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            sock.sendall(page)
        played = chain_end


if __name__ == "__main__":
    main()
