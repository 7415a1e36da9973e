#!/usr/bin/env bash
# Pictures of the fleet report page, at desktop and phone width, for the
# user guide: a small fleet of virtual controllers backed up three times, one
# whose cards fall on the third (suspicious) and one with no line at all.
#   tools/report_tour.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(readlink -f "$1")
mkdir -p "$2"
out=$(readlink -f "$2")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
cd "$work"
sim() { # link cards
    "$build/sim/kt-virtual-controller" --link "$1" --cards "$2" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -e "$1" ] && return; sleep 0.05; done
}
sim door-north.tty 120
sim gate-east.tty 40
cat >fleet.ini <<FLEET
[fleet]
History=history
[door-north]
Port=$work/door-north.tty
Only=system,holiday,cards
Cards=200
[gate-east]
Port=$work/gate-east.tty
Only=system,cards
Cards=200
[store-room]
Port=$work/store-room.tty
FLEET
for cards in 40 45 12; do
    kill "${pids[1]}"
    wait "${pids[1]}" 2>/dev/null || true
    sim gate-east.tty "$cards"
    pids=("${pids[0]}" "${pids[-1]}")
    "$build/bin/kt560ax" run fleet.ini --tx-delay 10 --rx-delay 10 --quiet 2>/dev/null || true
    sleep 1
done
"$build/bin/kt560ax" report fleet.ini -o report.html
python3 "$here/../tests/report/browser_check.py" report.html 1280 1100 "$out/7-report.png" >/dev/null
python3 "$here/../tests/report/browser_check.py" report.html 390 844 "$out/8-report-phone.png" \
    >/dev/null
echo "report pictures in $out"
