#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds one build tree: scripts/build.sh [release|asan|nogui]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
case "$kind" in
  release) dir="$root/build"; extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    dir="$root/build-asan"; extra=(-DCMAKE_BUILD_TYPE=Debug -DFENWA_SANITIZE=ON) ;;
  # Without the workbench, by clang, sanitized, with the fuzz harnesses
  # (-O1: the fuzzers' speed at a debug build's compile time).
  nogui)   dir="$root/build-nogui"; extra=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
             -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 -DFENWA_BUILD_GUI=OFF -DFENWA_SANITIZE=ON -DFENWA_FUZZ=ON) ;;
  *) echo "usage: $0 [release|asan|nogui]" >&2; exit 2 ;;
esac
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# A developer's ccache, when there is one, makes rebuilding the three trees cheap.
command -v ccache >/dev/null && extra+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The programs carry their installed paths (the capture helper's among
# them), so a tree configured for another prefix would package a helper its
# maintainer scripts cannot find: configure again when the prefix differs.
if [ ! -f "$dir/CMakeCache.txt" ] || ! grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$dir/CMakeCache.txt"; then
  cmake -S "$root" -B "$dir" "${generator[@]}" -DFENWA_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr "${extra[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
