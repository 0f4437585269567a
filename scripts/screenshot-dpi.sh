#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The workbench on a 100% and on a 200% desktop (96 and 192 dpi), side by
# side: brings up a demo segment of forty simulated terminals, starts the
# workbench under Xvfb inside the tool-side namespace once per dpi (a
# screen of 1920x1080 device-independent pixels each time), shows every
# settings page and a forty-row plan, and grabs the screen after each step.
#
#   scripts/screenshot-dpi.sh [en|cn] [OUTPUT_DIR]   # default: en, docs/
#
# Writes OUTPUT_DIR/hidpi-window-LANG.png and hidpi-plan-LANG.png (96 dpi on
# the left, 192 on the right); FENWA_SHOTS_DIR keeps every single shot
# (NAME-LANG-DPI.png) for a closer look. Set FENWA_DEMO_NS and FENWA_DEMO_DIR
# to run beside other segments. Needs root (namespaces), Xvfb, xdotool and
# ImageMagick; build first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lang=${1:-en}
out=${2:-$root/docs}
bin=${FENWA_BIN:-$root/build/bin}
export FENWA_DEMO_DIR=${FENWA_DEMO_DIR:-$(mktemp -d /tmp/fenwa-dpi.XXXXXX)}
TOOL_NS=${FENWA_DEMO_NS:-fenwa-demo}-tool

die() { echo "screenshot-dpi: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root to run the demo segment (try sudo)"
for tool in Xvfb xdotool import convert; do command -v $tool >/dev/null || die "$tool is missing (scripts/setup.sh)"; done

xvfb_pid="" wb_pid=""
scratch=$(mktemp -d /tmp/fenwa-dpi-run.XXXXXX)
shots=${FENWA_SHOTS_DIR:-$scratch/shots}
stop_run() {
  for pid in "$wb_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  wb_pid="" xvfb_pid=""
}
cleanup() {
  stop_run
  "$root/scripts/demo-segment.sh" down >/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$shots" "$out"

"$root/scripts/demo-segment.sh" up 40 >/dev/null
# Forty rows, two of them refused (this PC's address, an address that is
# none), the changes one line each.
{
  echo "mac;name;ip;sip1_account;sip1_password;sip1_server_host"
  for i in $(seq 40); do
    ip="192.168.1.$((150 + i))"
    [ "$i" -eq 7 ] && ip=192.168.1.2
    [ "$i" -eq 23 ] && ip=192.168.1.300
    printf '02:fe:00:00:00:%02x;Meeting room %02d;%s;20%02d;s3cret;10.0.0.5\n' "$i" "$i" "$ip" "$i"
  done
} >"$scratch/plan-40.csv"
# A backup of the site, for the restore onto a replacement.
ip netns exec "$TOOL_NS" "$bin/fenwa-cli" --interface fwtool0 backup --all --output "$scratch/site.json" 2>/dev/null

run() { # dpi: one run of the workbench on a screen of that dpi
  local dpi=$1 s=$(($1 / 96)) display=99
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 "$((1920 * s))x$((1080 * s))x24" -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  export DISPLAY=":$display"
  rm -rf "$scratch/data"
  mkdir -p "$scratch/data/fenwa-workbench/configure"
  printf '[General]\nlangage=%s\n' "$lang" >"$scratch/data/fenwa-workbench/configure/configure.ini"
  # QT_FONT_DPI stands for the desktop's Xft.dpi (Xvfb has no desktop).
  ip netns exec "$TOOL_NS" env DISPLAY="$DISPLAY" XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=xcb \
    QT_FONT_DPI="$dpi" "$bin/fenwa-workbench" -geometry 1920x1080+0+0 >"$scratch/workbench.out" 2>&1 &
  wb_pid=$!
  sleep 5 # the first search takes two seconds

  click() { xdotool mousemove $(($1 * s)) $(($2 * s)) click 1; } # x, y in device-independent pixels
  shot() { # name x y width height, in device-independent pixels
    sleep 0.8
    import -window root "$scratch/shot.png"
    convert "$scratch/shot.png" -crop "$(($4 * s))x$(($5 * s))+$(($2 * s))+$(($3 * s))" +repage \
      -colors 96 "PNG8:$shots/$1-$lang-$dpi.png"
  }
  # Cells: the columns' widths, a header under y = 50 and rows of 31.
  local widths=(30 40 30 200 130 200 150 150 150 170 170 150 80 150 200)
  cell() { # row column
    local x=2 i
    for ((i = 0; i < $2; i++)); do x=$((x + widths[i])); done
    click $((x + widths[$2] / 2)) $((72 + 31 * $1 + 15))
  }
  local name column
  for name in name:4 mac:5 ip:6 sip:9 rtp:10 version:11 audio:12 system:13; do
    column=${name#*:}
    cell 0 "$column"
    sleep 0.5
    shot "page-${name%%:*}" 0 690 960 390 # the panel, over the status bar
  done
  cell 2 6
  shot window 0 0 960 1080
  click 635 25 # "Site"
  sleep 0.5
  xdotool key Down Down Down Return # "Open plan..."
  sleep 1
  xdotool type "$scratch/plan-40.csv"
  xdotool key Return
  sleep 6 # forty SIP accounts read, the new addresses probed
  shot plan 440 190 1040 680
  xdotool key Escape
  sleep 0.5
  cell 3 0 # the replacement, ticked
  click 635 25
  sleep 0.5
  xdotool key Down Down Down Down Return # "Restore onto replacement..."
  sleep 1
  xdotool type "$scratch/site.json"
  xdotool key Return
  sleep 1
  shot restore 560 340 800 400 # which terminal it replaces
  stop_run
}

run 96
run 192
for name in window plan; do
  convert "$shots/$name-$lang-96.png" "$shots/$name-$lang-192.png" -background white -gravity north +append \
    -colors 96 "PNG8:$out/hidpi-$name-$lang.png"
  echo "screenshot-dpi: $out/hidpi-$name-$lang.png"
done
