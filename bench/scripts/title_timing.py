#!/usr/bin/env python3
"""How far a new title is from its sound.

Serves a tone that turns from 440 Hz to 880 Hz exactly where the stream's
title changes, the way icecast serves a live mount (a 64 KiB burst, then
real time), once as MP3 with ICY metadata and once as a chained Ogg Vorbis
stream. korvanel-cli plays it with --pcm-out, which writes what the sound
card would get at the card's pace. When the new title's log line appears,
the samples written so far say where the card is; the written file says
where the 880 Hz tone begins. The difference is printed in seconds:
positive means the title came after its sound, negative before it.

    python3 bench/scripts/title_timing.py [--cli build/korvanel-cli] [--runs 3]
"""

import argparse
import array
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
BURST = 64 * 1024
LOW_SECONDS = 8.0
HIGH_SECONDS = 6.0


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-y", "-v", "error", *args], check=True)


def tone(folder, frequency, seconds, codec, extension, title):
    path = os.path.join(folder, f"{frequency}.{extension}")
    extra = ["-write_xing", "0", "-id3v2_version", "0"] if codec == "libmp3lame" else []
    ffmpeg("-f", "lavfi", "-i", f"sine=frequency={frequency}:sample_rate={RATE}:duration={seconds}",
           "-ac", "2", "-c:a", codec, "-b:a", "128k", "-metadata", f"title={title}", *extra, path)
    with open(path, "rb") as f:
        return f.read()


def metadata_block(title):
    text = f"StreamTitle='{title}';".encode()
    units = (len(text) + 15) // 16
    return bytes([units]) + text + b"\0" * (units * 16 - len(text))


def icy_stream(low, high):
    """The MP3 bytes with ICY blocks, and the interval: the switch lands on a block."""
    pad = (-len(low)) % 4  # a few bytes the decoder skips, so a block lands on the switch
    audio = low + b"\0" * pad + high
    switch = len(low) + pad
    interval = switch // 4
    out = bytearray()
    for at in range(0, len(audio), interval):
        out += audio[at:at + interval]
        if at + interval <= len(audio):
            out += metadata_block("Low Tone" if at + interval < switch else "High Tone")
    return bytes(out), interval, len(audio) / (LOW_SECONDS + HIGH_SECONDS)


def serve(body, head, bytes_per_second):
    """A one-shot server: head, the burst, then the rest at real time."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)

    def run():
        connection, _ = listener.accept()
        try:
            connection.recv(4096)
            connection.sendall(head)
            connection.sendall(body[:BURST])
            start = time.monotonic()
            sent = BURST
            while sent < len(body):
                piece = body[sent:sent + int(bytes_per_second / 20)]
                connection.sendall(piece)
                sent += len(piece)
                due = start + (sent - BURST) / bytes_per_second
                time.sleep(max(0.0, due - time.monotonic()))
            time.sleep(30)
        except OSError:
            pass
        finally:
            connection.close()
            listener.close()

    threading.Thread(target=run, daemon=True).start()
    return f"http://127.0.0.1:{listener.getsockname()[1]}/stream"


def switch_second(pcm_path):
    """Where the left channel's tone first passes 660 Hz after the low tone, from
    upward zero crossings per 20 ms of sound."""
    samples = array.array("h")
    with open(pcm_path, "rb") as f:
        samples.frombytes(f.read())
    left = samples[0::2]
    window = RATE // 50
    seen_low = False
    for start in range(0, len(left) - window, window // 4):
        part = left[start:start + window]
        if max(abs(v) for v in part) < 2000:
            continue  # silence or the decoder's first frames
        frequency = sum(1 for a, b in zip(part, part[1:]) if a < 0 <= b) * 50
        if frequency < 660:
            seen_low = True
        elif seen_low:
            return start / RATE
    return None


def measure(cli, url, folder, name):
    pcm = os.path.join(folder, f"{name}.pcm")
    env = dict(os.environ, KORVANEL_HOME=folder, KORVANEL_UPDATE_SERVER="http://127.0.0.1:1")
    process = subprocess.Popen([cli, "play", "--seconds", str(int(LOW_SECONDS + 3)), "--pcm-out", pcm, url],
                               stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env, text=True)
    shown = None
    for line in process.stderr:
        if "High Tone" in line and shown is None:
            shown = os.path.getsize(pcm) / 4 / RATE
    process.wait()
    heard = switch_second(pcm)
    if shown is None or heard is None:
        return None
    return shown - heard


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default="build/korvanel-cli")
    parser.add_argument("--runs", type=int, default=3)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        low = tone(folder, 440, LOW_SECONDS, "libmp3lame", "mp3", "Low Tone")
        high = tone(folder, 880, HIGH_SECONDS, "libmp3lame", "mp3", "High Tone")
        mp3, interval, mp3_rate = icy_stream(low, high)
        mp3_head = (f"ICY 200 OK\r\nicy-name: Timing\r\nContent-Type: audio/mpeg\r\n"
                    f"icy-metaint: {interval}\r\n\r\n").encode()
        ogg = (tone(folder, 440, LOW_SECONDS, "libvorbis", "ogg", "Low Tone") +
               tone(folder, 880, HIGH_SECONDS, "libvorbis", "ogg", "High Tone"))
        ogg_head = b"HTTP/1.0 200 OK\r\nicy-name: Timing\r\nContent-Type: application/ogg\r\n\r\n"
        ogg_rate = len(ogg) / (LOW_SECONDS + HIGH_SECONDS)
        worst = 0.0
        for name, body, head, rate in (("mp3", mp3, mp3_head, mp3_rate), ("ogg", ogg, ogg_head, ogg_rate)):
            for run in range(options.runs):
                difference = measure(options.cli, serve(body, head, rate), folder, f"{name}{run}")
                if difference is None:
                    print(f"{name} run {run + 1}: no title or no tone change seen")
                    worst = float("inf")
                    continue
                print(f"{name} run {run + 1}: title {difference:+.3f} s from its sound")
                worst = max(worst, abs(difference))
        print(f"largest difference: {worst:.3f} s")
        return 0 if worst < 0.3 else 1


if __name__ == "__main__":
    sys.exit(main())
