#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# fenwa-cli end to end: simulated terminals behind a veth pair between two
# namespaces this script makes (and removes), the CLI on the other side.
#   cli_e2e.sh BIN_DIR SCRIPTS_DIR
# The checks are code for eval: their $ expand when they run, and the
# variables they read are set for them.
# shellcheck disable=SC2016,SC2034
set -uo pipefail
bin=$1
scripts=$2
# shellcheck source=scripts/netns-lib.sh
. "$scripts/netns-lib.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: needs root to create network namespaces"
  exit 77
fi

# Another run may have this pid in another pid namespace: the claim decides.
tag=
for _ in 1 2 3; do
  tag=fwc$$-$RANDOM
  netns_claim "$tag" "$tag-t" "$tag-s" && break
  tag=
done
[ -n "$tag" ] || { echo "FAIL: cannot claim a test segment in $NETNS_LOCK_DIR"; exit 1; }
# The interfaces live only inside the namespaces: their names cannot meet.
tool_ns=$tag-t sim_ns=$tag-s tool_if=veth-fwc-t sim_if=veth-fwc-s
work=$(mktemp -d)
sim_pid=
sim2_pid=
watch_pid=
failures=0
checks=0

cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  for pid in $watch_pid $sim2_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  netns_segment_down "$tool_ns" "$sim_ns" && netns_release
  rm -rf "$work"
}
trap cleanup EXIT

netns_remove_stale
netns_segment_up "$tool_ns" "$tool_if" "$sim_ns" "$sim_if" 192.168.7.2/24 || {
  echo "FAIL: cannot create the test namespaces"
  exit 1
}

start_sim() { # extra simulator options
  [ -n "$sim_pid" ] && { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null; }
  rm -f "$work/state.json" "$work/commands.log"
  ip netns exec "$sim_ns" "$bin/fenwa-sim" --interface "$sim_if" --count 5 --types VQ40,VQT40,XYZ9 \
    --base-ip 192.168.7.100 --state-file "$work/state.json" --command-log "$work/commands.log" "$@" \
    >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -f "$work/state.json" ] && return 0; sleep 0.1; done
  echo "FAIL: simulator not ready: $(cat "$work/sim.out")"
  exit 1
}

cli() { # runs the CLI on the tool side; output in $out, status in $rc
  out=$(ip netns exec "$tool_ns" "$bin/fenwa-cli" --time 400 --timeout 600 "$@" 2>"$work/err")
  rc=$?
  err=$(cat "$work/err")
}

check() { # description, then a command that must succeed
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "ok   $what"
  else
    echo "FAIL $what"
    echo "     rc=$rc out=${out:0:400}"
    echo "     err=${err:0:400}"
    failures=$((failures + 1))
  fi
}
has() { grep -qF -- "$1" <<<"$2"; }
state() { tr -d ' \t\n' <"$work/state.json"; } # compact whatever the simulator's layout
lines() { [ "$(grep -c . <<<"$2")" -eq "$1" ]; }

start_sim

cli search
check "search lists every terminal once, sorted by MAC" \
  eval '[ $rc -eq 0 ] && lines 5 "$out" && [ "$(grep -o "\"mac\":\"[^\"]*\"" <<<"$out")" = "$(grep -o "\"mac\":\"[^\"]*\"" <<<"$out" | sort)" ]'
check "search shows the unsupported type too" has '"type":"XYZ9"' "$out"

cli search --csv
check "csv has a header and one row per terminal" eval 'lines 6 "$out" && has "mac,name,type," "$(head -1 <<<"$out")"'

cli set-name 'Lobby "1"' --all
check "set-name --all addresses the four supported terminals" eval '[ $rc -eq 0 ] && lines 4 "$out"'
check "the simulator took the name; the unsupported terminal kept its own" \
  eval '[ "$(grep -o "Lobby" "$work/state.json" | wc -l)" -eq 4 ]'

cli set-ip-static 192.168.7.254 192.168.7.1 255.255.255.0 8.8.8.8 8.8.4.4 --mac 02:fe:00:00:00:03 --mac 02:fe:00:00:00:01
check "set-ip-static counts up in MAC order past broadcast, network, gateway and this PC" \
  eval '[ $rc -eq 0 ] && has "\"mac\":\"02:fe:00:00:00:01\",\"result\":0,\"newIp\":\"192.168.7.254\"" "$out" && has "\"newIp\":\"192.168.7.3\"" "$out" && has "skipped 192.168.7.2: this PC" "$err"'
check "the simulator holds both static addresses" \
  eval 'has "\"ip\":\"192.168.7.254\"" "$(state)" && has "\"ip\":\"192.168.7.3\"" "$(state)"'

# A host that is no terminal holds .105 and answers ARP; terminals 4 and 5
# hold .103 and .104.
ip -n "$sim_ns" link add mv-fwc link "$sim_if" type macvlan mode bridge
ip -n "$sim_ns" addr add 192.168.7.105/24 dev mv-fwc
ip -n "$sim_ns" link set mv-fwc up
host_mac=$(ip -n "$sim_ns" -br link show mv-fwc | awk '{print $3}')
cli set-ip-static 192.168.7.103 192.168.7.1 255.255.255.0 192.168.7.1 "" --mac 02:fe:00:00:00:01 --mac 02:fe:00:00:00:02
check "addresses held by terminals and by a host that answers ARP are skipped and named" \
  eval '[ $rc -eq 0 ] && has "skipped 192.168.7.103: in use by Lobby \"1\" (02:fe:00:00:00:04)" "$err" \
    && has "skipped 192.168.7.104: in use by" "$err" && has "answers ARP from $host_mac" "$(grep 192.168.7.105 <<<"$err")"'
check "the two terminals hold the next two free addresses" \
  eval '[ "$(grep -o "\"ip\":\"192.168.7.10[67]\"" <<<"$(state)" | sort -u | wc -l)" -eq 2 ] && [ "$(grep -c "\"ip\":\"192.168.7.10[3-7]\"" <<<"$(state | tr "}" "\n")")" -eq 4 ]'
cli --no-probe set-ip-static 192.168.7.105 192.168.7.1 255.255.255.0 192.168.7.1 "" --mac 02:fe:00:00:00:02
check "--no-probe hands out what only the probe would have found" eval '[ $rc -eq 0 ] && has "\"newIp\":\"192.168.7.105\"" "$out"'
ip -n "$sim_ns" link del mv-fwc

cli set-ip-static 192.168.7.1 192.168.7.2 255.255.255.252 8.8.8.8 "" --all
check "a range that does not fit the subnet sends nothing" \
  eval '[ $rc -eq 1 ] && has "free addresses for 1 of the 4" "$err" && ! has "\"result\"" "$out"'

cli get-rtp --mac 02:fe:00:00:00:04
check "get-rtp prints all ten channels" eval '[ $rc -eq 0 ] && has "\"rtp0\":{" "$out" && has "\"rtp9\":{" "$out"'

cli reboot --mac 02:fe:00:00:00:99
check "a target the search did not find fails with exit 1" eval '[ $rc -eq 1 ] && has "not found" "$out"'

cli set-name "x" --all --bogus
check "usage errors exit 2 with a message" eval '[ $rc -eq 2 ] && has "unknown option" "$err"'

out=$(ip netns exec "$tool_ns" "$bin/fenwa-cli" 2>"$work/err")
rc=$? err=$(cat "$work/err")
check "without arguments the usage goes to stderr, exit 2" eval '[ $rc -eq 2 ] && [ -z "$out" ] && has "usage:" "$err"'

cli get-sip --mac 02:fe:00:00:00:01
cli set-sip "$out" --mac 02:fe:00:00:00:02
check "a get-sip line is what set-sip takes" eval '[ $rc -eq 0 ]'
cli set-name --mac 02:fe:00:00:00:03 -- -h
check "after -- a name such as -h is a name, not a call for help" eval '[ $rc -eq 0 ] && has "\"name\":\"-h\"" "$(state)"'

printf 'S3cret!\n' >"$work/pw"
chmod 600 "$work/pw"
cli set-account admin --password-file "$work/pw" --mac 02:fe:00:00:00:01
check "--password-file: the file's first line is the password, no warning" \
  eval '[ $rc -eq 0 ] && [ -z "$err" ] && has "$(printf "S3cret!" | md5sum | cut -c1-32)" "$(state)"'
cli set-account admin --password-file - --mac 02:fe:00:00:00:02 <<<'Std1n'
check "--password-file - reads standard input" eval '[ $rc -eq 0 ] && has "$(printf Std1n | md5sum | cut -c1-32)" "$(state)"'
cli set-account admin 'Arg1!' --mac 02:fe:00:00:00:04
check "a password given as an argument still works, with a warning" \
  eval '[ $rc -eq 0 ] && has "warning: a password in the command line" "$err" && has "$(printf "Arg1!" | md5sum | cut -c1-32)" "$(state)"'
printf '%s' '{"sip0":{"serverHost":"10.0.0.9","serverPort":"5060","account":"77","password":"fIle","displayName":""},"sip1":{"serverHost":"","serverPort":"","account":"","password":"","displayName":""}}' >"$work/sip.json"
cli --verbose set-sip @"$work/sip.json" --mac 02:fe:00:00:00:04
check "set-sip @FILE reads the JSON from the file; --verbose shows SIP passwords masked" \
  eval '[ $rc -eq 0 ] && has "\"password\":\"fIle\"" "$(state)" && has "\"password\":\"***\"" "$err" && ! has "fIle" "$err" && ! has warning "$err"'

cli --interface nosuch0 search
check "an unknown interface is named in the error" eval '[ $rc -eq 2 ] && has "nosuch0" "$err"'

as_nobody() { ip netns exec "$tool_ns" setpriv --reuid 65534 --regid 65534 --clear-groups "$@"; }
if as_nobody test -x "$bin/fenwa-cli"; then
  out=$(as_nobody "$bin/fenwa-cli" search 2>&1)
  rc=$? err=$out
  check "without capture permission it says so" eval '[ $rc -eq 1 ] && has "not permitted" "$out"'
else
  echo "skipped: a user without capture permission cannot reach $bin (a private directory)"
fi

start_sim --mac-of 4:1
cli search
check "two terminals on one MAC are both listed, each naming the other, with a warning" \
  eval 'lines 5 "$out" && [ "$(grep -c "\"linkMac\":\"02:fe:00:00:00:01\".*\"sameMac\":\[{\"name\":\"Terminal-00[14]\"" <<<"$out")" -eq 2 ] \
    && has "2 terminals share a MAC" "$err"'

# Two runs on one segment at once. B's reply (a refusal) arrives while A
# waits for its own: taken by id alone it would be A's answer too.
start_sim --delay 300
ip netns exec "$tool_ns" "$bin/fenwa-cli" --time 500 --timeout 1500 set-name Alpha --mac 02:fe:00:00:00:01 \
  >"$work/a.out" 2>&1 &
a_pid=$!
ip netns exec "$tool_ns" "$bin/fenwa-cli" --time 400 --timeout 1500 set-sn "" --mac 02:fe:00:00:00:02 \
  >"$work/b.out" 2>&1
rc_b=$?
wait $a_pid
rc=$? out="$(cat "$work/a.out") / $(cat "$work/b.out")" err=
check "two runs at once each report only their own terminal's result" \
  eval '[ $rc -eq 0 ] && [ $rc_b -eq 1 ] && [ "$(cat "$work/a.out")" = "{\"mac\":\"02:fe:00:00:00:01\",\"result\":0}" ] && has "\"mac\":\"02:fe:00:00:00:02\",\"result\":-1" "$(cat "$work/b.out")"'

start_sim --result busy
cli play-volume --all
check "a result other than success gives -1 and exit 1" eval '[ $rc -eq 1 ] && has "\"result\":-1" "$out"'

# Every answer lost: the MAC change is found by a search, the
# reboot went out once and may have happened.
start_sim --unanswered SetMac,reboot
cli set-mac 02:fe:00:00:00:61 --mac 02:fe:00:00:00:01
check "set-mac whose answer was lost: the line carries the new MAC, seen in a search" \
  eval '[ $rc -eq 0 ] && has "{\"mac\":\"02:fe:00:00:00:61\",\"result\":0,\"newMac\":\"02:fe:00:00:00:61\",\"seenInSearch\":true}" "$out"'
cli reboot --mac 02:fe:00:00:00:02
check "a reboot without answer went out once and may have happened" \
  eval '[ $rc -eq 1 ] && has "\"error\":\"unknown: may have changed\"" "$out" && [ "$(grep -c "\"reboot\"" "$work/commands.log")" -eq 1 ]'

start_sim --drop 100
cli reboot --all --time 300
check "a batch that reaches no terminal exits 1, naming the interface it searched" \
  eval '[ $rc -eq 1 ] && has "no terminal" "$err" && has "$tool_if" "$err"'

# Firmware over the terminals' web side: the second answers 500, the fourth
# refuses the connection.
start_sim --web --web-fault http-500:2 --web-fault refuse:4 --reboot-ms 500
fw=$work/fw-3.1.0.bin
{ head -c 60000 /dev/urandom; printf '\r\n\0--window-iptool-upload--\r\n'; } >"$fw"
sent_before=$(wc -l <"$work/commands.log")
cli firmware "$work/missing.bin" --all
check "an unreadable firmware file is refused before anything is sent" \
  eval '[ $rc -eq 2 ] && has "Cannot read the firmware file" "$err" && [ "$(wc -l <"$work/commands.log")" -eq "$sent_before" ]'
cli --timeout 1500 firmware "$fw" --all
check "firmware: a line per terminal with login, upload and HTTP status; exit 1 for the failures" \
  eval '[ $rc -eq 1 ] && lines 4 "$out" \
    && has "\"mac\":\"02:fe:00:00:00:01\",\"result\":0,\"loggedIn\":true,\"uploaded\":true,\"httpStatus\":200" "$out" \
    && has "\"loggedIn\":false,\"uploaded\":false,\"httpStatus\":500,\"error\":\"login refused (HTTP 500)\"" "$out" \
    && has "\"httpStatus\":0,\"error\":\"not logged in: connection refused\"" "$out"'
sleep 1 # the restart after the upload
cli set-ip-static 192.168.7.50 192.168.7.1 255.255.255.0 192.168.7.1 "" --mac 02:fe:00:00:00:05
cli set-mac 02:fe:00:00:00:55 --mac 02:fe:00:00:00:05
cli firmware "$fw" --mac 02:fe:00:00:00:55
check "the web side follows the terminal to its new MAC and address" \
  eval '[ $rc -eq 0 ] && has "\"uploaded\":true" "$out"'
sleep 1
cli search
check "after the restart the terminals report the file's version" \
  eval '[ "$(grep -c "\"version\":\"3.1.0\"" <<<"$out")" -eq 2 ]'

# Hostile web sides: the first drips its answers a byte a second, the second
# answers without end, the third closes halfway through the upload.
start_sim --web --web-fault drip:1 --web-fault endless:2 --web-fault close-upload:3
started=$SECONDS
cli --timeout 1500 firmware "$fw" --mac 02:fe:00:00:00:01 --mac 02:fe:00:00:00:02 --mac 02:fe:00:00:00:03
kill -USR1 "$sim_pid" && sleep 0.2
check "hostile web sides end within their deadlines with their reasons; a cut upload is not sent again" \
  eval '[ $rc -eq 1 ] && [ $((SECONDS - started)) -le 12 ] \
    && has "\"error\":\"not logged in: no complete answer within 3 s\"" "$out" \
    && has "\"error\":\"not logged in: the reply body is longer than 64 KiB\"" "$out" \
    && has "\"error\":\"logged in; upload failed: connection closed after " "$out" \
    && [ "$(state | grep -o "\"uploadsCut\":[1-9][0-9]*")" = "\"uploadsCut\":1" ]'

# Waiting for terminals to come back: eight reboot, the eighth never does.
start_sim --count 8 --types VQ40 --reboot-ms 2500 --stay-down 8
cli --timeout 1500 reboot --all --wait 8
check "reboot --wait: seven back, the one that never answered again named, exit 1" \
  eval '[ $rc -eq 1 ] && [ "$(grep -c "\"wait\":\"back\",\"result\":0" <<<"$out")" -eq 7 ] \
    && has "{\"mac\":\"02:fe:00:00:00:08\",\"wait\":\"not back\",\"result\":-1" "$out" \
    && has "did not come back within 8 s" "$out" && has "7 of 8 back" "$err"'

# After firmware a terminal is back with the file's version; a file whose
# name carries none leaves it on the old one, which is a failure.
start_sim --web --count 3 --types VQ40 --reboot-ms 2500 --web-fault http-500:3
cp "$fw" "$work/fw-2.5.0.bin" && cp "$fw" "$work/plain.bin"
cli --timeout 1500 firmware "$work/fw-2.5.0.bin" --mac 02:fe:00:00:00:01 --mac 02:fe:00:00:00:03 --wait 10
check "firmware --wait: back with the new version; the terminal that took nothing is not waited for" \
  eval '[ $rc -eq 1 ] && [ "$(grep -c "\"wait\"" <<<"$out")" -eq 1 ] \
    && has "{\"mac\":\"02:fe:00:00:00:01\",\"wait\":\"back\",\"result\":0,\"version\":\"2.5.0\",\"oldVersion\":\"2.4.1\"" "$out"'
cli --timeout 1500 firmware "$work/plain.bin" --mac 02:fe:00:00:00:02 --wait 10
check "firmware --wait: back with the old version is a failure" \
  eval '[ $rc -eq 1 ] && has "\"wait\":\"old version\",\"result\":-1,\"version\":\"2.4.1\"" "$out" \
    && has "back with the old version 2.4.1" "$out"'

# watch: a second simulator's terminal appears, the first simulator's two go
# offline when it stops and come back when it starts again.
start_sim --count 2 --types VQ40
ip netns exec "$tool_ns" "$bin/fenwa-cli" --time 400 watch --interval 1 >"$work/watch.out" 2>"$work/watch.err" &
watch_pid=$!
sleep 2
ip netns exec "$sim_ns" "$bin/fenwa-sim" --interface "$sim_if" --count 1 --types VQ40 --base-mac 02:fe:00:00:01:01 \
  --base-ip 192.168.7.150 --number-from 10 --state-file "$work/state2.json" >"$work/sim2.out" 2>&1 &
sim2_pid=$!
sleep 4
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null
sim_pid=
sleep 7
start_sim --count 2 --types VQ40
sleep 5
kill -INT "$watch_pid"
wait "$watch_pid"
rc=$? out=$(cat "$work/watch.out") err=$(cat "$work/watch.err")
watch_pid=
kill "$sim2_pid" && wait "$sim2_pid" 2>/dev/null
sim2_pid=
events() { grep -c "\"event\":\"$1\",.*\"mac\":\"$2\"" <<<"$out"; }
check "watch: appeared, offline after two silent rounds, back, and a summary at SIGINT" \
  eval '[ $rc -eq 0 ] && [ "$(events appeared 02:fe:00:00:00:01)" -eq 1 ] && [ "$(events appeared 02:fe:00:00:01:01)" -eq 1 ] \
    && [ "$(events offline 02:fe:00:00:00:02)" -eq 1 ] && [ "$(events back 02:fe:00:00:00:02)" -eq 1 ] \
    && [ "$(events offline 02:fe:00:00:01:01)" -eq 0 ] \
    && has "\"appeared\":3,\"changed\":0,\"wentOffline\":2,\"back\":2}" "$(tail -1 <<<"$out")"'

# The PDF helper loads Qt Gui: in a sanitized build its leak check needs
# the suppressions and full stacks the workbench's tests run with.
export LSAN_OPTIONS=suppressions=$scripts/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0:malloc_context_size=16
# The handover report: the site named once, every terminal's name, MAC and
# address in the PDF, SIP accounts without their passwords, terminal texts
# escaped in the HTML.
start_sim --count 4 --types VQ40
cli report "$work/site.pdf"
check "report: the site must be named once" eval '[ $rc -eq 2 ] && has "--site NAME" "$err"'
printf '%s' '{"sip0":{"serverHost":"10.0.0.9","serverPort":"5060","account":"801","password":"s3cr3tpw","displayName":"Hall"},"sip1":{"serverHost":"","serverPort":"","account":"","password":"","displayName":""}}' >"$work/sip.json"
cli set-sip "@$work/sip.json" --mac 02:fe:00:00:00:01
cli set-name '<img src=x> & "East"' --mac 02:fe:00:00:00:02
cli report "$work/site.pdf" --site "Harbour Hotel" --by "R. Installer"
text=$(pdftotext -layout "$work/site.pdf" - 2>&1)
every_terminal_in() {
  local i
  for i in 1 2 3 4; do
    has "02:fe:00:00:00:0$i" "$1" && has "192.168.7.10$((i - 1))" "$1" || return 1
  done
}
if [ ! -x "$bin/fenwa-report" ]; then # a build without Qt Gui has no PDF helper, and says so
  check "report PDF: without the PDF helper, refused with what to write instead" \
    eval '[ $rc -eq 1 ] && has "which this build does not have: write FILE.html instead" "$err" && [ ! -e "$work/site.pdf" ]'
else check "report PDF: every terminal's name, MAC and address, account@server, no password" \
  eval '[ $rc -eq 0 ] && has "Harbour Hotel" "$text" && has "R. Installer" "$text" && has "801@10.0.0.9" "$text" \
    && ! grep -qi "s3cr3tpw\|password" <<<"$text" \
    && every_terminal_in "$text" \
    && has "Terminal-001" "$text" && has "<img src=x>" "$text" && has "& \"East\"" "$text" && has "Page 1 of" "$text"'
fi
cli report "$work/site.html" --language cn
html=$(cat "$work/site.html")
check "report HTML: the remembered site, terminal texts escaped, nothing fetched" \
  eval '[ $rc -eq 0 ] && has "Harbour Hotel" "$html" && has "&lt;img src=x&gt; &amp; &quot;East&quot;" "$html" \
    && has "交接报告" "$html" && ! grep -qi "<img\|<script\|<link\|url(" <<<"$html" \
    && [ -z "$(grep -o "https\?://[^\"]*" <<<"$html" | grep -v "^http://www.w3.org/2000/svg$")" ]'

echo "$((checks - failures)) passed, $failures failed"
[ $failures -eq 0 ]
