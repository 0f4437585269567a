#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, tested as an installer meets it: build it, lint it,
# install it, search with the installed fenwa-cli as a member of the group
# fenwa (terminals found) and as a user outside it (the permission message,
# exit 1), start the installed workbench as the member, purge the package,
# and check that nothing is left: files, group, capabilities. Users,
# namespaces and temporary files are this script's own and go at the end.
#
#   scripts/package-test.sh [BUILD_DIR]     (root; default build/)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
. "$root/scripts/netns-lib.sh"

package=fenwa-workbench
group=fenwa
helper=/usr/lib/fenwa-workbench/fenwa-capture
tag=fwp$$
user_in=${tag}in user_out=${tag}out
tool_ns=$tag-t sim_ns=$tag-s tool_if=$tag-t0 sim_if=$tag-s0
work=$(mktemp -d)
chmod 0755 "$work"
installed=0 sim_pid="" failures=0

die() { echo "package-test: $*" >&2; exit 1; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok   $*"; }

cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  netns_segment_down "$tool_ns" "$sim_ns"
  for u in "$user_in" "$user_out"; do id "$u" >/dev/null 2>&1 && userdel "$u"; done
  [ "$installed" -eq 1 ] && dpkg --purge "$package" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

[ "$(id -u)" -eq 0 ] || die "needs root (it installs the package)"
# Never over someone's own installation or group: the purge would take them.
dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' &&
  die "$package is installed on this machine already; not testing over it"
getent group "$group" >/dev/null && die "a group \"$group\" exists already; not testing over it"

cmake --build "$build" --target package >/dev/null || die "cannot build the package"
# shellcheck disable=SC2012 # the newest of our own packages: plain names
deb=$(ls -t "$build"/${package}_*.deb | head -n 1)
[ -f "$deb" ] || die "no package in $build"

# Lint: no errors, and no warning but those accepted in docs/packaging.md.
# shellcheck disable=SC2016 # the backticks are the table's, not a command
accepted=$(sed -n 's/^| `\([a-z0-9-]*\)` | [WIX] |.*/\1/p' "$root/docs/packaging.md" | paste -sd,)
lint=$(lintian --suppress-tags "$accepted" "$deb" 2>&1 | grep -v 'running with root privileges')
if [ -z "$lint" ]; then ok "lintian: no errors, only accepted warnings"; else fail "lintian: $lint"; fi

# Counted as installed before the attempt: a package whose maintainer
# script failed stays half-installed and must be purged all the same.
installed=1
DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "$deb" \
  >"$work/install.log" 2>&1 || { cat "$work/install.log"; die "cannot install $deb"; }
desktop-file-validate /usr/share/applications/fenwa-workbench.desktop && ok "desktop entry validates" ||
  fail "desktop-file-validate"
[ "$(stat -c '%U:%G %a' "$helper")" = "root:$group 750" ] && ok "helper is root:$group 0750" ||
  fail "helper is $(stat -c '%U:%G %a' "$helper")"
caps=$(dpkg -L "$package" | while read -r f; do [ -f "$f" ] && getcap "$f"; done)
[ "$caps" = "$helper cap_net_raw=p" ] && ok "only the helper holds a capability, cap_net_raw" || fail "capabilities: $caps"
ldd "$helper" | grep -qi 'libQt' && fail "the helper links Qt" || ok "the helper links no Qt"

useradd --system --no-create-home --shell /usr/sbin/nologin --groups "$group" "$user_in" || die "useradd"
useradd --system --no-create-home --shell /usr/sbin/nologin "$user_out" || die "useradd"
netns_segment_up "$tool_ns" "$tool_if" "$sim_ns" "$sim_if" 192.168.9.2/24 || die "cannot make the test namespaces"
ip netns exec "$sim_ns" /usr/bin/fenwa-sim --interface "$sim_if" --count 4 --state-file "$work/state.json" \
  >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -f "$work/state.json" ] && break; sleep 0.1; done
[ -f "$work/state.json" ] || die "the installed simulator did not start: $(cat "$work/sim.out")"

as_user() { # user, then a command; a home of its own, nothing of root's environment
  local user=$1 home="$work/home-$1"
  shift
  mkdir -p "$home" && chown "$user" "$home"
  ip netns exec "$tool_ns" setpriv --reuid "$user" --regid "$(id -g "$user")" --init-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin "$@"
}

out=$(as_user "$user_in" /usr/bin/fenwa-cli --interface "$tool_if" --time 500 search 2>&1)
rc=$?
[ $rc -eq 0 ] && [ "$(grep -c '"mac"' <<<"$out")" -eq 4 ] && ok "a member of $group finds the 4 terminals" ||
  fail "member search: rc=$rc $out"

out=$(as_user "$user_out" /usr/bin/fenwa-cli --interface "$tool_if" --time 500 search 2>&1)
rc=$?
[ $rc -eq 1 ] && grep -q "not permitted.*\"$group\"" <<<"$out" && ok "a user outside $group is told to join it, exit 1" ||
  fail "outsider search: rc=$rc $out"

as_user "$user_in" env QT_QPA_PLATFORM=offscreen timeout 6 /usr/bin/fenwa-workbench >"$work/workbench.out" 2>&1
logs=("$work/home-$user_in"/.local/share/fenwa-workbench/log/*.log)
log=${logs[0]}
[ -f "$log" ] && [ "$(grep -c ') recv ' "$log")" -ge 4 ] && [ "$(stat -c %a "$log")" = 600 ] &&
  ok "the installed workbench, started by a member, finds the terminals and logs them privately" ||
  fail "workbench: $(tail -n 5 "$work/workbench.out")"

files=$(dpkg -L "$package")
kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""
DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=600 purge -y "$package" >"$work/purge.log" 2>&1 ||
  fail "purge: $(tail -n 5 "$work/purge.log")"
installed=0
left=$(while read -r f; do [ -f "$f" ] && echo "$f"; done <<<"$files"; [ -e /usr/lib/fenwa-workbench ] && echo /usr/lib/fenwa-workbench)
[ -z "$left" ] && ok "purge leaves no file" || fail "left behind: $left"
getent group "$group" >/dev/null && fail "the group $group is left" || ok "purge removes the group"
dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed && fail "still installed" || ok "package gone"

[ $failures -eq 0 ] || { echo "package-test: $failures failed"; exit 1; }
echo "package-test: all passed"
