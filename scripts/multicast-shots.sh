#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renews docs/multicast-files.png and docs/multicast-source.png: the
# multicast dialog under Xvfb with a play list streaming and with the capture
# sources of a PulseAudio server of its own, inside a network namespace of its
# own (lo only), so the stream in the picture never leaves this machine.
#   scripts/multicast-shots.sh [OUTDIR]     # default docs/; needs root, build first
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs}
bin=${FENWA_BIN:-$root/build/bin}
die() { echo "multicast-shots: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root for its network namespace"
[ -x "$bin/multicast-shots" ] || die "no $bin/multicast-shots (build first: scripts/build.sh release)"

scratch=$(mktemp -d /tmp/fenwa-mshots.XXXXXX)
ns=fenwa-mshots-$$
xvfb_pid="" pulse_pid=""
cleanup() {
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null && wait "$pulse_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  ip netns delete "$ns" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

display=120
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!

export XDG_RUNTIME_DIR=$scratch PULSE_RUNTIME_PATH=$scratch HOME=$scratch PULSE_SERVER=unix:$scratch/native
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$scratch/native" \
  -L "module-null-sink sink_name=hall sink_properties=device.description=\"Hall\\ speakers\"" \
  -L "module-null-sink sink_name=desk sink_properties=device.description=\"Desk\\ headphones\"" \
  -L "module-null-source source_name=mic description='Desk microphone'" \
  >"$scratch/pulse.log" 2>&1 &
pulse_pid=$!

# A play list an installer might have: names with spaces, a long file.
mkdir -p "$scratch/music"
make() { ffmpeg -hide_banner -loglevel error -f lavfi -i "sine=frequency=$2:duration=$3:sample_rate=$4" -c:a libmp3lame -y "$scratch/music/$1"; }
make "Announcement - hall A.mp3" 440 65 44100
make "Test tone 1 kHz.mp3" 1000 30 44100
make "Evening music.mp3" 330 3725 8000

ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" route add 224.0.0.0/4 dev lo
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && [ -e "$scratch/native" ] && break; sleep 0.1; done
mkdir -p "$out"
ip netns exec "$ns" env DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$scratch/data" \
  "$bin/multicast-shots" "$out" "$scratch/music/Announcement - hall A.mp3" "$scratch/music/Test tone 1 kHz.mp3" \
  "$scratch/music/Evening music.mp3" >"$scratch/shots.log" 2>&1 || die "the dialog failed: $(tail -n 5 "$scratch/shots.log")"
echo "multicast-shots: $out/multicast-files.png $out/multicast-source.png"
