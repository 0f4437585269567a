#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The main job: set up, build, and start the workbench.
#
#   scripts/run.sh          # on the demo segment: 8 simulated terminals in a
#                           # network namespace, the workbench in the tool-side
#                           # namespace, so it never searches your real network
#   scripts/run.sh --real   # on the host's own adapters
#
# With a display ($DISPLAY) the workbench opens as a window; close it to end
# (the demo segment is removed then). Without one (a server, an SSH session)
# it runs under Xvfb for its first search, leaves a screenshot in a fresh
# directory (FENWA_DEMO_DIR when set) and prints what fenwa-cli finds on the
# same segment, so the run still shows its result as text.
#
# The demo needs root (namespaces); keep the display when using sudo:
#   sudo --preserve-env=DISPLAY,XAUTHORITY scripts/run.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

real=0
case "${1:-}" in
  "") ;;
  --real) real=1 ;;
  *) echo "usage: $0 [--real]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
bash scripts/build.sh release
workbench=$root/build/bin/fenwa-workbench

if [ "$real" -eq 1 ]; then
  # Capture needs root or the build's capture helper with its capability;
  # the workbench shows the command that grants it when it has neither.
  exec "$workbench"
fi

[ "$(id -u)" -eq 0 ] || { echo "run.sh: the demo segment needs root (try sudo, or --real)" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
  shots=${FENWA_DEMO_DIR:-$(mktemp -d /tmp/fenwa-shot.XXXXXX)}
  out=$shots/workbench.png
  bash scripts/screenshot.sh "$out"
  trap 'bash scripts/demo-segment.sh down >/dev/null' EXIT
  bash scripts/demo-segment.sh up 8 >/dev/null
  echo "No display: the workbench ran under Xvfb; its window after the first search is in $out."
  echo "The same segment as the command-line front end sees it:"
  ip netns exec "${FENWA_DEMO_NS:-fenwa-demo}-tool" "$root/build/bin/fenwa-cli" search --csv
  exit 0
fi

trap 'bash scripts/demo-segment.sh down' EXIT
bash scripts/demo-segment.sh up 8
# The X server's socket is a file, reachable from inside the namespace.
ip netns exec "${FENWA_DEMO_NS:-fenwa-demo}-tool" env DISPLAY="$DISPLAY" ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} "$workbench"
