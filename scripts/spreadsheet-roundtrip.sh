#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A plan's way from the planner's spreadsheet to the terminals and back, with
# LibreOffice as the spreadsheet (headless): planner's workbook -> plan apply
# -> result -> opened and saved by LibreOffice -> plan check. Prints what
# each step holds and fails when a value changed, a cell ran as a formula,
# or a number LibreOffice rewrote went unnoticed.
#
#   scripts/spreadsheet-roundtrip.sh        # needs root (a demo segment) and soffice
#
# Set FENWA_DEMO_NS to run beside other segments; build first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${FENWA_BIN:-$root/build/bin}
export FENWA_DEMO_NS=${FENWA_DEMO_NS:-fenwa-roundtrip}
TOOL_NS=$FENWA_DEMO_NS-tool
die() { echo "spreadsheet-roundtrip: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root to run the demo segment (try sudo)"
command -v soffice >/dev/null || die "soffice is missing (apt-get install libreoffice-calc-nogui)"
command -v python3 >/dev/null || die "python3 is missing"

work=$(mktemp -d /tmp/fenwa-roundtrip.XXXXXX)
export FENWA_DEMO_DIR=$work/segment
cleanup() { "$root/scripts/demo-segment.sh" down >/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
"$root/scripts/demo-segment.sh" up 3 >/dev/null
cli() { ip netns exec "$TOOL_NS" "$bin/fenwa-cli" --interface fwtool0 --time 1000 "$@"; }
office() { # FILE FORMAT: LibreOffice opens FILE and saves it as FORMAT beside it, in out/
  soffice -env:UserInstallation="file://$work/profile" --headless --convert-to "$2" --outdir "$work/out" "$1" >/dev/null 2>&1
}
# Every cell of the first sheet of a workbook, and whether any is a formula.
cells() {
  python3 - "$1" <<'PY'
import sys, zipfile, re
z = zipfile.ZipFile(sys.argv[1])
sheet = z.read("xl/worksheets/sheet1.xml").decode()
print("formulas:", len(re.findall(r"<f[ >]", sheet)))
PY
}

# The planner's sheet: typed as text in LibreOffice (leading zeros, a name a
# spreadsheet would take for a formula, Chinese, a quote), saved as .xlsx.
cat >"$work/planner.csv" <<'PLAN'
mac,name,sip1_account,sip1_server_host,mic_volume
02:fe:00:00:00:01,=1+1,0801,10.0.0.5,060
02:fe:00:00:00:02,大厅A,0802,10.0.0.5,70
02:fe:00:00:00:03,"Gate ""B"", east",0803,10.0.0.5,80
PLAN
# Imported with every column as text (FilterOptions: comma, UTF-8, line 1,
# column formats 2 = text), as a planner who types into text columns would.
soffice -env:UserInstallation="file://$work/profile" --headless --infilter="CSV:44,34,76,1,1/2/2/2/3/2/4/2/5/2" \
  --convert-to xlsx --outdir "$work/planner" "$work/planner.csv" >/dev/null 2>&1
planner=$work/planner/planner.xlsx
[ -f "$planner" ] || die "LibreOffice made no workbook"
echo "planner's workbook (LibreOffice): $(cells "$planner")"

cli plan apply "$planner" --result "$work/result.xlsx" >"$work/apply.out" || die "apply failed: $(cat "$work/apply.out")"
cli plan apply "$planner" --result "$work/result.csv" >/dev/null || die "second apply failed"
echo "result files: $(stat -c '%a %n' "$work/result.xlsx" "$work/result.csv" | tr '\n' ' ')"
head -c 3 "$work/result.csv" | od -An -tx1 | grep -q 'ef bb bf' || die "the CSV result has no byte order mark"
grep -q ",'=1+1," "$work/result.csv" || die "the name =1+1 was not written as text"

# The planner opens both results and saves them again.
office "$work/result.xlsx" xlsx
echo "result after LibreOffice: $(cells "$work/out/result.xlsx")"
[ "$(cells "$work/out/result.xlsx")" = "formulas: 0" ] || die "a cell became a formula"
cli plan check "$work/out/result.xlsx" >"$work/check-xlsx.out" || die "the workbook came back changed: $(cat "$work/check-xlsx.out")"
echo "workbook back from LibreOffice: every row unchanged"

mkdir -p "$work/csv" && cp "$work/result.csv" "$work/csv/result-lo.csv"
office "$work/csv/result-lo.csv" xlsx # the CSV as LibreOffice imports it by default: types guessed
echo "CSV result imported by LibreOffice: $(cells "$work/out/result-lo.xlsx")"
[ "$(cells "$work/out/result-lo.xlsx")" = "formulas: 0" ] || die "a CSV cell ran as a formula"
office "$work/out/result-lo.xlsx" csv
status=0
cli plan check "$work/out/result-lo.csv" >"$work/check-csv.out" || status=$?
grep -o '"doubts":\[[^]]*\]' "$work/check-csv.out" | head -3 || true
[ "$status" -eq 1 ] && grep -q '"status":"doubtful"' "$work/check-csv.out" \
  || die "the zeros LibreOffice dropped went unnoticed: $(cat "$work/check-csv.out")"
! grep -q '"name":{"current"' "$work/check-csv.out" || die "a name changed on the way: $(cat "$work/check-csv.out")"
echo "CSV back from LibreOffice: its lost zeros were caught, nothing would be sent for them"
echo "spreadsheet-roundtrip: ok"
