#!/usr/bin/env bash
# The fleet's report page in a real browser and its metrics through
# promtool and node_exporter, for two fleets with a fresh, a changed, a
# failing, a stale and an unknown controller:
#   report_test.sh KT560AX VIRTUAL_CONTROLLER
# Each check prints PASS or FAIL; the script exits 1 when one failed. A
# missing browser, promtool or node_exporter fails under CI and is skipped
# elsewhere.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../cli/support.sh" "$1" "$2"
fast=(--tx-delay 10 --rx-delay 10 --timeout 200 --quiet)

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
[sysonly]
Port=$work/fresh.tty
Only=system
FLEET
mkdir page metrics
"$kt" run run.ini "${fast[@]}" 2>/dev/null
stop_sim "$sim_changed"
start_sim changed.tty --cards 12
next_second
"$kt" run run.ini "${fast[@]}" 2>/dev/null
check "a run rewrites the page of its Report key" [ -s page/report.html ]

# A second fleet whose runs stopped three days ago, after a backup of
# stale, and which has had a controller added since.
printf '[stale]\nPort=%s\nOnly=system\n' "$work/fresh.tty" >other.ini
"$kt" run other.ini "${fast[@]}" --metrics metrics/other.prom 2>/dev/null
python3 - other.state <<'PY'
import datetime, json, sys
state = json.load(open(sys.argv[1]))
then = (datetime.datetime.now().astimezone() - datetime.timedelta(days=3)).isoformat(timespec="seconds")
state["lastRun"] = then
state["controllers"]["stale"]["lastCompleteAt"] = then
json.dump(state, open(sys.argv[1], "w"))
PY
printf '[never]\nPort=%s\n' "$work/never.tty" >>other.ini
"$kt" report run.ini other.ini -o all.html
check "report writes the page of two fleets" [ $? -eq 0 ]
card=$(grep -ah '^HA0011=' changed/*.KT | head -1 | cut -d= -f2 | tr -d '\r')
check "the card added is in the backup" [ -n "$card" ]
check "... but not on the page" lacks "$card" all.html

# The same page in Traditional Chinese, from a Language.ini that says so.
mkdir zh && cp "$kt" zh/kt560ax && sed 's/^Language=0/Language=1/' "$here/../../Language.ini" \
    >zh/Language.ini
zh/kt560ax report run.ini other.ini -o zh.html
check "report writes the page in Chinese" grep -q '<html lang="zh-Hant">' zh.html

if need chromium chromedriver python3; then
    python3 "$here/browser_check.py" all.html 1280 900 desktop.png >desktop.json
    python3 "$here/browser_check.py" all.html 390 844 phone.png >phone.json
    python3 "$here/browser_check.py" zh.html 1280 900 zh-desktop.png >zh-desktop.json
    python3 "$here/browser_check.py" zh.html 390 844 zh-phone.png >zh-phone.json
    for view in desktop phone; do
        check "$view: the controllers that need someone first, in words" shown $view.json \
            "[(r[0].split('\n')[0], r[1]) for r in d['rows']] == [('run / failing', '✗ Failing'), \
              ('other / stale', '⚠ Stale'), ('other / never', '? Unknown')]"
        check "$view: the counts at the top, with one mark of a change" shown $view.json \
            "d['summary'] == ['✗ 1 Failing', '▼ 0 Suspicious', '✗ 0 Never backed up', \
              '⚠ 1 Stale', '? 1 Unknown', 'Δ 1 Changed', '✓ 2 Fine'] and d['text'].count('Δ') == 1"
        check "$view: the fine ones in a list that opens" shown $view.json \
            "[r[0] for r in d['fineRows']] == ['run / changed', 'run / fresh', 'run / sysonly'] \
             and 'run / fresh' not in d['text'] and 'run / fresh' in d['openText']"
        check "$view: says the runs of the other fleet have stopped" shown $view.json \
            "'The newest run of other ended' in d['text']"
        check "$view: nothing loaded or referred to from elsewhere" shown $view.json \
            "d['loaded'] == [] and all(r.startswith('#') for r in d['refs']) \
             and d['cssUrls'] == 0 and d['scripts'] == 0"
    done
    for view in desktop phone zh-desktop zh-phone; do
        check "$view: no column, cell or line cut" shown $view.json "d['cut'] == []"
        check "$view: every time with its zone" shown $view.json \
            "d['times'] and all(re.fullmatch(r'\d{4}-\d\d-\d\d \d\d:\d\d UTC([+-]\d\d:\d\d)?', t) \
                                for t in d['times'])"
    done
    check "the failing row names its port and its reason" shown desktop.json \
        "[r for r in d['rows'] if r[0] == 'run / failing'][0][2].endswith('failing.tty') and \
         'does not exist' in [r for r in d['rows'] if r[0] == 'run / failing'][0][5]"
    check "... and its failed tries" shown desktop.json \
        "[r[6] for r in d['rows'] if r[0] == 'run / failing'] == ['2']"
    check "the changed controller's row names the slots" shown desktop.json \
        "d['fineRows'][0][-1] == 'Card Data; cards added 11, 12; now 12 cards, 14 records'"
    check "the page fits a phone's width" shown phone.json "d['width'] <= 390"
    check "Chinese column heads wrap by words, in two lines at most" shown zh-desktop.json \
        "d['headLines'] and max(d['headLines']) <= 2"
fi

if need promtool; then
    for file in kt560ax other; do
        check "the metrics of $file pass promtool" promtool check metrics <metrics/$file.prom
    done
    check "... with the failing controller's state and outcome" grep -qx \
        'kt560ax_last_job_outcome{fleet="run",controller="failing",outcome="port-unavailable"} 1' \
        metrics/kt560ax.prom
    check "... the changed one's state" \
        grep -qx 'kt560ax_state{fleet="run",controller="changed",state="changed"} 1' \
        metrics/kt560ax.prom
    check "... card figures only for those that read cards" \
        eval '! grep -q "cards{fleet=\"run\",controller=\"sysonly\"" metrics/kt560ax.prom'
    check "... and one changed controller" \
        grep -qx 'kt560ax_run_controllers_changed{fleet="run"} 1' metrics/kt560ax.prom
fi

# Both fleets' files in one folder, as node_exporter's textfile collector
# reads them: a series given twice would be dropped and logged.
if need prometheus-node-exporter python3; then
    free_ports
    prometheus-node-exporter --web.listen-address="127.0.0.1:$port" \
        --collector.disable-defaults --collector.textfile \
        --collector.textfile.directory="$work/metrics" 2>exporter.log &
    pids+=($!)
    accepting "$port" && python3 -c 'import sys, urllib.request
sys.stdout.write(urllib.request.urlopen(sys.argv[1], timeout=60).read().decode())' \
        "http://127.0.0.1:$port/metrics" >scraped.txt
    check "node_exporter serves the metrics" grep -q '^kt560ax_state{' scraped.txt
    check "... with no textfile error" grep -qx 'node_textfile_scrape_error 0' scraped.txt
    check "... and no series collected twice" eval '! grep -q "collected before" exporter.log'
    check "... each fleet's run series under its name" eval \
        'grep -q "^kt560ax_run_controllers_failed{fleet=\"run\"} 1$" scraped.txt &&
         grep -q "^kt560ax_run_controllers_failed{fleet=\"other\"} 0$" scraped.txt'
fi

end_checks
