#!/usr/bin/env bash
# A controller of 40 cards wiped between two nights, against a virtual
# controller on a pseudo-terminal: every run after calls it suspicious
# wherever the fleet is read, --keep 2 never removes its last good backup,
# and accept clears it.
#   collapse_test.sh KT560AX VIRTUAL_CONTROLLER
# Each check prints PASS or FAIL; the script exits 1 when one failed.
set -uo pipefail
source "$(dirname "$0")/support.sh" "$1" "$2"
fast=(--tx-delay 10 --rx-delay 10 --timeout 200 --quiet --keep 2)

start_sim north.tty --cards 40; north=$last_sim
cat >hook <<'HOOK'
#!/bin/sh
env | grep '^KT560AX_' | sort >"calls/$(ls calls | wc -l)"
HOOK
chmod +x hook
mkdir calls
cat >fleet.ini <<FLEET
[fleet]
History=history
Metrics=kt560ax.prom
Report=report.html
OnFailure=./hook
[north]
Port=$work/north.tty
Only=system,cards
Cards=40
FLEET
commits() { version_commits history main; }
json_field() { # json_field FILE FIELD: of north in status --json
    python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["controllers"][0].get(sys.argv[2]))' "$@"
}

"$kt" run fleet.ini "${fast[@]}"
check "a first run of 40 cards exits 0" [ $? -eq 0 ]
good=$(ls "$work"/north/*.KT)
# As a state written before it named a last good backup: its last complete
# backup counts as the good one.
python3 - fleet.state <<'PY'
import json, sys
state = json.load(open(sys.argv[1]))
assert state["controllers"]["north"].pop("lastGood")["held"]["UserCardDatabase"] == 40
json.dump(state, open(sys.argv[1], "w"))
PY
check "... and its state names it the last good backup" [ $? -eq 0 ]

stop_sim "$north"
start_sim north.tty --empty; north=$last_sim
for night in 1 2 3; do
    next_second
    rm -f calls/*
    "$kt" run fleet.ini "${fast[@]}" 2>run.err
    check "wiped, night $night: the run exits 4" [ $? -eq 4 ]
    check "... and says why" grep -q '^kt560ax: north: suspicious: 40 cards before, 0 after' run.err
    "$kt" status fleet.ini >status.out
    check "... status exits 4" [ $? -eq 4 ]
    check "... and calls it suspicious, 40 cards before and 0 after" \
        grep -qE '^north +suspicious .* 0 +[0-9]+  40 cards before, 0 after; came back empty: ' \
        status.out
    check "... the metrics say so" \
        grep -qx 'kt560ax_state{fleet="fleet",controller="north",state="suspicious"} 1' kt560ax.prom
    check "... OnFailure is told so" grep -qx 'KT560AX_OUTCOME=suspicious' calls/0
    check "... the 40-card backup stays" [ -f "$good" ]
    check "... beside the 2 newest" [ "$(ls north/*.KT | wc -l)" -eq $((night < 2 ? 2 : 3)) ]
    check "... and the first suspicious backup is the one commit after the good one" \
        [ "$(commits)" -eq 2 ]
done
git -C history log -1 --format=%B main -- north >message
check "its line in the commit message begins with suspicious:" \
    grep -q '^suspicious: north: SystemDatabase, UserCardDatabase; cards removed 1, ' message
check "the report page gives both counts" grep -q '40 cards before, 0 after' report.html
"$kt" status fleet.ini --json >status.json
check "status --json names the last good backup" \
    [ "$(json_field status.json lastGood)" = "$good" ]
check "... its cards and the cards now" \
    [ "$(json_field status.json lastGoodCards)/$(json_field status.json cards)" = 40/0 ]

"$kt" accept fleet.ini south 2>unknown.err
check "accept of a section the fleet lacks exits 1" [ $? -eq 1 ]
check "... and says so" grep -q "^kt560ax: fleet.ini has no controller \[south\]\.$" unknown.err
"$kt" accept fleet.ini north >accept.out
check "accept of the suspicious controller exits 0" [ $? -eq 0 ]
"$kt" status fleet.ini >status.out
check "... and status calls it fine" [ $? -eq 0 ]
check "... in words" grep -qE '^north +fine ' status.out
cp fleet.state accepted.state
"$kt" accept fleet.ini north 2>again.err
check "a second accept exits 0" [ $? -eq 0 ]
check "... says there is nothing to accept" grep -q '^\[north\] is not suspicious' again.err
check "... and changes nothing" cmp -s fleet.state accepted.state
next_second
"$kt" run fleet.ini "${fast[@]}"
check "the next run exits 0" [ $? -eq 0 ]
check "... and --keep 2 removes the old 40-card backup" [ ! -e "$good" ]

end_checks
