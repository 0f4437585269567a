#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes a picture of the workbench after its first search on the demo
# segment: brings the segment up, starts the workbench under Xvfb inside the
# tool-side namespace (never on the real network), waits for the search to
# end, grabs the screen and tears everything down again.
#
#   scripts/screenshot.sh [--keep-segment] [OUTPUT.png]   # default docs/workbench.png
#
# --keep-segment uses a demo segment that is already up and leaves it up.
# Needs root (namespaces), Xvfb and ImageMagick's import; build first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keep=0
if [ "${1:-}" = "--keep-segment" ]; then keep=1; shift; fi
out=${1:-$root/docs/workbench.png}
bin=${FENWA_BIN:-$root/build/bin}
workbench=$bin/fenwa-workbench
TOOL_NS=${FENWA_DEMO_NS:-fenwa-demo}-tool
terminals=${FENWA_SCREENSHOT_TERMINALS:-8}

die() { echo "screenshot: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root to run the demo segment (try sudo)"
[ -x "$workbench" ] || die "no workbench at $workbench (build first: scripts/build.sh release)"
command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/setup.sh installs it)"
command -v import >/dev/null || die "ImageMagick's import is missing (scripts/setup.sh installs it)"

xvfb_pid="" wb_pid="" segment_up=0
scratch=$(mktemp -d /tmp/fenwa-shot.XXXXXX)
cleanup() {
  [ -n "$wb_pid" ] && kill "$wb_pid" 2>/dev/null && wait "$wb_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  if [ "$segment_up" -eq 1 ]; then "$root/scripts/demo-segment.sh" down >/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

if [ "$keep" -eq 0 ]; then
  "$root/scripts/demo-segment.sh" up "$terminals" >/dev/null
  segment_up=1
fi

# A display number nobody uses.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || die "Xvfb did not start: $(cat "$scratch/xvfb.log")"

# Its own configuration and log, so the picture shows the default English
# interface whatever the operator chose.
logdir="$scratch/data/fenwa-workbench/log"
# The X server's socket is a file, reachable from any network namespace.
# Xvfb has no window manager to maximise the window; Qt's own -geometry
# option gives it the whole screen, as an installer's desktop would.
# QT_FONT_DPI: a 100% desktop's Xft.dpi, which Xvfb does not set (Qt would scale by its screen's 100 dpi).
ip netns exec "$TOOL_NS" env DISPLAY=":$display" XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 \
  "$workbench" -geometry 1920x1080+0+0 >"$scratch/workbench.out" 2>&1 &
wb_pid=$!

# The run's log gets its first reply during the search; the dialog closes
# when the two-second collection is over.
log=""
for _ in $(seq 100); do
  log=$(find "$logdir" -name '*.log' 2>/dev/null | sort | tail -n 1 || true)
  [ -n "$log" ] && grep -q ') recv ' "$log" && break
  kill -0 "$wb_pid" 2>/dev/null || die "the workbench exited: $(tail -n 5 "$scratch/workbench.out")"
  sleep 0.1
done
[ -n "$log" ] && grep -q ') recv ' "$log" || die "no reply reached the workbench in 10 s"
sleep 3

mkdir -p "$(dirname "$out")"
DISPLAY=":$display" import -window root "$out"
echo "screenshot: $out ($(grep -c ') recv ' "$log") replies logged)"
