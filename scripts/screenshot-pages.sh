#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures of the settings pages as an installer sees them: brings up a demo
# segment (eight simulated terminals and one that refuses every change),
# starts the workbench under Xvfb inside the tool-side namespace, clicks
# through the table with xdotool and grabs the screen after each step.
#
#   scripts/screenshot-pages.sh [en|cn] [OUTPUT_DIR]   # default: en, docs/
#
# Set FENWA_DEMO_NS and FENWA_DEMO_DIR to run beside other segments. Needs
# root (namespaces), Xvfb, xdotool and ImageMagick; build first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lang=${1:-en}
out=${2:-$root/docs}
bin=${FENWA_BIN:-$root/build/bin}
export FENWA_DEMO_DIR=${FENWA_DEMO_DIR:-$(mktemp -d /tmp/fenwa-pages.XXXXXX)}
TOOL_NS=${FENWA_DEMO_NS:-fenwa-demo}-tool
SIM_NS=${FENWA_DEMO_NS:-fenwa-demo}-sim

die() { echo "screenshot-pages: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root to run the demo segment (try sudo)"
for tool in Xvfb xdotool import convert; do command -v $tool >/dev/null || die "$tool is missing (scripts/setup.sh)"; done

xvfb_pid="" wb_pid="" refuser_pid="" clone_pid=""
scratch=$(mktemp -d /tmp/fenwa-pages-run.XXXXXX)
cleanup() {
  for pid in "$wb_pid" "$refuser_pid" "$clone_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  "$root/scripts/demo-segment.sh" down >/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# The first terminal reads uploads slowly, so the firmware batch is seen
# under way.
FENWA_SIM_ARGS="--web-fault slow:1" "$root/scripts/demo-segment.sh" up 8 >/dev/null
# One terminal more that answers every change with "busy": the batch result
# then has something to report.
ip netns exec "$SIM_NS" "$bin/fenwa-sim" --interface fwsim0 --count 1 --base-mac 02:fe:00:00:00:09 \
  --base-ip 192.168.1.109 --number-from 9 --result busy >"$scratch/refuser.out" 2>&1 &
refuser_pid=$!
# And a clone: a terminal with the third one's MAC and the sixth one's
# address, for the conflict marks. A host that is no terminal holds .108.
ip netns exec "$SIM_NS" "$bin/fenwa-sim" --interface fwsim0 --count 1 --base-mac 02:fe:00:00:00:03 \
  --base-ip 192.168.1.105 --number-from 10 >"$scratch/clone.out" 2>&1 &
clone_pid=$!
ip -n "$SIM_NS" link add fwhost0 link fwsim0 type macvlan mode bridge
ip -n "$SIM_NS" addr add 192.168.1.108/24 dev fwhost0
ip -n "$SIM_NS" link set fwhost0 up

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"

mkdir -p "$scratch/data/fenwa-workbench/configure" "$out"
printf '[General]\nlangage=%s\n' "$lang" >"$scratch/data/fenwa-workbench/configure/configure.ini"
# QT_FONT_DPI: a 100% desktop's Xft.dpi, which Xvfb does not set (Qt would scale by its screen's 100 dpi).
ip netns exec "$TOOL_NS" env DISPLAY="$DISPLAY" XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 \
  "$bin/fenwa-workbench" -geometry 1920x1080+0+0 >"$scratch/workbench.out" 2>&1 &
wb_pid=$!
sleep 4 # the first search takes two seconds

# The panel is the 300 pixels over the status bar (one row of text).
status_bar=22 panel_top=$((1080 - 22 - 300))
shot() { # name [panel|status]: the table with the dialogs over it, only the
  # settings panel, or the table's first rows over the status bar;
  # palette-reduced either way to keep the files small
  sleep 0.6
  import -window root "$scratch/shot.png"
  local geometry=(-crop 1780x640+0+0 +repage)
  [ "${2:-}" = panel ] && geometry=(-crop "940x300+0+$panel_top" +repage)
  [ "${2:-}" = status ] && geometry=(\( +clone -crop 1780x420+0+0 +repage \)
    \( -clone 0 -crop "1780x$status_bar+0+$((1080 - status_bar))" +repage \) -delete 0 -append)
  convert "$scratch/shot.png" "${geometry[@]}" -colors 64 "PNG8:$out/$1-$lang.png"
  echo "screenshot-pages: $out/$1-$lang.png"
}
# Table geometry: the columns' widths as they are seen (the status column
# after the play icon), a 21-pixel header under y = 50 and rows of 31 pixels.
widths=(30 40 30 150 200 130 200 150 150 150 170 170 150 80 150 200)
cell() { # row column: clicks the middle of a cell
  local x=2 i
  for ((i = 0; i < $2; i++)); do x=$((x + widths[i])); done
  xdotool mousemove $((x + widths[$2] / 2)) $((72 + 31 * $1 + 15)) click 1
}
panel() { xdotool mousemove "$1" $((panel_top + $2)) click 1; } # x, y inside the page
CHECK=0 IP=7 NAME=5 MAC=6 SIP=10 RTP=11 VERSION=12 VOLUME=13 SYSTEM=14

# The two terminals on the third MAC, and the two on .105, marked; the
# tooltip of a marked MAC names the other terminal.
# (A tooltip shows in the active window only: a click on the empty table first.)
xdotool mousemove 1100 700 click 1 && sleep 0.3
xdotool mousemove 680 $((72 + 31 * 2 + 10)) && sleep 0.3 && xdotool mousemove 682 $((72 + 31 * 2 + 15)) && sleep 1.5
shot conflicts status
cell 0 $IP && shot page-ip panel
cell 1 $NAME && shot page-name panel
cell 1 $MAC && shot page-mac panel
cell 2 $VOLUME && shot page-audio panel
cell 2 $SYSTEM && shot page-system panel
panel 450 215 && shot confirm-reboot # "Reboot all" with nothing ticked asks first
xdotool key Escape
cell 1 $NAME
panel 320 50 && xdotool key ctrl+a type "Hall"
panel 450 165 # "Set All": the refusing terminal is reported
sleep 2 && shot batch-result
xdotool key Return
# A stop with a command in flight: the refusing terminal falls silent, the
# batch is stopped while it waits for it (and its row stays ticked).
kill -STOP "$refuser_pid"
xdotool mousemove 17 61 click 1 && sleep 0.3 && xdotool click 1 # the header box: all rows, then none
panel 320 50 && xdotool key ctrl+a type "Lobby"
panel 450 165
sleep 1 && xdotool key Escape
sleep 1 && shot batch-stopped
xdotool key Return
kill -CONT "$refuser_pid"
cell 0 $SIP && shot page-sip panel
cell 0 $RTP && shot page-rtp panel
# A static Set All over two rows from .107: the eighth terminal, the host
# and the refusing terminal hold .107 to .109, and the report says so.
cell 9 $CHECK # the refusing terminal, still ticked from the batch above
cell 0 $CHECK && cell 1 $CHECK && cell 0 $IP
panel 170 80 && xdotool key ctrl+a type "192.168.1.107"
panel 450 165
sleep 3 && shot skipped-addresses
xdotool key Return
# Read the first terminal's accounts, tick two rows: Set All asks first.
cell 0 $SIP && cell 0 $CHECK && cell 1 $CHECK
panel 450 245 && shot confirm-sip
xdotool key Escape
head -c 1200000 /dev/zero >"$scratch/fw-2.5.0.bin"
cell 0 $VERSION
panel 400 50 && xdotool type "$scratch/fw-2.5.0.bin"
shot page-version panel
panel 150 165 # "Set": the slow terminal takes about 15 s
sleep 1.5 && shot firmware-progress
sleep 17 # the upload is through: the result box offers to wait (screenshot-live.sh shows it)
xdotool key Escape
