#!/usr/bin/python3
"""The korvanel window side by side with two desktop radio players in one run.

Everything runs in a private Xvfb, against our own icecast2 mount on
loopback. Each player gets a fresh home folder; sound goes to a sink that
plays nowhere in real time, so decoding runs at the pace of a card. With
--card null (the default) that is SDL's dummy card for korvanel and
GStreamer's fakesink with sync for the others; with --card pulse every
player plays through its own sound server client into a private
PulseAudio's null sink, as on a desktop (the server's own time is nobody's).

Figures (each the median of --runs starts where it says so):
  1. start to window shown: from the process start to the first map of a
     top-level window of the process, as the X server reports it;
  2. idle: processor time over --seconds with the window shown and nothing
     playing, as a share of one core;
  3. playing: processor time over --seconds while the mount plays (for
     korvanel with the peak meter on), as a share of one core, and the
     resident memory at the end; --playing-runs rounds that take the
     players in turn;
  4. floor: the resident memory of build/bench/window_floor, a Qt window
     with the libraries our audio engine loads and nothing else, and of the
     same window with no audio library loaded (Qt alone).

--players takes korvanel-nometer too: korvanel with its peak meter off,
which shows what the meter's 15 ms tick costs while playing.

Run from the repository root after `make build`, with Debian's python3 (it
has python3-xlib):
    /usr/bin/python3 bench/scripts/desktop_compare.py [--runs N] [--seconds S]
goodvibes and strawberry are installed with apt-get when missing (as root);
a player that cannot be had, or cannot be made to play, leaves its column
empty. Every server runs on 127.0.0.1 and stops with the script.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import local_icecast  # noqa: E402

PACKAGES = {"goodvibes": "goodvibes", "strawberry": "strawberry", "Xlib": "python3-xlib",
            "pulseaudio": "pulseaudio gstreamer1.0-pulseaudio"}
TICKS = os.sysconf("SC_CLK_TCK")


def ensure_packages(names):
    missing = [word for name in names if name != "Xlib" and shutil.which(name) is None
               for word in PACKAGES[name].split()]
    try:
        import Xlib  # noqa: F401
    except ImportError:
        missing.append(PACKAGES["Xlib"])
    if missing and os.geteuid() == 0:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing],
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


class Display:
    """A private Xvfb and a connection that sees every top-level map."""

    def __init__(self):
        from Xlib import X, display
        self.X = X
        self.number = next(n for n in range(100, 200) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        self.name = f":{self.number}"
        self.server = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while True:
            try:
                self.connection = display.Display(self.name)
                break
            except Exception:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.02)
        self.root = self.connection.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.pid_atom = self.connection.intern_atom("_NET_WM_PID")
        self.connection.sync()

    def drain(self):
        while self.connection.pending_events():
            self.connection.next_event()

    def wait_for_map(self, pid, bound):
        """Monotonic time of the first map of a top-level window of pid."""
        deadline = time.monotonic() + bound
        while time.monotonic() < deadline:
            if not self.connection.pending_events():
                time.sleep(0.0005)
                continue
            event = self.connection.next_event()
            if event.type != self.X.MapNotify or event.override:
                continue
            seen = time.monotonic()
            try:
                owner = event.window.get_full_property(self.pid_atom, self.X.AnyPropertyType)
            except Exception:
                owner = None
            if owner is None or (owner.value and owner.value[0] == pid):
                return seen
        return None

    def close(self):
        self.connection.close()
        local_icecast.stop_child(self.server)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def resident_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def listeners(icecast):
    """How many listeners the mount has, from icecast's status page."""
    answer = local_icecast.http_get(icecast.port, "/status-json.xsl")
    marker = '"listeners":'
    at = answer.rfind(marker)
    if at < 0:
        return 0
    digits = "".join(ch for ch in answer[at + len(marker):at + len(marker) + 8] if ch.isdigit())
    return int(digits or 0)


class PulseCard:
    """A private PulseAudio with one null sink, on a socket of its own."""

    def __init__(self):
        self.folder = tempfile.mkdtemp()
        self.socket = os.path.join(self.folder, "native")
        env = dict(os.environ, HOME=self.folder, XDG_RUNTIME_DIR=self.folder)
        self.server = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "-L", "module-null-sink sink_name=bench",
             "-L", f"module-native-protocol-unix auth-anonymous=1 socket={self.socket}"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.socket) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.ready = os.path.exists(self.socket)

    def address(self):
        return f"unix:{self.socket}"

    def close(self):
        local_icecast.stop_child(self.server)
        shutil.rmtree(self.folder, ignore_errors=True)


class Player:
    """How to start one player in a fresh home, idle or playing a URL."""

    def __init__(self, name, display, card=None):
        self.name = name
        self.display = display
        self.card = card  # a PulseCard, or None for a card that plays nowhere

    def available(self):
        return shutil.which(self.program()) is not None or os.path.exists(self.program())

    def environment(self, home):
        env = {key: value for key, value in os.environ.items() if not key.startswith(("QT_", "GTK_", "SDL_"))}
        env.update(DISPLAY=self.display.name, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_DATA_HOME=os.path.join(home, ".local/share"), XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   XDG_RUNTIME_DIR=home, NO_AT_BRIDGE="1")
        if self.card:
            env["PULSE_SERVER"] = self.card.address()
        os.makedirs(env["XDG_CONFIG_HOME"], exist_ok=True)
        return env

    def start(self, home, url=None):
        self.display.drain()
        env = self.environment(home)
        command = self.command(home, url, env)
        started = time.monotonic()
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        return process, started


class Korvanel(Player):
    def program(self):
        return os.path.abspath(os.path.join("build", "korvanel"))

    def command(self, home, url, env):
        env.update(KORVANEL_HOME=home, QT_QPA_PLATFORM="xcb", KORVANEL_UPDATE_SERVER="http://127.0.0.1:1")
        if self.card:
            # With a sound server there, korvanel plays into it by itself.
            env.pop("SDL_AUDIODRIVER", None)
        else:
            env.update(SDL_AUDIODRIVER="dummy")
        history = ""
        if url:
            history = (f"<General><AutoPlayOnStart type=\"bool\">true</AutoPlayOnStart></General>"
                       f"<Session><History><H00_Source type=\"string\">{url}</H00_Source>"
                       f"<H00_Title type=\"string\"></H00_Title><H00_URL type=\"string\"></H00_URL>"
                       f"</History></Session>")
        with open(os.path.join(home, "korvanel.xml"), "w") as settings:
            settings.write('<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>\n'
                           f'<Korvanel target="Korvanel Radio" version="v0.3.6">{history}</Korvanel>\n')
        return [self.program()]


class KorvanelNoMeter(Korvanel):
    def command(self, home, url, env):
        command = super().command(home, url, env)
        path = os.path.join(home, "korvanel.xml")
        with open(path) as settings:
            text = settings.read()
        with open(path, "w") as settings:
            settings.write(text.replace(
                "</Korvanel>", '<PeakMeter><Enabled type="bool">false</Enabled></PeakMeter></Korvanel>'))
        return command


class Goodvibes(Player):
    def program(self):
        return "goodvibes"

    def command(self, home, url, env):
        # Its output pipeline, in the settings it reads at start.
        folder = os.path.join(env["XDG_CONFIG_HOME"], "glib-2.0", "settings")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "keyfile"), "w") as keyfile:
            keyfile.write("[io/gitlab/Goodvibes/Core]\npipeline-enabled=true\n"
                          f"pipeline-string='{'pulsesink' if self.card else 'fakesink sync=true'}'\n")
        env.update(GSETTINGS_BACKEND="keyfile", GDK_BACKEND="x11")
        return ["goodvibes"] + ([url] if url else [])


class Strawberry(Player):
    def program(self):
        return "strawberry"

    def command(self, home, url, env):
        folder = os.path.join(env["XDG_CONFIG_HOME"], "strawberry")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "strawberry.conf"), "w") as conf:
            output = "pulsesink" if self.card else "fakesink"
            conf.write(f"[General]\nconfig_version=1\n\n[Backend]\nengine=gstreamer\noutput={output}\n"
                       "device=\n\n[MainWindow]\nshowtrayicon=false\n")
        env.update(QT_QPA_PLATFORM="xcb")
        return ["strawberry"] + (["--load", url, "--play"] if url else [])


def stop(process):
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def measure_start(player, runs):
    times = []
    for _ in range(runs):
        with tempfile.TemporaryDirectory() as home:
            process, started = player.start(home)
            mapped = player.display.wait_for_map(process.pid, 20)
            if mapped is not None:
                times.append((mapped - started) * 1000)
            time.sleep(0.5)
            stop(process)
    return statistics.median(times) if times else None


def measure_idle(player, seconds):
    with tempfile.TemporaryDirectory() as home:
        process, _ = player.start(home)
        if player.display.wait_for_map(process.pid, 20) is None:
            stop(process)
            return None
        time.sleep(3)
        before = cpu_seconds(process.pid)
        time.sleep(seconds)
        share = (cpu_seconds(process.pid) - before) / seconds * 100
        stop(process)
        return share


def measure_playing(player, icecast, seconds):
    with tempfile.TemporaryDirectory() as home:
        process, _ = player.start(home, icecast.url())
        deadline = time.monotonic() + 30
        while listeners(icecast) == 0 and time.monotonic() < deadline and process.poll() is None:
            time.sleep(0.1)
        if listeners(icecast) == 0:
            stop(process)
            return None, None
        time.sleep(3)
        before = cpu_seconds(process.pid)
        time.sleep(seconds)
        share = (cpu_seconds(process.pid) - before) / seconds * 100
        memory = resident_mb(process.pid)
        playing = listeners(icecast) > 0
        stop(process)
        return (share, memory) if playing else (None, None)


def measure_floor(display, qt_only=False):
    """Resident memory of bench/window_floor: a Qt window with FFmpeg and SDL
    loaded and nothing else, the least a player built as ours holds."""
    program = os.path.abspath(os.path.join("build", "bench", "window_floor"))
    if not os.path.exists(program):
        return None
    with tempfile.TemporaryDirectory() as home:
        player = Player("floor", display)
        env = player.environment(home)
        env.update(SDL_AUDIODRIVER="dummy", QT_QPA_PLATFORM="xcb")
        process = subprocess.Popen([program] + (["--qt-only"] if qt_only else []), env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        if display.wait_for_map(process.pid, 20) is None:
            stop(process)
            return None
        time.sleep(3)
        memory = resident_mb(process.pid) if process.poll() is None else None
        stop(process)
        return memory


def cell(value, unit, digits=1):
    return "-" if value is None else f"{value:.{digits}f} {unit}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--playing-runs", type=int, default=3)
    parser.add_argument("--players", default="korvanel,goodvibes,strawberry")
    parser.add_argument("--card", choices=("null", "pulse"), default="null")
    options = parser.parse_args()
    names = options.players.split(",")
    ensure_packages([name for name in names if not name.startswith("korvanel")] + (["pulseaudio"] if options.card == "pulse" else []))
    card = None
    if options.card == "pulse":
        card = PulseCard()
        if not card.ready:
            print("desktop_compare: PulseAudio did not start", file=sys.stderr)
            card.close()
            return 1
    display = Display()
    folder = tempfile.mkdtemp()
    icecast = local_icecast.Icecast(folder)
    try:
        if not icecast.start() or not icecast.start_source():
            print("desktop_compare: our icecast2 did not start", file=sys.stderr)
            return 1
        kinds = {"korvanel": Korvanel, "korvanel-nometer": KorvanelNoMeter, "goodvibes": Goodvibes,
                 "strawberry": Strawberry}
        players = {name: kinds[name](name, display, card) for name in names}
        players = {name: player for name, player in players.items() if player.available()}
        results = {name: (None, None, None, None) for name in names}
        for name, player in players.items():
            results[name] = (measure_start(player, options.runs), measure_idle(player, options.seconds), None, None)
        # Playing rounds take the players in turn, so a slow moment of the
        # machine falls on all of them alike; each figure is the median.
        playing = {name: [] for name in players}
        for _ in range(options.playing_runs):
            for name, player in players.items():
                share, memory = measure_playing(player, icecast, options.seconds)
                if share is not None:
                    playing[name].append((share, memory))
        for name in players:
            start, idle = results[name][:2]
            shares = [share for share, _ in playing[name]]
            memories = [memory for _, memory in playing[name]]
            results[name] = (start, idle, statistics.median(shares) if shares else None,
                             statistics.median(memories) if memories else None)
            print(f"  {name}: start {cell(start, 'ms', 0)}, idle {cell(idle, '%', 2)}, playing "
                  + ", ".join(f"{share:.2f} %" for share in shares) + f"; {cell(results[name][3], 'MB')}",
                  flush=True)
        print(f"\nDesktop players under Xvfb, card {options.card}, {options.runs} starts, {options.seconds} s idle, "
              f"{options.playing_runs} x {options.seconds} s playing in turn (CPU as a share of one core)")
        print(f"{'':17}{'start to window':>18}{'idle CPU':>12}{'playing CPU':>14}{'memory playing':>17}")
        for name in names:
            start, idle, playing, memory = results[name]
            print(f"{name:17}{cell(start, 'ms', 0):>18}{cell(idle, '%', 2):>12}{cell(playing, '%', 2):>14}"
                  f"{cell(memory, 'MB'):>17}")
        for label, qt_only, what in (("floor", False, "a Qt window with FFmpeg and SDL loaded"),
                                     ("Qt alone", True, "the same window, no audio library")):
            floor = measure_floor(display, qt_only)
            if floor is not None:
                print(f"{label:17}{'':>18}{'':>12}{'':>14}{cell(floor, 'MB'):>17}   ({what}: bench/window_floor)")
        ours = results.get("korvanel")
        for other in [name for name in names if name != "korvanel"]:
            theirs = results[other]
            ratios = []
            for index, label in ((0, "start"), (2, "playing CPU"), (3, "memory")):
                if ours and ours[index] is not None and theirs[index]:
                    ratios.append(f"{label} {ours[index] / theirs[index]:.2f}")
            if ratios:
                print(f"korvanel/{other}: " + ", ".join(ratios))
        return 0
    finally:
        icecast.stop()
        display.close()
        if card:
            card.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
