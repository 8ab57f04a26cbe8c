#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent and quiet when everything is present: it only calls apt-get for
# packages that dpkg does not report as installed.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang
  # sanitizer and libFuzzer runtimes for clang (test-tsan, fuzz)
  libclang-rt-dev
  # core libraries
  libexpat1-dev libssl-dev nlohmann-json3-dev
  # audio engine
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libsdl2-dev libpulse-dev
  libmp3lame0
  # loudness levelling (EBU R128)
  libebur128-dev
  # desktop window
  qt6-base-dev fonts-dejavu-core
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  icecast2 ffmpeg vorbis-tools mp3val tinyproxy xvfb xauth python3 openssl
  # a second player that must open the station lists we export
  mpv
  # what checks the Opus and FLAC files we record
  opus-tools flac
  # a private sound server with a null sink, heard back through its monitor,
  # as PulseAudio and as PipeWire's PulseAudio server
  pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber
  # the desktop window seen from outside: keys, clicks and screenshots
  xdotool imagemagick python3-xlib
  # the media player interface seen from outside, on a bus of the tests' own
  dbus-daemon playerctl
  # what a screen reader and a desktop's notification server see of it
  at-spi2-core python3-pyatspi dunst
  # the installed desktop entry and AppStream data checked as the desktop would
  desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
