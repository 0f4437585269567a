#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the fuzz harnesses of the clang tree, each for SECONDS (60 unless
# given), two at a time, and fails when one of them finds a crash:
#   scripts/fuzz.sh [SECONDS [TARGET...]]      e.g. scripts/fuzz.sh 3600 reply
# Inputs that reach new code collect in build-nogui/fuzz/corpus/TARGET and
# are kept for the next run; the seeds in tests/fuzz/corpus/TARGET are only
# read. A crash leaves its input in build-nogui/fuzz/crash/: once it is
# fixed, copy the input into the seeds so that every test run replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=$root/build-nogui
[ -f "$build/CMakeCache.txt" ] || bash "$root/scripts/build.sh" nogui
if [ $# -gt 0 ]; then targets=("$@"); else mapfile -t targets < <(ls "$root/tests/fuzz/corpus"); fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export root build seconds
export ASAN_OPTIONS=abort_on_error=1 LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run() {
  local t=$1 log=$build/fuzz/$1.log
  mkdir -p "$build/fuzz/corpus/$t" "$build/fuzz/crash"
  # -timeout: an input that takes seconds is a hang, and a fault too. A
  # harness may name the pieces its input is made of in tests/fuzz/NAME.dict.
  local dict=()
  [ -f "$root/tests/fuzz/$t.dict" ] && dict=(-dict="$root/tests/fuzz/$t.dict")
  if "$build/tests/fuzz/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/crash/$t-" "$build/fuzz/corpus/$t" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1; then
    echo "ok   $t: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") inputs in ${seconds}s"
  else
    echo "FAIL $t (log: $log)"
    tail -n 40 "$log"
    return 1
  fi
}
export -f run
printf '%s\n' "${targets[@]}" | xargs -P 2 -I{} bash -c 'run {}'
