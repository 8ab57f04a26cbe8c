#!/usr/bin/env python3
"""Long run of korvanel-cli against a live icecast2 mount that keeps changing.

Starts its own icecast2 on a free 127.0.0.1 port (configuration in a
temporary folder) and an ffmpeg source feeding an MP3 mount with a tone. The
stream title changes every 5 s through icecast's admin metadata call, and
the source is restarted every 60 s, so the player must notice each drop and
reconnect. The player records the whole time (korvanel-cli record, or play
with recording switched on).

Every few seconds the player process is sampled: resident memory (VmRSS),
open file descriptors and threads. At the end it prints, against these goals:
  - RSS after minute 1 and at the end, and their ratio (within 5 %);
  - fd and thread counts after minute 1: min and max (no growth);
  - source restarts and reconnects seen in the player's log (every restart
    followed by a successful reconnect);
  - the recorded files: how many, and each one clean under mp3val.
The exit status is 1 when a goal is missed, 2 when the set-up failed.

Run from the repository root after building korvanel-cli:
    python3 bench/scripts/soak.py [--minutes 10] [--mode record|play] [--cli build/korvanel-cli]
Not part of `make bench`: a full run takes the minutes asked for.
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from local_icecast import Icecast, stop_child

MOUNT = "/soak.mp3"
STATION_NAME = "Korvanel Soak Tone"
RSS_GOAL = 1.05
LOG_LINE = re.compile(r"^\d\d:\d\d:\d\d :: (.*)$")


def sample(pid):
    """(rss_kib, fds, threads) of a running process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        return rss, len(os.listdir(f"/proc/{pid}/fd")), len(os.listdir(f"/proc/{pid}/task"))
    except (OSError, StopIteration):
        return None


def log_texts(path):
    """The player's log lines without their time stamps."""
    texts = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = LOG_LINE.match(line.rstrip("\n"))
            if match:
                texts.append(match.group(1))
    return texts


def reconnect_figures(texts):
    """Drops seen, reconnect attempts, and drops that ended in a new connection.

    A drop is "Connection lost.."; a connection is the playback-start line,
    which shows the station's name (or "Playing" without one).
    """
    lost = reconnecting = recovered = 0
    waiting = False
    for text in texts:
        if text == "Connection lost..":
            lost += 1
            waiting = True
        elif text == "Trying to reconnect..":
            reconnecting += 1
        elif text in (STATION_NAME, "Playing") and waiting:
            recovered += 1
            waiting = False
    return lost, reconnecting, recovered


def mp3val_problems(path):
    result = subprocess.run(["mp3val", path], capture_output=True, text=True, errors="replace")
    problems = [line for line in result.stdout.splitlines()
                if ("WARNING" in line or "ERROR" in line) and "No supported tags" not in line]
    if result.returncode != 0 and not problems:
        problems.append(f"mp3val exit status {result.returncode}")
    return problems


def player_command(args, url, folder):
    if args.mode == "record":
        return [args.cli, "record", "--folder", folder, url]
    return [args.cli, "play", "--pcm-out", os.devnull, "--set", "Recording/Enabled=true",
            "--set", f"Recording/Path={folder}", url]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--mode", choices=("record", "play"), default="record")
    parser.add_argument("--cli", default=os.path.join("build", "korvanel-cli"))
    parser.add_argument("--sample-seconds", type=float, default=2)
    parser.add_argument("--title-seconds", type=float, default=5)
    parser.add_argument("--restart-seconds", type=float, default=60)
    parser.add_argument("--player-env", action="append", default=[], metavar="NAME=VALUE",
                        help="an extra environment variable for the player (repeatable), e.g. to compare allocators")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folders (with samples.csv) and print where")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)  # progress shows when the output goes to a file
    for tool in ("icecast2", "ffmpeg", "mp3val"):
        if shutil.which(tool) is None:
            print(f"soak: {tool} is not installed", file=sys.stderr)
            return 2
    if not os.access(args.cli, os.X_OK):
        print(f"soak: no korvanel-cli at {args.cli} (build it, or pass --cli)", file=sys.stderr)
        return 2

    work = tempfile.mkdtemp(prefix="korvanel-soak-")
    os.chmod(work, 0o755)  # icecast, run as nobody, must reach its folder inside
    home = os.path.join(work, "home")
    recordings = os.path.join(work, "recordings")
    os.makedirs(home)
    os.makedirs(recordings)
    icecast = Icecast(os.path.join(work, "icecast"), MOUNT, STATION_NAME)
    os.makedirs(icecast.folder)
    player = None
    try:
        if not icecast.start() or not icecast.start_source():
            print("soak: icecast2 or its source did not start; see " + icecast.folder, file=sys.stderr)
            args.keep = True
            return 2
        environment = dict(os.environ, KORVANEL_HOME=home, KORVANEL_UPDATE_SERVER="http://127.0.0.1:1")
        for setting in args.player_env:
            name, _, value = setting.partition("=")
            environment[name] = value
        log_path = os.path.join(work, "player.log")
        files_path = os.path.join(work, "player.out")
        with open(log_path, "wb") as log, open(files_path, "wb") as out:
            player = subprocess.Popen(player_command(args, icecast.url(), recordings), stdin=subprocess.DEVNULL,
                                      stdout=out, stderr=log, env=environment)
        started = time.monotonic()
        duration = args.minutes * 60
        # The figures after minute 1 (or half the run, for short trials).
        warm_up = min(60.0, duration / 2)
        samples = []  # (seconds, rss_kib, fds, threads)
        restarts = titles = title_failures = 0
        next_sample = next_title = started
        next_restart = started + args.restart_seconds
        print(f"soak: {args.mode} from {icecast.url()} for {args.minutes:g} min; folder {work}", flush=True)
        while True:
            now = time.monotonic()
            if now - started >= duration:
                break
            if player.poll() is not None:
                print(f"soak: the player ended early with status {player.returncode}", file=sys.stderr)
                break
            if now >= next_sample:
                figures = sample(player.pid)
                if figures:
                    samples.append((now - started, *figures))
                next_sample += args.sample_seconds
            if now >= next_title:
                titles += 1
                if not icecast.set_title(f"Soak title {titles}"):
                    title_failures += 1
                next_title += args.title_seconds
            # No restart in the last 20 s: its reconnect (after the player's
            # 10 s restart wait at worst) would not be seen.
            if now >= next_restart and now - started < duration - 20:
                icecast.stop_source()
                if not icecast.start_source():
                    print("soak: the source did not come back", file=sys.stderr)
                restarts += 1
                next_restart += args.restart_seconds
            time.sleep(0.1)
        early_exit = player.poll() is not None
        # Ctrl-C: the player stops, finishes its files and ends.
        if not early_exit:
            player.send_signal(signal.SIGINT)
        try:
            status = player.wait(timeout=20)
        except subprocess.TimeoutExpired:
            player.kill()
            status = player.wait()
            print("soak: the player did not end within 20 s of Ctrl-C", file=sys.stderr)
            early_exit = True
        with open(os.path.join(work, "samples.csv"), "w") as f:
            f.write("seconds,rss_kib,fds,threads\n")
            f.writelines("%.1f,%d,%d,%d\n" % s for s in samples)
        return report(args, samples, warm_up, restarts, titles, title_failures, log_path, files_path,
                      recordings, early_exit, status)
    finally:
        stop_child(player)
        icecast.stop()
        if args.keep:
            print(f"soak: kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def report(args, samples, warm_up, restarts, titles, title_failures, log_path, files_path, recordings,
           early_exit, status):
    missed = []

    def goal(ok, what):
        if not ok:
            missed.append(what)
        return "ok" if ok else "MISSED"

    print(f"soak: {len(samples)} samples every {args.sample_seconds:g} s; {titles} title changes "
          f"({title_failures} refused); player exit status {status}")
    after = [s for s in samples if s[0] >= warm_up]
    if len(after) < 2:
        print("soak: too few samples after the warm-up")
        return 1
    first, last = after[0], after[-1]
    ratio = last[1] / first[1]
    print(f"RSS      after {first[0]:.0f} s: {first[1] / 1024:.1f} MiB   at {last[0]:.0f} s: "
          f"{last[1] / 1024:.1f} MiB   ratio {ratio:.3f}   max {max(s[1] for s in after) / 1024:.1f} MiB   "
          f"[{goal(ratio <= RSS_GOAL, 'RSS within 5 %')}]")
    # Reconnects open a socket and start reader threads for a moment, so a
    # sample may catch one in flight: growth is judged on the usual count
    # (the median) of the first and last fifth after the warm-up.
    fifth = max(1, len(after) // 5)
    for name, index in (("fds", 2), ("threads", 3)):
        values = [s[index] for s in after]
        early = statistics.median_low(values[:fifth])
        late = statistics.median_low(values[-fifth:])
        print(f"{name:<8} after warm-up: min {min(values)} max {max(values)}   usual early {early} late {late}   "
              f"[{goal(late <= early, name + ' do not grow')}]")

    texts = log_texts(log_path)
    lost, reconnecting, recovered = reconnect_figures(texts)
    print(f"restarts {restarts}   drops seen {lost}   reconnect runs {reconnecting}   reconnected {recovered}   "
          f"[{goal(lost == restarts and recovered == restarts, 'every restart reconnected')}]")

    with open(files_path, encoding="utf-8", errors="replace") as f:
        printed = [line.strip() for line in f if line.strip()]
    on_disk = sorted(os.path.join(folder, name) for folder, _, names in os.walk(recordings) for name in names)
    broken = {}
    sizes = []
    for path in on_disk:
        sizes.append(os.path.getsize(path))
        problems = mp3val_problems(path)
        if problems:
            broken[path] = problems
    # Only record prints each file it opens.
    all_printed = args.mode != "record" or len(printed) == len(on_disk)
    print(f"files    printed {len(printed)}   on disk {len(on_disk)}   total {sum(sizes) / 1e6:.1f} MB   "
          f"mp3val problems in {len(broken)}   "
          f"[{goal(bool(on_disk) and not broken and all_printed, 'files clean')}]")
    for path, problems in list(broken.items())[:10]:
        print(f"  {os.path.relpath(path, recordings)}: {'; '.join(problems[:3])}")
    goal(not early_exit and status == 0, "player ran to the end and exited cleanly")
    errors = [t for t in texts if t.startswith(("Connect error", "Unfortunately", "Error"))]
    if errors:
        print(f"player errors logged: {len(errors)}, first: {errors[0]}")
    if missed:
        print("soak: goals missed: " + ", ".join(missed))
        return 1
    print("soak: all goals met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
