#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up the machine, builds the project twice (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both.
# End-to-end tests make their own network namespaces and need root; as a
# normal user they skip, and so does the package test (it installs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
bash scripts/build.sh release
bash scripts/build.sh asan

export QT_QPA_PLATFORM=offscreen
# Leak reports from Qt's and libpcap's process-lifetime caches are not ours;
# everything else ASan and UBSan find fails the run.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== tests (release build)"
ctest --test-dir build --output-on-failure --timeout 600
echo "== tests (ASan + UBSan build)"
ctest --test-dir build-asan --output-on-failure --timeout 900
echo "== Debian package"
if [ "$(id -u)" -eq 0 ]; then
  bash scripts/package-test.sh "$root/build"
else
  echo "skipped: installing the package needs root"
fi
