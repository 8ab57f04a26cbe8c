#!/usr/bin/env python3
"""korvanel-cli side by side with ffmpeg and mpv on the same local streams.

The stream server sends a burst, then the paced data in 4 KiB blocks, as a
radio server passes on its source's data.

Figures, each printed with the ratios against the other players:
  1. time from process start to the first non-silent sample on standard
     output (median of several runs), MP3 and Ogg, from a fast local stream
     server (answers at once, 64 KiB burst, then paced at the bit rate), and
     MP3 from the same server over TLS (https://, a test CA the script
     makes; korvanel checks the certificate, which the others by default
     do not), with the https/http ratio of each player;
  2. with icecast2 installed: time from our own icecast's first audio byte
     to the first non-silent sample (a relay in front of the server notes
     that byte), and for korvanel the time from a source drop (stopped and
     restarted at once with another tone) to the new tone;
  3. processor time and peak memory for 30 s of playing the MP3 stream.

Run from the repository root after `make build`:
    python3 bench/scripts/player_compare.py [--runs N] [--seconds S]
mpv is optional (apt-get install mpv); without it its column is left out.
Every server runs on 127.0.0.1 and stops with the script.
"""
import argparse
import os
import ssl
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import local_icecast

BURST = 64 * 1024
CHUNK = 4096  # a radio server passes its source's data on in blocks like this


def loopback_listener():
    """A listening socket on a free 127.0.0.1 port, and that port."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    return listener, listener.getsockname()[1]


class PacedStreamServer:
    """Serves one file in a loop: ICY head at once, a burst, then paced."""

    def __init__(self, data, content_type, bitrate_kbps, tls=None):
        self.tls = tls
        self.data = data
        self.content_type = content_type
        self.bytes_per_second = bitrate_kbps * 1000 // 8
        self.listener, self.port = loopback_listener()
        self.stopping = False
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self, name):
        scheme = "https" if self.tls else "http"
        return f"{scheme}://127.0.0.1:{self.port}/{name}"

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
            if self.tls:
                connection = self.tls.wrap_socket(connection, server_side=True)
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


def loud(data):
    """Whether 16-bit samples in `data` (even length) carry sound."""
    return any(abs(v) > 64 for v in memoryview(data).cast("h"))


def first_sound_at(command, bound=10.0):
    """(start, moment of the first non-silent 16-bit sample on stdout), monotonic; None if none came."""
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
            if loud(data[:usable]):
                result = time.monotonic()
                break
            carry = data[usable:]
    finally:
        process.kill()
        process.wait()
    return start, result


def first_sound_ms(command, bound=10.0):
    """Milliseconds from start until stdout carries a non-silent 16-bit sample."""
    start, sound = first_sound_at(command, bound)
    return None if sound is None else (sound - start) * 1000.0


class FirstAudioByteRelay:
    """A loopback relay in front of a server that notes when the first byte
    after the response head reaches the player, so that a player's time to
    sound can be measured from the server's first audio byte."""

    def __init__(self, upstream_port):
        self.upstream_port = upstream_port
        self.listener, self.port = loopback_listener()
        self.first_audio_byte = None
        threading.Thread(target=self._accept, daemon=True).start()

    def stop(self):
        self.listener.close()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            try:
                server = socket.create_connection(("127.0.0.1", self.upstream_port), timeout=5)
            except OSError:
                client.close()
                continue
            threading.Thread(target=self._pump, args=(client, server, False), daemon=True).start()
            threading.Thread(target=self._pump, args=(server, client, True), daemon=True).start()

    def _pump(self, source, target, answer):
        head = b""
        in_body = not answer
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if in_body and answer and self.first_audio_byte is None:
                    self.first_audio_byte = time.monotonic()
                if not in_body:
                    head += data
                    end = head.find(b"\r\n\r\n")
                    if end >= 0:
                        in_body = True
                        if len(head) > end + 4 and self.first_audio_byte is None:
                            self.first_audio_byte = time.monotonic()
                target.sendall(data)
        except OSError:
            pass
        finally:
            for side in (source, target):
                try:
                    side.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                side.close()


def after_first_audio_byte_ms(command_for_url, upstream_port, path, bound=15.0):
    """Milliseconds from the server's first audio byte to the first non-silent sample."""
    relay = FirstAudioByteRelay(upstream_port)
    try:
        _, sound = first_sound_at(command_for_url(f"http://127.0.0.1:{relay.port}{path}"), bound)
        if sound is None or relay.first_audio_byte is None:
            return None
        return (sound - relay.first_audio_byte) * 1000.0
    finally:
        relay.stop()


def dominant_tone(data):
    """Rough frequency of the left channel of 44.1 kHz stereo 16-bit samples, or 0 for silence."""
    samples = memoryview(data).cast("h")[::2]
    if len(samples) < 2 or not any(abs(v) > 64 for v in samples):
        return 0
    crossings = sum(1 for a, b in zip(samples, samples[1:]) if (a < 0) != (b < 0))
    return crossings * 44100 / 2 / len(samples)


def drop_to_sound(cli, icecast, settle=5.0, bound=30.0):
    """Plays the icecast mount, stops its source and restarts it at once with
    another tone. Returns (ms from the drop to the new tone, ms from the end of
    the old tone's buffered audio to the new tone), or None."""
    process = subprocess.Popen([cli, "play", "--pcm-out", "-", icecast.url()], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    block = 3528  # 20 ms of 44.1 kHz stereo
    dropped_at = None
    last_old = None
    try:
        start = time.monotonic()
        carry = b""
        while time.monotonic() - start < bound:
            chunk = os.read(process.stdout.fileno(), 65536)
            if not chunk:
                return None
            data = carry + chunk
            now = time.monotonic()
            while len(data) >= block:
                tone = dominant_tone(data[:block])
                data = data[block:]
                if dropped_at is None:
                    continue
                if 300 < tone < 600:
                    last_old = now
                elif tone > 700:
                    return ((now - dropped_at) * 1000.0,
                            (now - (last_old or dropped_at)) * 1000.0)
            carry = data
            if dropped_at is None and now - start > settle:
                icecast.stop_source()
                dropped_at = time.monotonic()
                if not icecast.start_source(frequency=880):
                    return None
        return None
    finally:
        process.kill()
        process.wait()


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


def player_commands(cli, url, seconds=None, mpv=True):
    """The command of each player: to first sound on stdout, or for `seconds` without output."""
    commands = {
        "korvanel": [cli, "play", "--pcm-out", "-", url] if seconds is None else
                    [cli, "play", "--seconds", str(seconds), "--pcm-out", os.devnull, url],
        "ffmpeg": ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "quiet", "-i", url, "-f", "s16le", "-"]
                  if seconds is None else
                  ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "quiet", "-i", url, "-t", str(seconds),
                   "-f", "null", "-"],
    }
    if mpv:
        commands["mpv"] = (["mpv", "--no-config", "--really-quiet", "--ao=pcm", "--ao-pcm-file=/dev/stdout",
                            "--ao-pcm-waveheader=no", url] if seconds is None else
                           ["mpv", "--no-config", "--really-quiet", "--ao=null", f"--length={seconds}", url])
    return commands


def test_certificates(folder):
    """A test CA and a certificate for localhost and 127.0.0.1; (CA file, server context)."""
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], check=True, capture_output=True)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    path = lambda name: os.path.join(folder, name)
    with open(path("ext.cnf"), "w") as ext:
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("req", "-x509", *key, "-days", "2", "-subj", "/CN=Bench CA", "-keyout", path("ca.key"),
            "-out", path("ca.pem"))
    openssl("req", *key, "-subj", "/CN=localhost", "-keyout", path("server.key"), "-out", path("server.csr"))
    openssl("x509", "-req", "-days", "2", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey",
            path("ca.key"), "-CAcreateserial", "-extfile", path("ext.cnf"), "-out", path("server.pem"))
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(path("server.pem"), path("server.key"))
    return path("ca.pem"), context


def make_tone(path, codec, bitrate):
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
                    "-i", "sine=frequency=440:sample_rate=44100:duration=20", "-ac", "2", "-c:a", codec,
                    "-b:a", f"{bitrate}k", path], check=True)
    with open(path, "rb") as f:
        return f.read()


def icecast_figures(args, players, folder):
    """Time to sound after icecast's first audio byte, and drop to sound again."""
    os.chmod(folder, 0o755)  # icecast, run as nobody, must reach its folder inside
    icecast = local_icecast.Icecast(os.path.join(folder, "icecast"))
    os.makedirs(icecast.folder)
    try:
        if not icecast.start() or not icecast.start_source():
            print("  icecast2 did not start; its figures are left out")
            return
        print("Time to first sound after icecast's first audio byte (ms, median of %d runs)" % args.runs)
        medians = {}
        for name in players(icecast.url()):
            times = [t for t in (after_first_audio_byte_ms(lambda url: players(url)[name], icecast.port,
                                                           icecast.mount) for _ in range(args.runs))
                     if t is not None]
            medians[name] = statistics.median(times) if times else float("nan")
        print("  MP3  " + "  ".join("%s %.1f" % (n, v) for n, v in medians.items()))
        print("Drop to sound: source stopped and restarted at once (korvanel, ms)")
        for run in range(3):
            figures = drop_to_sound(args.cli, icecast)
            if figures is None:
                print("  run %d: no sound again within the bound" % (run + 1))
            else:
                print("  run %d: %.0f after the drop, %.0f beyond the buffered audio" % (run + 1, *figures))
    finally:
        icecast.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--cli", default=os.path.join("build", "korvanel-cli"))
    parser.add_argument("--cpu-runs", type=int, default=3)
    parser.add_argument("--skip-icecast", action="store_true")
    args = parser.parse_args()

    have_mpv = shutil.which("mpv") is not None
    home = tempfile.mkdtemp(prefix="korvanel-bench-")
    os.environ["KORVANEL_HOME"] = home
    os.environ["KORVANEL_UPDATE_SERVER"] = "http://127.0.0.1:1"
    folder = tempfile.mkdtemp(prefix="korvanel-bench-audio-")
    ca_file, tls = test_certificates(folder)
    os.environ["SSL_CERT_FILE"] = ca_file
    mp3 = make_tone(os.path.join(folder, "t.mp3"), "libmp3lame", 128)
    streams = {
        "MP3": PacedStreamServer(mp3, "audio/mpeg", 128),
        "Ogg": PacedStreamServer(make_tone(os.path.join(folder, "t.ogg"), "libvorbis", 128),
                                 "application/ogg", 128),
        "MP3s": PacedStreamServer(mp3, "audio/mpeg", 128, tls),
    }

    def players(url, seconds=None):
        commands = player_commands(args.cli, url, seconds, mpv=False)
        # The yardstick: a program that only loads FFmpeg and decodes up to
        # the first sound (built beside the benchmarks).
        floor = os.path.join(os.path.dirname(args.cli), "bench", "ffmpeg_first_frame")
        if seconds is None and os.path.exists(floor):
            commands["floor"] = [floor, url]
        if have_mpv:
            commands["mpv"] = player_commands(args.cli, url, seconds)["mpv"]
        return commands

    print("Time to first sound (ms, median of %d runs; floor: a program that only loads FFmpeg "
          "and decodes to the first sound)" % args.runs)
    by_kind = {}
    for kind, server in streams.items():
        url = server.url("tone." + kind.lower().rstrip("s"))
        medians = {}
        for name, command in players(url).items():
            times = [t for t in (first_sound_ms(command) for _ in range(args.runs)) if t is not None]
            medians[name] = statistics.median(times) if times else float("nan")
        line = "  %-4s " % kind + "  ".join("%s %.1f" % (n, v) for n, v in medians.items())
        ratios = "  ".join("korvanel/%s %.2f" % (n, medians["korvanel"] / v)
                           for n, v in medians.items() if n != "korvanel" and v == v and v > 0)
        print(line + "   " + ratios)
        by_kind[kind] = medians
    print("  https/http: " + "  ".join("%s %.2f" % (n, by_kind["MP3s"][n] / v)
                                       for n, v in by_kind["MP3"].items() if v == v and v > 0))

    if not args.skip_icecast and shutil.which("icecast2"):
        icecast_figures(args, players, folder)

    print("Processor time and peak memory for %d s of MP3 (median of %d runs)" % (args.seconds, args.cpu_runs))
    url = streams["MP3"].url("tone.mp3")
    usage = {}
    for name, command in players(url, args.seconds).items():
        runs = [usage_for(command, args.seconds) for _ in range(args.cpu_runs)]
        usage[name] = (statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs))
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
