#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Demo segment: simulated terminals behind a veth pair between two network
# namespaces, so the tool can be tried without touching a real network.
#
#   scripts/demo-segment.sh up [N]   # N terminals (default 8)
#   scripts/demo-segment.sh down
#   scripts/demo-segment.sh status
#
# Then run tools on the tool side, e.g.
#   ip netns exec fenwa-demo-tool build/bin/fenwa-cli --interface fwtool0 search
#
# The terminals answer HTTP too (login and firmware upload at their own
# addresses), so firmware upgrades can be tried; FENWA_DEMO_WEB=0 leaves
# that off.
#
# Environment: FENWA_SIM (simulator binary, default build/bin/fenwa-sim),
# FENWA_DEMO_DIR (state file, command log and simulator output; default a
# fresh mktemp directory, remembered under /run/fenwa-demo until "down"),
# FENWA_DEMO_NS (namespace prefix, default fenwa-demo), FENWA_SIM_ARGS
# (further simulator options, e.g. "--web-fault slow:2"). Needs root
# (namespaces).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=netns-lib.sh
. "$root/scripts/netns-lib.sh"

# FENWA_DEMO_NS names the pair, so that two segments can stand side by side.
TOOL_NS=${FENWA_DEMO_NS:-fenwa-demo}-tool
SIM_NS=${FENWA_DEMO_NS:-fenwa-demo}-sim
TOOL_IF=fwtool0
SIM_IF=fwsim0
TOOL_ADDR=192.168.1.2/24
SIM=${FENWA_SIM:-$root/build/bin/fenwa-sim}
# Where a segment without FENWA_DEMO_DIR keeps the path of its mktemp
# directory: /run is root's alone, unlike /tmp, where a fixed name could be
# planted by anyone.
POINTER=/run/fenwa-demo/${FENWA_DEMO_NS:-fenwa-demo}.dir

die() { echo "demo-segment: $*" >&2; exit 1; }

# The state directory: FENWA_DEMO_DIR, else the one this segment's "up" made
# (only when root owns it), else a new one when new=1.
state_dir() {
  local new=${1:-0} dir=""
  if [ -n "${FENWA_DEMO_DIR:-}" ]; then
    mkdir -p "$FENWA_DEMO_DIR" && echo "$FENWA_DEMO_DIR"
    return
  fi
  [ -f "$POINTER" ] && dir=$(cat "$POINTER")
  if [ -n "$dir" ] && [ -d "$dir" ] && [ ! -L "$dir" ] && [ "$(stat -c %u "$dir")" = 0 ]; then
    echo "$dir"
  elif [ "$new" = 1 ]; then
    dir=$(mktemp -d /tmp/fenwa-demo.XXXXXX) || return 1
    install -d -m 0755 "$(dirname "$POINTER")" && echo "$dir" >"$POINTER" && echo "$dir"
  fi
}
DIR=$(state_dir) || DIR=""
PIDFILE=$DIR/fenwa-sim.pid
STATE=$DIR/state.json

sim_pid() {
  # The pid counts only while it is still a fenwa-sim.
  [ -f "$PIDFILE" ] || return 1
  local pid
  pid=$(cat "$PIDFILE")
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q fenwa-sim || return 1
  echo "$pid"
}

stop_sim() {
  local pid
  if pid=$(sim_pid); then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$PIDFILE"
}

cmd_up() {
  local count=${1:-8}
  [[ $count =~ ^[0-9]+$ ]] && [ "$count" -ge 1 ] || die "terminal count must be a positive number: $count"
  [ "$(id -u)" -eq 0 ] || die "needs root to create network namespaces (try sudo)"
  [ -x "$SIM" ] || die "no simulator at $SIM (build first: scripts/build.sh release, or set FENWA_SIM)"
  DIR=$(state_dir 1) || die "cannot make a state directory"
  PIDFILE=$DIR/fenwa-sim.pid
  STATE=$DIR/state.json
  netns_segment_up "$TOOL_NS" "$TOOL_IF" "$SIM_NS" "$SIM_IF" "$TOOL_ADDR" || die "cannot create the segment"
  if sim_pid >/dev/null; then
    echo "demo segment already up (simulator pid $(sim_pid))"
    return 0
  fi
  rm -f "$STATE"
  local web=(--web)
  [ "${FENWA_DEMO_WEB:-1}" = 0 ] && web=()
  # shellcheck disable=SC2086 # FENWA_SIM_ARGS is a list of options
  ip netns exec "$SIM_NS" "$SIM" --interface "$SIM_IF" --count "$count" "${web[@]}" ${FENWA_SIM_ARGS:-} \
    --state-file "$STATE" --command-log "$DIR/commands.log" >"$DIR/fenwa-sim.out" 2>&1 &
  local pid=$!
  echo "$pid" >"$PIDFILE"
  for _ in $(seq 100); do
    [ -f "$STATE" ] && break
    # Alive is enough here: until "ip netns exec" has run the simulator, the
    # process does not carry its name yet.
    kill -0 "$pid" 2>/dev/null || die "simulator exited: $(tail -n 3 "$DIR/fenwa-sim.out")"
    sleep 0.1
  done
  [ -f "$STATE" ] || { stop_sim; die "simulator not ready after 10 s"; }
  echo "demo segment up: $count terminal(s); run tools with: ip netns exec $TOOL_NS <program> (interface $TOOL_IF); state in $DIR"
}

cmd_down() {
  [ -n "$DIR" ] && stop_sim
  netns_segment_down "$TOOL_NS" "$SIM_NS" || die "cannot delete the namespaces"
  # The directory "up" made goes; one the caller named stays.
  if [ -z "${FENWA_DEMO_DIR:-}" ] && [ -n "$DIR" ]; then
    rm -rf "$DIR"
    rm -f "$POINTER"
  fi
  echo "demo segment down"
}

cmd_status() {
  local any=0 pid
  for ns in "$TOOL_NS" "$SIM_NS"; do
    if netns_exists "$ns"; then
      any=1
      echo "namespace $ns:"
      ip -n "$ns" -br addr show | sed 's/^/  /'
    else
      echo "namespace $ns: absent"
    fi
  done
  if pid=$(sim_pid); then
    echo "simulator: running, pid $pid, state $STATE"
  else
    echo "simulator: not running"
  fi
  [ $any -eq 1 ] || return 0
}

case "${1:-}" in
  up) shift; cmd_up "$@" ;;
  down) cmd_down ;;
  status) cmd_status ;;
  *) echo "usage: $0 up [N] | down | status" >&2; exit 2 ;;
esac
