#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs each end-to-end suite ROUNDS times in a row on a loaded machine: BUSY
# busy loops run beside it the whole time. A case that passes only on a quiet
# machine fails CI on a busy one; this is where it shows first.
#
#   scripts/loaded-e2e.sh [BUILD] [ROUNDS] [BUSY]    (root: the suites make namespaces)
#
# Prints each run's result and time, then per suite how many runs passed; the
# output of a failed run is kept in BUILD/loaded-e2e/. Exit 1 when any run failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build} rounds=${2:-20} busy=${3:-2}
# The suites that drive our programs against a counterpart on a segment:
# the link and plan suites (simulator, lighttpd, plain kernel hosts), the
# CLI's script, the workbench's, and the capture stream from a pipe source.
suites=(e2e_link e2e_plan cli_e2e workbench_e2e_test
        'CaptureEndToEnd.ToneIntoTheSinkReachesTheGroupAsTheSameTone')
[ "$(id -u)" = 0 ] || { echo "loaded-e2e: needs root (the suites make network namespaces)" >&2; exit 2; }
[ -f "$build/CTestTestfile.cmake" ] || { echo "loaded-e2e: no test tree in $build" >&2; exit 2; }
logs="$build/loaded-e2e"
mkdir -p "$logs"

pids=()
trap '[ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null' EXIT
for _ in $(seq "$busy"); do
  ( while :; do :; done ) &
  pids+=($!)
done

failed=0
declare -A passed
for suite in "${suites[@]}"; do
  passed[$suite]=0
  for round in $(seq "$rounds"); do
    start=$(date +%s%N)
    out=$(cd "$build" && ctest -R "^${suite//./\\.}\$" --output-on-failure --timeout 900 2>&1)
    code=$?
    # ctest exits 0 when its pattern matched nothing: that is no pass.
    grep -q '100% tests passed, 0 tests failed out of 1$' <<<"$out" || code=1
    took=$(( ($(date +%s%N) - start) / 1000000 ))
    if [ "$code" = 0 ]; then
      passed[$suite]=$((passed[$suite] + 1))
      printf '%-30s run %2d  passed  %6d ms  (load %s)\n' "${suite%%.*}" "$round" "$took" "$(cut -d' ' -f1 /proc/loadavg)"
    else
      failed=1
      printf '%s\n' "$out" >"$logs/${suite%%.*}-$round.log"
      printf '%-30s run %2d  FAILED  %6d ms  (output in %s)\n' "${suite%%.*}" "$round" "$took" "$logs/${suite%%.*}-$round.log"
    fi
  done
done
echo
for suite in "${suites[@]}"; do
  printf '%-30s %d of %d runs passed beside %d busy loops\n' "${suite%%.*}" "${passed[$suite]}" "$rounds" "$busy"
done
exit "$failed"
