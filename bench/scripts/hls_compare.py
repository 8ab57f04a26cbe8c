#!/usr/bin/env python3
"""korvanel-cli beside ffmpeg and mpv on a local live HLS station.

ffmpeg's HLS muxer writes a live AAC tone (MPEG-TS, or fragmented MP4 with
--segments fmp4; 2 s segments, 5 in the list, old ones deleted) into a temporary folder; a threaded HTTP server on
127.0.0.1 serves it, with a master playlist naming the media playlist by a
relative address, as broadcasters publish it.

Figures:
  1. process start to the first non-silent sample on standard output
     (median of --runs), each player given the master playlist;
  2. processor time and peak memory over --seconds of playing;
  3. with --soak-minutes M (at least 7): korvanel-cli's resident memory
     sampled every 5 s while it plays for M minutes, from minute 6 (when
     the recorder's ring of recent stream data is full) to the end.

Run from the repository root after `make build`:
    python3 bench/scripts/hls_compare.py [--runs 7] [--seconds 60] [--soak-minutes 10] [--segments fmp4]
mpv is optional; without it its column is left out.
"""
import argparse
import functools
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from player_compare import first_sound_ms, player_commands, usage_for


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {".m3u8": "application/vnd.apple.mpegurl", ".ts": "video/mp2t", ".m4s": "video/iso.segment",
                      ".mp4": "video/mp4", "": "application/octet-stream"}

    def log_message(self, *arguments):
        pass


def serve(folder):
    handler = functools.partial(QuietHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def start_packager(folder, segments):
    fragmented = ["-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "init.mp4"] if segments == "fmp4" else []
    packager = subprocess.Popen(
        ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
         "sine=frequency=440:sample_rate=44100", "-ac", "2", "-c:a", "aac", "-b:a", "128k", "-f", "hls",
         "-hls_time", "2", "-hls_list_size", "5", "-hls_flags", "delete_segments+temp_file"] + fragmented +
        [os.path.join(folder, "live.m3u8")])
    with open(os.path.join(folder, "master.m3u8"), "w") as master:
        master.write("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=140000,CODECS=\"mp4a.40.2\"\nlive.m3u8\n")
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        try:
            with open(os.path.join(folder, "live.m3u8")) as playlist:
                if playlist.read().count("#EXTINF") >= 5:
                    return packager
        except OSError:
            pass
        time.sleep(0.2)
    packager.kill()
    raise SystemExit("the HLS packager wrote no playlist")


def soak(cli, url, home, minutes):
    process = subprocess.Popen([cli, "play", "--seconds", str(int(minutes * 60)), "--pcm-out", os.devnull, url],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=dict(os.environ, KORVANEL_HOME=home))
    samples = []
    start = time.monotonic()
    while process.poll() is None:
        try:
            with open(f"/proc/{process.pid}/status") as status:
                rss = next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
            samples.append((time.monotonic() - start, rss / 1024.0))
        except (OSError, StopIteration):
            pass
        time.sleep(5)
    # The recorder keeps the latest Recording/MaxBuffer bytes (5 MiB) for a
    # recording started later: at 128 kbit/s that fills in 5.5 minutes, and
    # only after it can memory be flat.
    after_minute = [rss for at, rss in samples if at >= 60]
    after_ring = [rss for at, rss in samples if at >= 360]
    if len(after_ring) < 2:
        print("  soak: too short to compare (the recorder's 5 MiB ring fills in 5.5 minutes)")
        return
    print("  soak %.0f min: RSS at minute 1 %.1f MB, at minute 6 %.1f MB, at the end %.1f MB, max %.1f MB, "
          "end/minute-6 %.3f" % (minutes, after_minute[0], after_ring[0], after_ring[-1], max(after_minute),
                                 after_ring[-1] / after_ring[0]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--cpu-runs", type=int, default=1)
    parser.add_argument("--soak-minutes", type=float, default=0)
    parser.add_argument("--cli", default=os.path.join("build", "korvanel-cli"))
    parser.add_argument("--segments", choices=["ts", "fmp4"], default="ts")
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="hls-bench-")
    home = tempfile.mkdtemp(prefix="hls-bench-home-")
    os.environ["KORVANEL_HOME"] = home
    packager = start_packager(folder, args.segments)
    server = serve(folder)
    url = "http://127.0.0.1:%d/master.m3u8" % server.server_address[1]
    have_mpv = shutil.which("mpv") is not None

    def players(seconds=None):
        return player_commands(args.cli, url, seconds, mpv=have_mpv)

    try:
        print("Time to first sound on live HLS (%s) behind a master playlist (ms, median of %d runs)" %
              (args.segments, args.runs))
        medians = {}
        for name, command in players().items():
            times = [t for t in (first_sound_ms(command) for _ in range(args.runs)) if t is not None]
            medians[name] = statistics.median(times) if times else float("nan")
        others = [v for n, v in medians.items() if n != "korvanel" and v == v]
        print("  " + "  ".join("%s %.1f" % item for item in medians.items()) +
              ("   korvanel/fastest other %.2f" % (medians["korvanel"] / min(others)) if others else ""))

        print("Processor time and peak memory for %d s of HLS" % args.seconds)
        usage = {}
        for name, command in players(args.seconds).items():
            runs = [usage_for(command, args.seconds) for _ in range(args.cpu_runs)]
            usage[name] = (statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs))
            print("  %-8s cpu %.2f s  peak %.1f MB" % (name, *usage[name]))
        for name, (cpu, rss) in usage.items():
            if name != "korvanel" and cpu > 0:
                print("  korvanel/%s cpu %.2f  memory %.2f" % (name, usage["korvanel"][0] / cpu,
                                                               usage["korvanel"][1] / rss))
        if args.soak_minutes > 0:
            soak(args.cli, url, home, args.soak_minutes)
    finally:
        packager.kill()
        packager.wait()
        server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
