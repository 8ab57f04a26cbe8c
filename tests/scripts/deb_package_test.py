#!/usr/bin/env python3
"""The Debian package as a user gets it: built with cpack, installed with
apt-get, korvanel-cli and the desktop program started from /usr/bin with a
home of their own, then removed. Exits 77 (skipped) unless it may touch the
system's packages: as root, with apt-get, and no korvanel installed already."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=240, **options)


def installed(package):
    status = run("dpkg-query", "-W", "-f=${Status}", package)
    return status.returncode == 0 and "install ok installed" in status.stdout


def main():
    build = sys.argv[1]
    if os.geteuid() != 0 or not shutil.which("apt-get") or not shutil.which("cpack"):
        print("skipped: needs root, apt-get and cpack")
        return SKIP
    if installed("korvanel"):
        print("skipped: a korvanel package is installed; it is left alone")
        return SKIP
    failures = []
    with tempfile.TemporaryDirectory() as work:
        made = run("cpack", "-G", "DEB", "-B", work, cwd=build)
        packages = glob.glob(os.path.join(work, "korvanel_*.deb"))
        if made.returncode != 0 or len(packages) != 1:
            print(made.stdout, made.stderr)
            return 1
        environment = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        added = run("apt-get", "install", "-y", "--no-install-recommends", packages[0], env=environment)
        if added.returncode != 0:
            print(added.stdout, added.stderr)
            return 1
        try:
            home = os.path.join(work, "home")
            os.mkdir(home)
            user = dict(os.environ, HOME=home, XDG_CONFIG_HOME="", KORVANEL_UPDATE_SERVER="http://127.0.0.1:1")
            user.pop("KORVANEL_HOME", None)
            listed = run("/usr/bin/korvanel-cli", "list", "presets", env=user)
            if listed.returncode != 0 or not listed.stdout.strip():
                failures.append(f"korvanel-cli list presets: {listed.returncode} {listed.stderr}")
            if not os.path.exists(os.path.join(home, ".config/korvanel/korvanel.xml")):
                failures.append("no settings in ~/.config/korvanel")
            for path in ("/usr/share/applications/korvanel.desktop", "/usr/share/icons/hicolor/scalable/apps/korvanel.svg",
                         "/usr/share/korvanel/presets.xml", "/usr/share/metainfo/org.korvanel.Korvanel.metainfo.xml"):
                if not os.path.exists(path):
                    failures.append(f"{path} missing")
            failures += window_opens(user)
        finally:
            removed = run("apt-get", "purge", "-y", "korvanel", env=environment)
            if removed.returncode != 0 or installed("korvanel") or os.path.exists("/usr/bin/korvanel"):
                failures.append(f"not removed cleanly: {removed.stderr}")
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


def window_opens(user):
    """The installed desktop program under Xvfb shows its window."""
    script = ("/usr/bin/korvanel & player=$!; "
              "for i in $(seq 1 100); do xdotool search --name 'Korvanel Radio' >/dev/null 2>&1 && found=1 && break; "
              "sleep 0.1; done; kill -TERM $player; wait $player; test -n \"$found\"")
    shown = run("xvfb-run", "-a", "sh", "-c", script, env=dict(user, QT_QPA_PLATFORM="xcb", SDL_AUDIODRIVER="dummy"))
    return [] if shown.returncode == 0 else [f"no window from /usr/bin/korvanel: {shown.stdout} {shown.stderr}"]


if __name__ == "__main__":
    started = time.monotonic()
    result = main()
    print(f"took {time.monotonic() - started:.1f} s")
    sys.exit(result)
