#!/usr/bin/env python3
"""korvanel-cli side by side with ffmpeg and mpv on the same local streams.

The stream server sends a burst, then the paced data in 4 KiB blocks, as a
radio server passes on its source's data.

Figures, each printed with the ratios against the other players:
  1. time from process start to the first non-silent sample on standard
     output (median of several runs), MP3 and Ogg, from a fast local stream
     server (answers at once, 64 KiB burst, then paced at the bit rate);
  2. processor time and peak memory for 30 s of playing the MP3 stream.

Run from the repository root after `make build`:
    python3 bench/scripts/player_compare.py [--runs N] [--seconds S]
mpv is optional (apt-get install mpv); without it its column is left out.
Every server runs on 127.0.0.1 and stops with the script.
"""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BURST = 64 * 1024
CHUNK = 4096  # a radio server passes its source's data on in blocks like this


class PacedStreamServer:
    """Serves one file in a loop: ICY head at once, a burst, then paced."""

    def __init__(self, data, content_type, bitrate_kbps):
        self.data = data
        self.content_type = content_type
        self.bytes_per_second = bitrate_kbps * 1000 // 8
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.stopping = False
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self, name):
        return f"http://127.0.0.1:{self.port}/{name}"

    def stop(self):
        self.stopping = True
        self.listener.close()

    def _accept(self):
        while not self.stopping:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        try:
            connection.settimeout(5)
            request = b""
            while b"\r\n\r\n" not in request and len(request) < 65536:
                chunk = connection.recv(4096)
                if not chunk:
                    return
                request += chunk
            head = (f"ICY 200 OK\r\nicy-name:Bench Tone\r\nContent-Type:{self.content_type}\r\n"
                    f"icy-br:{self.bytes_per_second * 8 // 1000}\r\n\r\n")
            connection.sendall(head.encode())
            position = 0
            sent = 0
            start = time.monotonic()
            deadline = start + 120
            while not self.stopping and time.monotonic() < deadline:
                allowed = BURST + int((time.monotonic() - start) * self.bytes_per_second)
                if allowed - sent < min(CHUNK, BURST) and sent >= BURST:
                    time.sleep(0.01)
                    continue
                size = min(allowed - sent, 8192)
                piece = self.data[position:position + size]
                if len(piece) < size:
                    piece += self.data[:size - len(piece)]
                position = (position + size) % len(self.data)
                connection.sendall(piece)
                sent += size
        except OSError:
            pass
        finally:
            connection.close()


def first_sound_ms(command, bound=10.0):
    """Milliseconds from start until stdout carries a non-silent 16-bit sample."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL)
    result = None
    carry = b""
    try:
        while time.monotonic() - start < bound:
            chunk = os.read(process.stdout.fileno(), 65536)
            if not chunk:
                break
            data = carry + chunk
            usable = len(data) - len(data) % 2
            samples = memoryview(data[:usable]).cast("h")
            if any(abs(s) > 64 for s in samples):
                result = (time.monotonic() - start) * 1000.0
                break
            carry = data[usable:]
    finally:
        process.kill()
        process.wait()
    return result


def usage_for(command, seconds):
    """Processor seconds and peak resident MB of one run of `seconds`."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL)
    killer = threading.Timer(seconds + 15, process.kill)
    killer.start()
    # wait4 gives this child's own figures, not the sum over all children.
    _, _, usage = os.wait4(process.pid, 0)
    killer.cancel()
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def make_tone(path, codec, bitrate):
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
                    "-i", "sine=frequency=440:sample_rate=44100:duration=20", "-ac", "2", "-c:a", codec,
                    "-b:a", f"{bitrate}k", path], check=True)
    with open(path, "rb") as f:
        return f.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--cli", default=os.path.join("build", "korvanel-cli"))
    args = parser.parse_args()

    have_mpv = shutil.which("mpv") is not None
    home = tempfile.mkdtemp(prefix="korvanel-bench-")
    os.environ["KORVANEL_HOME"] = home
    os.environ["KORVANEL_UPDATE_SERVER"] = "http://127.0.0.1:1"
    folder = tempfile.mkdtemp(prefix="korvanel-bench-audio-")
    streams = {
        "MP3": PacedStreamServer(make_tone(os.path.join(folder, "t.mp3"), "libmp3lame", 128), "audio/mpeg", 128),
        "Ogg": PacedStreamServer(make_tone(os.path.join(folder, "t.ogg"), "libvorbis", 128),
                                 "application/ogg", 128),
    }

    def players(url, seconds=None):
        commands = {
            "korvanel": [args.cli, "play", "--pcm-out", "-", url] if seconds is None else
                        [args.cli, "play", "--seconds", str(seconds), "--pcm-out", os.devnull, url],
            "ffmpeg": ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "quiet", "-i", url, "-f", "s16le", "-"]
                      if seconds is None else
                      ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "quiet", "-i", url, "-t", str(seconds),
                       "-f", "null", "-"],
        }
        if have_mpv:
            commands["mpv"] = (["mpv", "--no-config", "--really-quiet", "--ao=pcm", "--ao-pcm-file=/dev/stdout",
                                "--ao-pcm-waveheader=no", url] if seconds is None else
                               ["mpv", "--no-config", "--really-quiet", "--ao=null", f"--length={seconds}", url])
        return commands

    print("Time to first sound (ms, median of %d runs)" % args.runs)
    for kind, server in streams.items():
        url = server.url("tone." + kind.lower())
        medians = {}
        for name, command in players(url).items():
            times = [t for t in (first_sound_ms(command) for _ in range(args.runs)) if t is not None]
            medians[name] = statistics.median(times) if times else float("nan")
        line = "  %-4s " % kind + "  ".join("%s %.1f" % (n, v) for n, v in medians.items())
        ratios = "  ".join("korvanel/%s %.2f" % (n, medians["korvanel"] / v)
                           for n, v in medians.items() if n != "korvanel" and v == v and v > 0)
        print(line + "   " + ratios)

    print("Processor time and peak memory for %d s of MP3" % args.seconds)
    url = streams["MP3"].url("tone.mp3")
    usage = {name: usage_for(command, args.seconds) for name, command in players(url, args.seconds).items()}
    for name, (cpu, rss) in usage.items():
        print("  %-8s cpu %.2f s  peak %.1f MB" % (name, cpu, rss))
    for name, (cpu, rss) in usage.items():
        if name != "korvanel" and cpu > 0:
            print("  korvanel/%s cpu %.2f  memory %.2f" % (name, usage["korvanel"][0] / cpu, usage["korvanel"][1] / rss))
    for server in streams.values():
        server.stop()
    shutil.rmtree(home, ignore_errors=True)
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
