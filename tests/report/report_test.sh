#!/usr/bin/env bash
# The fleet's report page in a real browser and its metrics through
# promtool, for a fleet with a fresh, a changed, a failing and a stale
# controller:
#   report_test.sh KT560AX VIRTUAL_CONTROLLER
# Each check prints PASS or FAIL; the script exits 1 when one failed. A
# missing browser or promtool fails under CI and is skipped elsewhere.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../cli/support.sh" "$1" "$2"
fast=(--tx-delay 10 --rx-delay 10 --timeout 200 --quiet)
need() { # need PROGRAM...: true when all are there
    local missing=0
    for p in "$@"; do command -v "$p" >/dev/null || missing=1; done
    [ $missing -eq 0 ] && return 0
    if [ -n "${CI:-}" ]; then check "$* installed" false; else echo "SKIP: $* not installed"; fi
    return 1
}

start_sim fresh.tty --cards 10
start_sim changed.tty --cards 10; sim_changed=$last_sim
cat >run.ini <<FLEET
[fleet]
History=history
Report=page/report.html
Metrics=metrics/kt560ax.prom
[fresh]
Port=$work/fresh.tty
Only=system,cards
Cards=20
[changed]
Port=$work/changed.tty
Only=system,cards
Cards=20
[failing]
Port=$work/failing.tty
FLEET
mkdir page metrics
"$kt" run run.ini "${fast[@]}" 2>/dev/null
stop_sim "$sim_changed"
start_sim changed.tty --cards 12
sleep 1
"$kt" run run.ini "${fast[@]}" 2>/dev/null
check "a run rewrites the page of its Report key" [ -s page/report.html ]

# A stale controller: its last complete backup is three days old.
mkdir -p stale
cat >stale/2026-01-01_020000.KT <<KT
[HEAD]
Title=KT560AX
Complete=1
Finished=$(date -d '3 days ago' +%Y-%m-%dT%H:%M:%S%:z)
[Data]
DC=01
KT
{ cat run.ini; printf '[stale]\nPort=%s\n' "$work/stale.tty"; } >all.ini
"$kt" report all.ini -o all.html
check "report writes the page" [ $? -eq 0 ]
card=$(grep -ah '^HA0011=' changed/*.KT | head -1 | cut -d= -f2 | tr -d '\r')
check "the card added is in the backup" [ -n "$card" ]
check "... but not on the page" lacks "$card" all.html

if need chromium chromedriver python3; then
    python3 "$here/browser_check.py" all.html 1280 900 desktop.png >desktop.json
    python3 "$here/browser_check.py" all.html 390 844 phone.png >phone.json
    shown() { # shown FILE.json PYTHON-EXPRESSION-ON-d
        python3 -c "import json,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if ($2) else 1)" "$1"
    }
    for view in desktop phone; do
        check "$view: every controller shows its state in words" shown $view.json \
            "{r[0]: r[1] for r in d['rows']} == {'fresh': '✓ Fine', 'changed': '✓ Fine', \
              'failing': '✗ Failing', 'stale': '⚠ Stale'}"
        check "$view: the counts at the top" shown $view.json \
            "'2 Fine' in d['text'] and '1 Stale' in d['text'] and '1 Failing' in d['text']"
        check "$view: nothing loaded or referred to from elsewhere" shown $view.json \
            "d['loaded'] == [] and d['refs'] == [] and d['cssUrls'] == 0 and d['scripts'] == 0"
    done
    check "the changed controller's card line goes from 10 to 12" shown desktop.json \
        "[r[6] for r in d['rows'] if r[0] == 'changed'] == ['10 → 12']"
    check "... and its change names the slots" shown desktop.json \
        "'cards added 11, 12' in [r[7] for r in d['rows'] if r[0] == 'changed'][0]"
    check "the page fits a phone's width" shown phone.json "d['width'] <= 390"
fi

if need promtool; then
    check "the metrics pass promtool" promtool check metrics <metrics/kt560ax.prom
    check "... with the failing controller's outcome" \
        grep -qx 'kt560ax_last_job_outcome{controller="failing",outcome="port error"} 1' \
        metrics/kt560ax.prom
    check "... and one changed controller" \
        grep -qx 'kt560ax_run_controllers_changed 1' metrics/kt560ax.prom
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
