#!/usr/bin/python3
"""What playing a radio stream costs the player and the sound server together.

One private PulseAudio (its own runtime folder and unix socket, a null sink,
no autospawn, never exiting when idle) takes every player's sound; one
icecast2 on loopback serves a 128 kbit/s MP3 tone. The players, taken in
turn within each round:
  korvanel       the window with its peak meter, under a private Xvfb
  korvanel-cli   build/korvanel-cli play --seconds N URL (levelling on, as a
                 new settings file has it)
  korvanel-cli-unlevelled  the same with --set Sound/Levelling=false: the
                 difference to korvanel-cli is what levelling costs
  mpv            --ao=pulse --no-video
  ffplay         -nodisp -autoexit, SDL's pulseaudio driver
  goodvibes      GStreamer's pulsesink
korvanel's processes get KORVANEL_AUDIO (default pulse; --korvanel-audio ""
lets it choose) and never SDL_AUDIODRIVER, which would make it take SDL.

For each player, once its stream is at the sink and the monitor carries
sound, after a warm-up, over --seconds: the player's CPU and the server's
(utime+stime from /proc/PID/stat, % of one core), their sum, the player's
peak resident memory (VmHWM), and the run count of every thread of the
player and the server from /proc/PID/task/*/schedstat (third field) as
wake-ups per second: the busiest thread's and the sum. Whether sound
reached the sink: the player's own sink input is listed at the end of the
window and a second of the sink's monitor is not silent. Each round also
measures the window idle (shown, nothing playing) and the server with no
client at all. Figures are the medians over --runs rounds.

Run from the repository root after `make build`, with Debian's python3:
    /usr/bin/python3 bench/scripts/output_compare.py [--runs N] [--seconds S] [--players a,b]
Missing players and PulseAudio are installed with apt-get when run as root;
a player that cannot be had or never plays leaves its row empty. Every
process started here is stopped at the end, also on errors and Ctrl-C.
"""
import argparse
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop_compare as desktop  # noqa: E402
import local_icecast  # noqa: E402

SINK = "bench"
RATE = 44100
WARM_UP = 3.0
ALL_PLAYERS = ("korvanel", "korvanel-cli", "mpv", "ffplay", "goodvibes")
PACKAGES = {"mpv": "mpv", "ffplay": "ffmpeg", "goodvibes": "goodvibes gstreamer1.0-pulseaudio",
            "pulseaudio": "pulseaudio", "pactl": "pulseaudio-utils", "parec": "pulseaudio-utils",
            "Xvfb": "xvfb", "icecast2": "icecast2", "dbus-daemon": "dbus-daemon"}


def ensure_packages(programs):
    missing = sorted({word for program in programs if shutil.which(program) is None
                      for word in PACKAGES[program].split()})
    try:
        import Xlib  # noqa: F401
    except ImportError:
        missing.append("python3-xlib")
    if missing and os.geteuid() == 0:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False, timeout=600)


# -- what /proc says about a process ---------------------------------------

def thread_runs(pid):
    """{tid: (name, times run)} of every thread of pid."""
    runs = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return runs
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                count = int(f.read().split()[2])
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
        except (OSError, IndexError, ValueError):
            continue  # the thread ended between the listing and the read
        runs[int(tid)] = (name, count)
    return runs


def peak_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return None


class Window:
    """CPU and thread wake-ups of some processes over one stretch of time."""

    def __init__(self, pids):
        self.pids = pids
        self.cpu = {pid: desktop.cpu_seconds(pid) for pid in pids}
        self.first = {pid: thread_runs(pid) for pid in pids}
        self.last = {pid: dict(runs) for pid, runs in self.first.items()}
        self.started = time.monotonic()

    def run(self, seconds, alive):
        # Sampled each second so that a thread ending inside still counts.
        end = self.started + seconds
        while time.monotonic() < end:
            time.sleep(min(1.0, max(0.0, end - time.monotonic())))
            if not alive():
                return None
            for pid in self.pids:
                self.last[pid].update(thread_runs(pid))
        elapsed = time.monotonic() - self.started
        figures = {}
        for pid in self.pids:
            share = (desktop.cpu_seconds(pid) - self.cpu[pid]) / elapsed * 100
            rates = [(name, (count - self.first[pid].get(tid, (name, 0))[1]) / elapsed)
                     for tid, (name, count) in self.last[pid].items()]
            busiest = max(rates, key=lambda rate: rate[1], default=("-", 0.0))
            # Threads that share a name are told apart by rank: name, name#2, ...
            by_name = {}
            for name, rate in sorted(rates, key=lambda item: -item[1]):
                label, rank = name, 1
                while label in by_name:
                    rank += 1
                    label = f"{name}#{rank}"
                by_name[label] = rate
            figures[pid] = {"cpu": share, "busiest": busiest[1], "busiest_name": busiest[0],
                            "wakeups": sum(rate for _, rate in rates), "threads": len(rates), "by_name": by_name}
        return figures


# -- the sound server ------------------------------------------------------

class SoundServer(desktop.PulseCard):
    """The private PulseAudio, plus what its clients need to reach only it."""

    def __init__(self):
        super().__init__()
        self.client_config = os.path.join(self.folder, "client.conf")
        with open(self.client_config, "w") as f:
            f.write("autospawn = no\n")

    @property
    def pid(self):
        return self.server.pid

    def client_env(self, env=None):
        env = dict(os.environ if env is None else env)
        env.update(PULSE_SERVER=self.address(), PULSE_CLIENTCONFIG=self.client_config, LC_ALL="C")
        return env

    def pactl_blocks(self, what):
        """`pactl list WHAT` as one dict a block, properties under "props"."""
        try:
            text = subprocess.run(["pactl", "list", what], env=self.client_env(), capture_output=True, text=True,
                                  timeout=5).stdout
        except subprocess.TimeoutExpired:
            return []
        blocks = []
        for line in text.splitlines():
            if line and not line[0].isspace():
                blocks.append({"props": {}})
            elif blocks and " = " in line and line.startswith("\t\t"):
                key, value = line.strip().split(" = ", 1)
                blocks[-1]["props"][key] = value.strip('"')
            elif blocks and ":" in line:
                key, value = line.strip().split(":", 1)
                blocks[-1][key] = value.strip()
        return blocks

    def stream_of(self, pid):
        for block in self.pactl_blocks("sink-inputs"):
            if block["props"].get("application.process.id") == str(pid):
                return block
        return None

    def streams(self):
        return len(self.pactl_blocks("sink-inputs"))

    def sink_latency(self):
        for block in self.pactl_blocks("sinks"):
            if block.get("Name") == SINK:
                return block.get("Latency", "")
        return ""

    def monitor_sound(self, seconds=1.0):
        """Loudest sample and rough tone (Hz) on the sink's monitor over `seconds`."""
        process = subprocess.Popen(["parec", "-d", f"{SINK}.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
                                    "--channels=2", "--latency-msec=50"], env=self.client_env(),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        data = b""
        try:
            end = time.monotonic() + seconds + 0.5
            while time.monotonic() < end and len(data) < seconds * RATE * 4:
                ready, _, _ = select.select([process.stdout], [], [], max(0.0, end - time.monotonic()))
                if not ready:
                    break
                chunk = os.read(process.stdout.fileno(), 65536)
                if not chunk:
                    break
                data += chunk
        finally:
            local_icecast.stop_child(process, 2)
        usable = len(data) - len(data) % 4
        left = memoryview(data[:usable]).cast("h")[::2]
        if not left:
            return 0, 0.0
        crossings = sum(1 for a, b in zip(left, left[1:]) if (a < 0) != (b < 0))
        return max(abs(v) for v in left), crossings * RATE / 2 / len(left)


class SessionBus:
    """A private D-Bus session bus (goodvibes will not start without one), with no
    activatable services, so that nothing is started behind our back."""

    def __init__(self, folder):
        self.address = f"unix:path={os.path.join(folder, 'bus')}"
        config = os.path.join(folder, "bus.conf")
        with open(config, "w") as f:
            f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"\n'
                    ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                    f"<busconfig><type>session</type><listen>{self.address}</listen><auth>EXTERNAL</auth>"
                    '<policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                    '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n')
        self.process = subprocess.Popen(["dbus-daemon", "--nofork", f"--config-file={config}", "--print-address=1"],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        self.ready = bool(ready) and bool(self.process.stdout.readline().strip())

    def close(self):
        local_icecast.stop_child(self.process)


# -- the players -----------------------------------------------------------

class Player(desktop.Player):
    korvanel_audio = "pulse"
    bus = None

    def korvanel_env(self, env):
        env.pop("SDL_AUDIODRIVER", None)  # it would make korvanel choose SDL
        env.pop("KORVANEL_AUDIO", None)
        if self.korvanel_audio:
            env["KORVANEL_AUDIO"] = self.korvanel_audio


class KorvanelWindow(Player, desktop.Korvanel):
    label = "korvanel (window, meter on)"

    def command(self, home, url, env):
        command = desktop.Korvanel.command(self, home, url, env)
        self.korvanel_env(env)
        return command


class KorvanelCli(Player):
    label = "korvanel-cli"
    play_seconds = 60

    def program(self):
        return os.path.abspath(os.path.join("build", "korvanel-cli"))

    def command(self, home, url, env):
        env.update(KORVANEL_HOME=home, KORVANEL_UPDATE_SERVER="http://127.0.0.1:1")
        self.korvanel_env(env)
        return [self.program(), "play", "--seconds", str(self.play_seconds), url]


class KorvanelCliUnlevelled(KorvanelCli):
    label = "korvanel-cli, levelling off"

    def command(self, home, url, env):
        command = KorvanelCli.command(self, home, url, env)
        return command[:2] + ["--set", "Sound/Levelling=false"] + command[2:]


class Mpv(Player):
    label = "mpv"

    def program(self):
        return "mpv"

    def command(self, home, url, env):
        return ["mpv", "--no-config", "--ao=pulse", "--no-video", "--really-quiet", url]


class Ffplay(Player):
    label = "ffplay"

    def program(self):
        return "ffplay"

    def command(self, home, url, env):
        env["SDL_AUDIODRIVER"] = "pulseaudio"
        return ["ffplay", "-hide_banner", "-loglevel", "error", "-nodisp", "-autoexit", url]


class Goodvibes(Player, desktop.Goodvibes):
    label = "goodvibes"


KINDS = {"korvanel": KorvanelWindow, "korvanel-cli": KorvanelCli, "korvanel-cli-unlevelled": KorvanelCliUnlevelled,
         "mpv": Mpv, "ffplay": Ffplay, "goodvibes": Goodvibes}
LIVE = set()  # processes to stop whatever happens


def launch(player, server, home, url, log):
    player.display.drain()
    env = server.client_env(player.environment(home))
    env["DBUS_SESSION_BUS_ADDRESS"] = player.bus.address
    command = player.command(home, url, env)
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                               start_new_session=True)
    LIVE.add(process)
    return process


def finish(process):
    desktop.stop(process)
    LIVE.discard(process)


def wait_until(test, bound, step=0.1):
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        result = test()
        if result:
            return result
        time.sleep(step)
    return test()


def settle(server):
    """No stream left from the one before, and a moment for the sink to go back to its own pace."""
    wait_until(lambda: server.streams() == 0, 10, 0.2)
    time.sleep(1.0)


def tail(path, lines=5):
    try:
        with open(path, errors="replace") as f:
            return " | ".join(f.read().strip().splitlines()[-lines:])
    except OSError:
        return ""


def sample_format(stream):
    """The stream's "Sample ..." line, such as s16le 2ch 44100Hz."""
    return next((value for key, value in (stream or {}).items() if key.startswith("Sample ")), "")


def measure_playing(player, server, url, seconds, folder):
    """One player's figures over `seconds` of sound at the sink, or a reason for none."""
    settle(server)
    with tempfile.TemporaryDirectory(dir=folder) as home:
        log_path = os.path.join(folder, f"{player.name}.log")
        try:
            with open(log_path, "ab") as log:
                process = launch(player, server, home, url, log)
        except OSError as error:  # such as a binary being linked anew just then
            return None, f"could not start: {error}"
        try:
            alive = lambda: process.poll() is None
            stream = wait_until(lambda: server.stream_of(process.pid) or not alive(), 30, 0.2)
            if not isinstance(stream, dict):
                return None, "no stream at the sink: " + tail(log_path)
            deadline = time.monotonic() + 20
            while alive() and server.monitor_sound()[0] < 1000:
                if time.monotonic() > deadline:
                    return None, "stream at the sink but silent"
            time.sleep(WARM_UP)
            if not alive():
                return None, "ended: " + tail(log_path)
            figures = Window([process.pid, server.pid]).run(seconds, alive)
            if figures is None:
                return None, "ended inside the window: " + tail(log_path)
            ours, theirs = figures[process.pid], figures[server.pid]
            stream = server.stream_of(process.pid)
            props = (stream or {}).get("props", {})
            loudest, tone = server.monitor_sound()
            result = dict(ours, server_cpu=theirs["cpu"], server_wakeups=theirs["wakeups"],
                          server_busiest=theirs["busiest"], rss=peak_mb(process.pid), sound=bool(stream) and
                          loudest >= 1000, tone=tone, latency=(stream or {}).get("Buffer Latency", ""),
                          sink_latency=server.sink_latency(), sample_format=sample_format(stream),
                          client=" / ".join(filter(None, (props.get("application.name"), props.get("media.name")))))
            return result, None
        finally:
            finish(process)


def measure_idle(player, server, seconds, folder):
    settle(server)
    with tempfile.TemporaryDirectory(dir=folder) as home:
        try:
            with open(os.path.join(folder, "korvanel-idle.log"), "ab") as log:
                process = launch(player, server, home, None, log)
        except OSError as error:
            return None, f"could not start: {error}"
        try:
            if player.display.wait_for_map(process.pid, 20) is None:
                return None, "no window"
            time.sleep(WARM_UP)
            figures = Window([process.pid, server.pid]).run(seconds, lambda: process.poll() is None)
            if figures is None:
                return None, "ended"
            theirs = figures[server.pid]
            stream = server.stream_of(process.pid)
            return dict(figures[process.pid], server_cpu=theirs["cpu"], server_wakeups=theirs["wakeups"],
                        server_busiest=theirs["busiest"], rss=peak_mb(process.pid),
                        sound=None, stream_open=bool(stream)), None
        finally:
            finish(process)


def measure_server_alone(server, seconds):
    settle(server)
    figures = Window([server.pid]).run(seconds, lambda: server.server.poll() is None)
    if figures is None:
        return None, "the server ended"
    theirs = figures[server.pid]
    return {"server_cpu": theirs["cpu"], "server_wakeups": theirs["wakeups"], "server_busiest": theirs["busiest"],
            "sink_latency": server.sink_latency()}, None


# -- the report ------------------------------------------------------------

def median(runs, key):
    values = [run[key] for run in runs if run.get(key) is not None]
    return statistics.median(values) if values else None


def fmt(value, unit="", digits=2):
    return "-" if value is None else f"{value:.{digits}f}{unit}"


def most_common(runs, key):
    values = [run[key] for run in runs if run.get(key)]
    return max(set(values), key=values.count) if values else ""


def report(order, results, options):
    print(f"\n### Players and the sound server: {options.runs} round(s), {options.seconds} s each after "
          f"{WARM_UP:.0f} s of warm-up, medians (CPU in % of one core)\n")
    print("| player | player CPU | server CPU | together | peak RSS | busiest thread wake-ups/s | "
          "all threads wake-ups/s | server wake-ups/s | sound at the sink |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---|")
    sums = {}
    for key, label in order:
        runs = results[key]["runs"]
        cpu, server = median(runs, "cpu"), median(runs, "server_cpu")
        together = [run["cpu"] + run["server_cpu"] for run in runs if run.get("cpu") is not None]
        sums[key] = statistics.median(together) if together else None
        busiest = median(runs, "busiest")
        name = most_common(runs, "busiest_name")
        if key == "server":
            sound = "-"
        elif key == "idle":
            opened = sum(1 for run in runs if run.get("stream_open"))
            sound = f"(stream open while idle in {opened}/{len(runs)})" if runs else "-"
        else:
            heard = sum(1 for run in runs if run.get("sound"))
            tone = median(runs, "tone")
            sound = f"yes {heard}/{options.runs} ({tone:.0f} Hz)" if heard else f"no (0/{options.runs})"
        failures = results[key]["failures"]
        if failures:
            sound += f"; {len(failures)} failed: {failures[-1][:80]}"
        print(f"| {label} | {fmt(cpu, ' %')} | {fmt(server, ' %')} | {fmt(sums[key], ' %')} | "
              f"{fmt(median(runs, 'rss'), ' MB', 1)} | "
              f"{fmt(busiest, '', 1)}{f' ({name})' if name else ''} | {fmt(median(runs, 'wakeups'), '', 1)} | "
              f"{fmt(median(runs, 'server_wakeups'), '', 1)} | {sound} |")

    print("\n| player | client as the server sees it | stream | buffer latency | sink latency at the end |")
    print("|---|---|---|---|---|")
    for key, label in order:
        runs = results[key]["runs"]
        if key in ("idle",) or not runs:
            continue
        print(f"| {label} | {most_common(runs, 'client') or '-'} | {most_common(runs, 'sample_format') or '-'} | "
              f"{most_common(runs, 'latency') or '-'} | {most_common(runs, 'sink_latency') or '-'} |")

    print("\n| threads (wake-ups/s, medians; name#2 is the second busiest of that name) | |")
    print("|---|---|")
    for key, label in order:
        runs = [run for run in results[key]["runs"] if "by_name" in run]
        if key not in ("korvanel", "idle", "korvanel-cli") or not runs:
            continue
        names = {name for run in runs for name in run["by_name"]}
        rates = sorted(((statistics.median(run["by_name"].get(name, 0.0) for run in runs), name) for name in names),
                       reverse=True)
        shown = ", ".join(f"{name} {rate:.1f}" for rate, name in rates if rate >= 0.5) or "none at 0.5/s or more"
        print(f"| {label} | {shown} |")

    if "korvanel-cli" in results and "korvanel-cli-unlevelled" in results:
        on = median(results["korvanel-cli"]["runs"], "cpu")
        off = median(results["korvanel-cli-unlevelled"]["runs"], "cpu")
        if on is not None and off is not None:
            print(f"\nlevelling costs korvanel-cli {fmt(on - off, ' %')} of a core ({fmt(on, ' %')} on, "
                  f"{fmt(off, ' %')} off)")

    print("\n| goal | figure | target | met |")
    print("|---|---|---|---|")

    def verdict(ok):
        return "-" if ok is None else ("yes" if ok else "**no**")

    mpv = sums.get("mpv")
    for key, label in (("korvanel", "korvanel window"), ("korvanel-cli", "korvanel-cli")):
        if key in sums:
            ours = sums[key]
            ratio = ours / mpv if ours is not None and mpv else None
            print(f"| {label} + server at most 0.5 x (mpv + server) | {fmt(ours, ' %')} vs {fmt(mpv, ' %')}: "
                  f"{fmt(ratio, ' x')} | <= 0.50 x | {verdict(None if ratio is None else ratio <= 0.5)} |")
    if "korvanel" in sums:
        ours = median(results["korvanel"]["runs"], "cpu")
        theirs = median(results["goodvibes"]["runs"], "cpu") if "goodvibes" in results else None
        ok = None if ours is None or theirs is None else ours <= theirs
        print(f"| korvanel window's playing CPU at most goodvibes's | {fmt(ours, ' %')} vs {fmt(theirs, ' %')} | "
              f"<= goodvibes | {verdict(ok)} |")
    if "idle" in results:
        idle = median(results["idle"]["runs"], "cpu")
        print(f"| korvanel window idle | {fmt(idle, ' %')} | 0.0 % | "
              f"{verdict(None if idle is None else round(idle, 1) == 0.0)} |")
    for key, label in (("korvanel", "korvanel window playing"), ("idle", "korvanel window idle"),
                       ("korvanel-cli", "korvanel-cli playing")):
        if key in results:
            runs = results[key]["runs"]
            worst = max((run["busiest"] for run in runs), default=None)
            name = most_common(runs, "busiest_name")
            print(f"| every thread of the {label} under 25 wake-ups/s | busiest {fmt(worst, '/s', 1)}"
                  f"{f' ({name})' if name else ''}, worst of {len(runs)} | < 25/s | "
                  f"{verdict(None if worst is None else worst < 25)} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--runs", type=int, default=3, help="rounds; every player plays once in each")
    parser.add_argument("--seconds", type=int, default=20, help="measuring window while playing")
    parser.add_argument("--idle-seconds", type=int, default=10, help="window idle and for the server alone")
    parser.add_argument("--players", default=",".join(ALL_PLAYERS))
    parser.add_argument("--korvanel-audio", default="pulse", help="KORVANEL_AUDIO for korvanel; '' to let it choose")
    options = parser.parse_args()
    names = [name for name in options.players.split(",") if name]
    unknown = [name for name in names if name not in KINDS]
    if unknown:
        parser.error("unknown players: " + ", ".join(unknown) + "; known: " + ", ".join(ALL_PLAYERS))
    ensure_packages(["pulseaudio", "pactl", "parec", "Xvfb", "icecast2", "dbus-daemon"] +
                    [name for name in names if not name.startswith("korvanel")])
    Player.korvanel_audio = options.korvanel_audio
    KorvanelCli.play_seconds = options.seconds + 60

    # Ctrl-C and a plain kill both go through the clean-up below.
    def interrupted(*_):
        raise KeyboardInterrupt()
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)  # also when started with it ignored, as in the background
    folder = tempfile.mkdtemp(prefix="korvanel-output-")
    server = display = icecast = bus = None
    try:
        server = SoundServer()
        if not server.ready:
            print("output_compare: PulseAudio did not start", file=sys.stderr)
            return 1
        Player.bus = bus = SessionBus(folder)
        if not bus.ready:
            print("output_compare: dbus-daemon did not start", file=sys.stderr)
            return 1
        display = desktop.Display()
        icecast = local_icecast.Icecast(os.path.join(folder, "icecast"))
        os.makedirs(icecast.folder)
        os.chmod(folder, 0o755)
        if not icecast.start() or not icecast.start_source():
            print("output_compare: our icecast2 did not start", file=sys.stderr)
            return 1
        players = {}
        for name in names:
            player = KINDS[name](name, display, server)
            if player.available():
                players[name] = player
            else:
                print(f"  {name}: not to be had, left out", flush=True)
        order = [("server", "server alone (no client)")]
        if "korvanel" in players:
            order.append(("idle", f"korvanel idle (window shown, not playing, {options.idle_seconds} s)"))
        order += [(name, player.label) for name, player in players.items()]
        results = {key: {"runs": [], "failures": []} for key, _ in order}

        def keep(key, outcome):
            figures, failure = outcome
            if figures is None:
                results[key]["failures"].append(failure)
                print(f"  {key}: {failure}", flush=True)
                return
            results[key]["runs"].append(figures)
            shown = ", ".join(f"{k} {v:.2f}" if isinstance(v, float) else f"{k} {v}" for k, v in figures.items()
                              if k != "by_name")
            print(f"  {key}: {shown}", flush=True)

        for round_number in range(1, options.runs + 1):
            print(f"round {round_number}/{options.runs}", flush=True)
            keep("server", measure_server_alone(server, options.idle_seconds))
            if "korvanel" in players:
                keep("idle", measure_idle(players["korvanel"], server, options.idle_seconds, folder))
            for name, player in players.items():
                keep(name, measure_playing(player, server, icecast.url(), options.seconds, folder))
        report(order, results, options)
        return 0
    except KeyboardInterrupt:
        print("output_compare: interrupted", file=sys.stderr)
        return 130
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        for process in list(LIVE):
            finish(process)
        if icecast:
            icecast.stop()
        if display:
            display.close()
        if server:
            server.close()
        if bus:
            bus.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
