#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures of a site plan as an installer sees it: the preview with a row
# refused (it asks for this PC's address) and a row to check (its SIP
# account is the terminal's 0802 as a spreadsheet saves it, 802), with that
# row's details below, and the result of the apply (one terminal answers
# every change with "busy"). Brings up a demo segment, starts the workbench
# under Xvfb inside the tool-side namespace and drives "Site" -> "Open
# plan..." with xdotool.
#
#   scripts/screenshot-plan.sh [en|cn] [OUTPUT_DIR]   # default: en, docs/
#
# Set FENWA_DEMO_NS and FENWA_DEMO_DIR to run beside other segments. Needs
# root (namespaces), Xvfb, xdotool and ImageMagick; build first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lang=${1:-en}
out=${2:-$root/docs}
bin=${FENWA_BIN:-$root/build/bin}
export FENWA_DEMO_DIR=${FENWA_DEMO_DIR:-$(mktemp -d /tmp/fenwa-plan-shots.XXXXXX)}
TOOL_NS=${FENWA_DEMO_NS:-fenwa-demo}-tool
SIM_NS=${FENWA_DEMO_NS:-fenwa-demo}-sim

die() { echo "screenshot-plan: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root to run the demo segment (try sudo)"
for tool in Xvfb xdotool import convert; do command -v $tool >/dev/null || die "$tool is missing (scripts/setup.sh)"; done

xvfb_pid="" wb_pid="" refuser_pid=""
scratch=$(mktemp -d /tmp/fenwa-plan-run.XXXXXX)
cleanup() {
  for pid in "$wb_pid" "$refuser_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  "$root/scripts/demo-segment.sh" down >/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

"$root/scripts/demo-segment.sh" up 4 >/dev/null
ip netns exec "$SIM_NS" "$bin/fenwa-sim" --interface fwsim0 --count 1 --base-mac 02:fe:00:00:00:09 \
  --base-ip 192.168.1.109 --result busy >"$scratch/refuser.out" 2>&1 &
refuser_pid=$!

# The result of an earlier apply gave terminal 2 the account 0802.
printf 'mac,sip1_account,sip1_server_host\n02:fe:00:00:00:02,0802,10.0.0.5\n' >"$scratch/earlier.csv"
ip netns exec "$TOOL_NS" "$bin/fenwa-cli" --interface fwtool0 --time 1000 plan apply "$scratch/earlier.csv" >/dev/null

cat >"$scratch/site-plan.csv" <<'PLAN'
mac;name;ip;sip1_account;sip1_password;sip1_server_host;mic_volume
02:fe:00:00:00:01;Hall A;192.168.1.21;1001;s3cret;10.0.0.5;60
02:fe:00:00:00:02;Gate north;192.168.1.22;802;;;
02:fe:00:00:00:03;Lobby;192.168.1.2;1003;s3cret;10.0.0.5;
02:fe:00:00:00:04;Stairs;;;;;
02:fe:00:00:00:09;Roof;;;;;
PLAN

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

shot() { # name: the middle of the screen, where the dialogs open
  sleep 0.8
  import -window root "$scratch/shot.png"
  convert "$scratch/shot.png" -crop 1000x640+460+220 +repage -colors 64 "PNG8:$out/$1-$lang.png"
  echo "screenshot-plan: $out/$1-$lang.png"
}

xdotool mousemove 760 25 click 1 # "Site", after "Settings"
sleep 0.5
xdotool key Down Down Down Return # "Open plan..."
sleep 1
xdotool type "$scratch/site-plan.csv"
xdotool key Return
sleep 2 # the SIP accounts are read first
xdotool mousemove 760 285 click 1 # the second row: the one to check
shot plan-preview
xdotool key Return # "Apply"
sleep 5 # the busy terminal answers every command at once
shot plan-result
xdotool key Return
shot plan-outcome
