#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Everything CI runs (.ci/run), one stage per line; docs/ci.md says why each
# is there. End-to-end tests make their own network namespaces and need root;
# as a normal user they skip, and so does the package test (it installs).
#   scripts/test.sh [FUZZ_SECONDS]      (each fuzz harness runs 60 s unless told;
#                                        FENWA_MUTANTS=N draws N mutants, 15 unless told)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
fuzz_seconds=${1:-60}
mutants=${FENWA_MUTANTS:-15}

export QT_QPA_PLATFORM=offscreen
# Leaks fail the sanitized runs; only the third-party caches listed in
# scripts/lsan.supp are let through.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

times=()
stage() { # what it proves, then the command
  local what=$1 start=$SECONDS
  shift
  echo "== $what"
  "$@"
  times+=("$(printf '%5d s  %s' $((SECONDS - start)) "$what")")
}
package_test() {
  if [ "$(id -u)" -eq 0 ]; then bash scripts/package-test.sh "$root/build"; else echo "skipped: needs root"; fi
}
widget_free() { # the programs and tests of the GUI-off tree load Qt Core, never Widgets or Gui
  local libs
  libs=$(find build-nogui -type f -perm -u+x -exec ldd {} + 2>/dev/null || true)
  grep -q libQt5Core <<<"$libs" && ! grep -E 'libQt5(Widgets|Gui)' <<<"$libs"
}

stage "setup: the Debian packages for building and testing" bash scripts/setup.sh
stage "shellcheck: every shell script" shellcheck -x scripts/*.sh tests/*.sh tests/cli/*.sh tests/e2e/web/cgi-bin/* .ci/run resources/package/post*.in
stage "release build: gcc, warnings as errors" bash scripts/build.sh release
stage "release tests" ctest --test-dir build --output-on-failure
# A few mutants over what the last commits changed, drawn from the commit;
# the tree is rebuilt unchanged afterwards (the package stage packages it).
stage "sampled mutants: ${mutants} over the last commits' files" \
  scripts/mutate.py . --touched-by 20 --count "$mutants" --fail-under 70 --baseline ctest --time-budget 900
stage "ASan+UBSan build" bash scripts/build.sh asan
stage "ASan+UBSan tests, leaks checked" ctest --test-dir build-asan --output-on-failure
stage "GUI-off build: clang, sanitized, fuzz harnesses" bash scripts/build.sh nogui
stage "GUI-off: nothing loads Qt Widgets or Gui" widget_free
stage "GUI-off tests and fuzz seeds, clang, leaks checked" ctest --test-dir build-nogui --output-on-failure
stage "fuzz: each harness ${fuzz_seconds} s" bash scripts/fuzz.sh "$fuzz_seconds"
stage "Debian package: build, lint, install, use, purge" package_test

echo "== time per stage"
printf '%s\n' "${times[@]}"
