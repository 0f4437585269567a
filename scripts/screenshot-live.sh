#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures of the live view, of waiting for terminals after a firmware
# batch, and of the handover report's first two pages:
#
#   scripts/screenshot-live.sh [en|cn] [OUTPUT_DIR]   # default: en, docs/
#
# Brings up a demo segment (six terminals, two more on a simulator of their
# own that is stopped, one that appears later), starts the workbench with
# "Keep searching" under Xvfb inside the tool-side namespace, renames one
# terminal from fenwa-cli meanwhile, then upgrades the first six and waits
# for them. The report comes from fenwa-cli on a segment of forty terminals
# of two types and versions, rendered with pdftoppm. Takes about two
# minutes. Needs root (namespaces), Xvfb, xdotool, ImageMagick and
# poppler-utils; build first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lang=${1:-en}
out=${2:-$root/docs}
bin=${FENWA_BIN:-$root/build/bin}
export FENWA_DEMO_DIR=${FENWA_DEMO_DIR:-$(mktemp -d /tmp/fenwa-live.XXXXXX)}
export FENWA_DEMO_NS=${FENWA_DEMO_NS:-fenwa-live}
TOOL_NS=$FENWA_DEMO_NS-tool
SIM_NS=$FENWA_DEMO_NS-sim

die() { echo "screenshot-live: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root to run the demo segment (try sudo)"
for tool in Xvfb xdotool import convert pdftoppm; do command -v $tool >/dev/null || die "$tool is missing (scripts/setup.sh)"; done

xvfb_pid="" wb_pid="" leaving_pid="" late_pid=""
scratch=$(mktemp -d /tmp/fenwa-live-run.XXXXXX)
cleanup() {
  for pid in "$wb_pid" "$leaving_pid" "$late_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  "$root/scripts/demo-segment.sh" down >/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
cli() { ip netns exec "$TOOL_NS" "$bin/fenwa-cli" --interface fwtool0 "$@"; }
sim() { # extra simulator options: a simulator of its own on the segment
  ip netns exec "$SIM_NS" "$bin/fenwa-sim" --interface fwsim0 "$@" >>"$scratch/sims.out" 2>&1 &
}

# Six terminals restart for 10 to 30 s after an upload.
FENWA_SIM_ARGS="--reboot-ms 10000:1,2 --reboot-ms 20000:3,4 --reboot-ms 30000:5,6" \
  "$root/scripts/demo-segment.sh" up 6 >/dev/null
sim --count 2 --base-mac 02:fe:00:00:00:07 --base-ip 192.168.1.106 --number-from 7
leaving_pid=$!

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"

mkdir -p "$scratch/data/fenwa-workbench/configure" "$out"
printf '[General]\nlangage=%s\nkeep%%20searching=1\n' "$lang" >"$scratch/data/fenwa-workbench/configure/configure.ini"
ip netns exec "$TOOL_NS" env DISPLAY="$DISPLAY" XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=xcb \
  "$bin/fenwa-workbench" -geometry 1920x1080+0+0 >"$scratch/workbench.out" 2>&1 &
wb_pid=$!
sleep 5 # the first search takes two seconds

shot() { # name: the table and what is over it, with the status bar under it
  sleep 0.6
  import -window root "$scratch/shot.png"
  convert "$scratch/shot.png" \( +clone -crop 1780x460+0+0 +repage \) \( -clone 0 -crop 1780x22+0+1058 +repage \) \
    -delete 0 -append -colors 64 "PNG8:$out/$1-$lang.png"
  echo "screenshot-live: $out/$1-$lang.png"
}
dialog() { # name: only the dialog in front (the last window shown that is not the main one)
  sleep 0.6
  local id="" w
  for w in $(xdotool search --onlyvisible --name '.'); do
    case $(xdotool getwindowname "$w") in *Fenwa*) ;; *) id=$w ;; esac
  done
  [ -n "$id" ] || die "no dialog for $1"
  import -window "$id" -colors 64 "PNG8:$out/$1-$lang.png"
  echo "screenshot-live: $out/$1-$lang.png"
}

# Two terminals leave, one arrives, one is renamed by someone else: after two
# rounds (10 s each) the table shows all of it without a search by hand.
kill "$leaving_pid" && wait "$leaving_pid" 2>/dev/null || true
leaving_pid=""
sim --count 1 --base-mac 02:fe:00:00:00:21 --base-ip 192.168.1.121 --number-from 21
late_pid=$!
cli set-name "Lobby west" --mac 02:fe:00:00:00:03 >/dev/null
sleep 27
xdotool mousemove 1100 900 click 1 && sleep 0.3
shot live-table

# Firmware to the six: the result box offers to wait, the wait counts them
# back with their versions.
head -c 300000 /dev/zero >"$scratch/fw-2.5.0.bin"
for row in 0 1 2 3 4 5; do xdotool mousemove 17 $((72 + 31 * row + 15)) click 1; sleep 0.1; done
# Version column, visually after the check, number, play and status columns.
xdotool mousemove $((2 + 30 + 40 + 30 + 150 + 200 + 130 + 200 + 150 + 150 + 150 + 170 + 170 + 75)) 87 click 1
sleep 0.5
panel_top=$((1080 - 22 - 300))
xdotool mousemove 400 $((panel_top + 50)) click 1 && xdotool type "$scratch/fw-2.5.0.bin"
xdotool mousemove 450 $((panel_top + 165)) click 1 # Set All
sleep 1 && xdotool key shift+Tab space # the confirmation: "Upgrade" (Cancel is the default)
sleep 4 && dialog firmware-wait-offer
xdotool key Return # "Wait for them"
sleep 20 && dialog firmware-wait-progress
sleep 15 && dialog firmware-wait-result
xdotool key Return
kill "$wb_pid" && wait "$wb_pid" 2>/dev/null || true
wb_pid=""

# The report: forty terminals, two types, two firmware versions (ten
# upgraded), SIP accounts and RTP channels, a clone on the third one's MAC.
kill "$late_pid" && wait "$late_pid" 2>/dev/null || true
late_pid=""
"$root/scripts/demo-segment.sh" down >/dev/null
FENWA_SIM_ARGS="--types VQ40,VQT40,VQ40 --reboot-ms 1000" "$root/scripts/demo-segment.sh" up 40 >/dev/null
sim --count 1 --base-mac 02:fe:00:00:00:03 --base-ip 192.168.1.149 --number-from 50
late_pid=$!
printf '%s' '{"sip0":{"serverHost":"10.0.0.9","serverPort":"5060","account":"801","password":"x1","displayName":"Hall"},"sip1":{"serverHost":"10.0.0.10","serverPort":"5060","account":"901","password":"x2","displayName":"Hall"}}' >"$scratch/sip.json"
cli set-sip "@$scratch/sip.json" --mac 02:fe:00:00:00:01 --mac 02:fe:00:00:00:02 >/dev/null 2>&1 || true
cli set-rtp '[{"enable":1,"rtpIP":"239.1.1.1","rtpPort":6000},{"enable":1,"rtpIP":"239.1.1.2","rtpPort":6002}]' \
  --mac 02:fe:00:00:00:01 --mac 02:fe:00:00:00:04 >/dev/null 2>&1 || true
cli set-name "Lobby west" --mac 02:fe:00:00:00:04 >/dev/null 2>&1 || true
upgrade=()
for i in $(seq 31 40); do upgrade+=(--mac "$(printf '02:fe:00:00:00:%02x' "$i")"); done
cli firmware "$scratch/fw-2.5.0.bin" "${upgrade[@]}" --wait 20 >/dev/null 2>&1 || true
XDG_DATA_HOME="$scratch/data" cli report "$scratch/report.pdf" --site "Harbour Hotel" --by "R. Installer" \
  --language "$lang" >/dev/null
pdftoppm -r 60 -f 1 -l 2 -png "$scratch/report.pdf" "$scratch/page"
for n in 1 2; do
  convert "$scratch/page-$n.png" -bordercolor '#999999' -border 1 -colors 64 "PNG8:$out/report-page$n-$lang.png"
  echo "screenshot-live: $out/report-page$n-$lang.png"
done
