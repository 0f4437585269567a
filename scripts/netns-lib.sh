#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Shell helpers for test segments: two network namespaces joined by a veth
# pair, so frames between the tool and simulated terminals never reach a real
# interface. Source this file; every function returns non-zero on failure.
#
# A test run claims its segment (netns_claim): a lock file it holds for as
# long as it lives. A segment whose lock anyone can take belongs to a run
# that has ended, in whatever pid or mount namespace it ran, and
# netns_remove_stale deletes it; a live run's segment cannot be taken.
# tests/e2e/e2e_segment.cpp claims its segments by the same rule.
NETNS_LOCK_DIR=/run/fenwa-netns

# netns_segment_up TOOL_NS TOOL_IF SIM_NS SIM_IF [TOOL_ADDR/PREFIX]
# Creates both namespaces (kept when they exist), the veth pair between them
# (kept when TOOL_IF exists already) and brings both ends up.
netns_segment_up() {
  local tool_ns=$1 tool_if=$2 sim_ns=$3 sim_if=$4 addr=${5:-}
  netns_exists "$tool_ns" || ip netns add "$tool_ns" || return 1
  netns_exists "$sim_ns" || ip netns add "$sim_ns" || return 1
  if ! ip -n "$tool_ns" link show "$tool_if" >/dev/null 2>&1; then
    # Made inside the tool namespace and its peer moved out: the pair never
    # exists in the caller's namespace, not even for a moment.
    ip -n "$tool_ns" link add "$tool_if" type veth peer name "$sim_if" netns "$sim_ns" || return 1
  fi
  # No IPv6 on a test segment: its router solicitations and neighbour
  # discovery would be the only other frames on the wire.
  ip netns exec "$tool_ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 2>/dev/null || true
  ip netns exec "$sim_ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 2>/dev/null || true
  ip -n "$tool_ns" link set lo up || return 1
  ip -n "$sim_ns" link set lo up || return 1
  ip -n "$tool_ns" link set "$tool_if" up || return 1
  ip -n "$sim_ns" link set "$sim_if" up || return 1
  # Until the kernel's link watch has seen the carrier (up to a second) the
  # ends drop every frame.
  netns_wait_carrier "$tool_ns" "$tool_if" || return 1
  netns_wait_carrier "$sim_ns" "$sim_if" || return 1
  if [ -n "$addr" ] && ! ip -n "$tool_ns" -4 addr show dev "$tool_if" | grep -q " ${addr%/*}/"; then
    ip -n "$tool_ns" addr add "$addr" dev "$tool_if" || return 1
  fi
}

# netns_segment_made TOOL_NS TOOL_IF SIM_NS SIM_IF TOOL_ADDR/PREFIX: whether
# both ends are there and up, the tool's with its address: what a caller
# judges the set-up by, whatever it printed.
netns_segment_made() {
  ip -n "$1" -4 -o addr show dev "$2" up 2>/dev/null | grep -q " ${5%/*}/" &&
    [ "$(ip netns exec "$3" cat "/sys/class/net/$4/operstate" 2>/dev/null)" = up ]
}

# netns_wait_carrier NS IF: waits up to 5 s for IF to be operationally up.
netns_wait_carrier() {
  local _
  for _ in $(seq 100); do
    [ "$(ip netns exec "$1" cat "/sys/class/net/$2/operstate" 2>/dev/null)" = up ] && return 0
    sleep 0.05
  done
  echo "netns: $2 in $1 did not come up" >&2
  return 1
}

# netns_segment_down NS...: deletes the namespaces that exist (their veth
# ends go with them).
netns_segment_down() {
  local ns
  for ns in "$@"; do
    if netns_exists "$ns"; then
      ip netns delete "$ns" || return 1
    fi
  done
}

# netns_exists NS: whether the name is taken. Not from "ip netns list", which
# cannot open namespaces mounted in another mount namespace, says so on
# stderr, and would match NS as the start of a longer name.
netns_exists() {
  [ -e "/run/netns/$1" ]
}

# netns_claim TAG NS...: takes TAG's lock for the rest of this shell's life
# (or until netns_release) and records the namespaces NS... under it. Fails
# when a live run holds TAG.
netns_claim() {
  local lock=$NETNS_LOCK_DIR/$1.lock
  shift
  mkdir -p "$NETNS_LOCK_DIR" || return 1
  exec {NETNS_LOCK_FD}<>"$lock" || return 1
  # A stale removal may have deleted the file between our open and our lock.
  if ! flock -n "$NETNS_LOCK_FD" ||
    [ "$(stat -c %d:%i "$lock" 2>/dev/null)" != "$(stat -L -c %d:%i "/dev/fd/$NETNS_LOCK_FD")" ]; then
    exec {NETNS_LOCK_FD}>&-
    return 1
  fi
  printf '%s\n' "$@" >"$lock" || return 1
  NETNS_LOCK_FILE=$lock
}

# netns_release: gives up the claim, once its namespaces are gone.
netns_release() {
  [ -n "${NETNS_LOCK_FILE:-}" ] || return 0
  rm -f "$NETNS_LOCK_FILE"
  exec {NETNS_LOCK_FD}>&-
  NETNS_LOCK_FILE=
}

# netns_remove_stale: deletes the namespaces of every claimed segment whose
# lock nobody holds, and the lock.
netns_remove_stale() {
  local lock fd ns
  for lock in "$NETNS_LOCK_DIR"/*.lock; do
    { exec {fd}<"$lock"; } 2>/dev/null || continue
    if flock -n "$fd"; then
      while read -r ns; do
        if [ -n "$ns" ] && netns_exists "$ns"; then ip netns delete "$ns"; fi
      done <&"$fd"
      rm -f "$lock"
    fi
    exec {fd}<&-
  done
  return 0
}
