#!/usr/bin/env bash
# The demo as tools/demo --screenshot runs it: under wine on the display of the test run, the
# window comes up, the first disk refresh lists the built-in machine's three USB SSDs, and a close
# request ends the program in the orderly way (exit 0, its settings saved, its log written).
#
#   demo_smoke.sh DEMO.exe WINE-RUN
# Exit 77 (skipped) without a display.
set -uo pipefail
exe=$1
wine_run=$2
[[ -n ${DISPLAY:-} ]] || { echo "no display (run inside Xvfb: tools/test-all windows)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vt-demo-smoke.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && exec "$wine_run" "$exe" --ready-file "Z:$work/ready" --close-file "Z:$work/close") &
pid=$!
for _ in $(seq 600); do
  grep -q '^filled' "$work/ready" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -qx 'filled 3' "$work/ready" 2>/dev/null; then
  echo "the disk list was not filled with the three USB SSDs:"
  cat "$work/ready" 2>/dev/null
  kill "$pid" 2>/dev/null
  wait "$pid"
  exit 1
fi
touch "$work/close"
for _ in $(seq 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the program did not close"
  kill "$pid"
  wait "$pid"
  exit 1
fi
wait "$pid"
rc=$?
[[ $rc -eq 0 ]] || { echo "exit code $rc"; exit 1; }
grep -q '^Language=' "$work/settings.ini" || { echo "no settings saved"; exit 1; }
grep -q 'Application started' "$work"/logs/run_*.log || { echo "no log file"; exit 1; }
echo "the demo showed its disks and closed"
