#!/usr/bin/env bash
# A site of hundreds at a glance: a fleet of 250 controllers whose device
# server refuses them (closed TCP ports on 127.0.0.1, fast to fail), two
# virtual controllers on pseudo-terminals and a few odd ones. What the run,
# status, the hooks and the report say of them is grouped by cause, in the
# fleet file's words; --controllers runs just the ones named.
#   triage_test.sh KT560AX VIRTUAL_CONTROLLER
# Each check prints PASS or FAIL; the script exits 1 when one failed.
set -uo pipefail
source "$(dirname "$0")/support.sh" "$1" "$2"
fast=(--tx-delay 10 --rx-delay 10 --timeout 200)

start_sim north.tty --cards 5
start_sim south.tty --cards 5
# 250 ports of this computer that nothing listens on: each refuses at once.
mapfile -t closed < <(python3 -c '
import socket
found = []
for p in range(31000, 40000):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p))
        found.append(p)
    except OSError:
        pass
    finally:
        s.close()
    if len(found) == 251:
        break
print("\n".join(map(str, found)))')
cat >hook <<'HOOK'
#!/bin/sh
printf '%s\n' "$KT560AX_SUMMARY" >summary.txt
HOOK
chmod +x hook
{
    printf '[fleet]\nJobs=32\nOnDone=./hook\nReport=report.html\n'
    for i in $(seq 1 250); do
        printf '[door-%d]\nPort=tcp://127.0.0.1:%s\nOnly=system\n' "$i" "${closed[$i]}"
    done
    printf '[lone]\nPort=tcp://localhost:%s\nOnly=system\n' "${closed[0]}"
    printf '[gone]\nPort=%s/gone.tty\nOnly=system\n' "$work"
    printf '[ghost]\nPort=%s/north.tty\nAddress=9\nOnly=system\n' "$work"
    printf '[north]\nPort=%s/north.tty\nOnly=system,cards\nCards=5\n' "$work"
    printf '[south]\nPort=%s/south.tty\nOnly=system\n' "$work"
} >site.ini

"$kt" run site.ini --quiet "${fast[@]}" 2>run.err
check "a run whose server refuses 250 controllers exits 6" [ $? -eq 6 ]
check "... says so in a few lines" [ "$(wc -l <run.err)" -le 5 ]
check "... one for the server's host, with the count and the first 20" \
    grep -qx 'kt560ax: server refused: tcp://127.0.0.1 (250 controllers: door-1, door-2, .*, door-20 … and 230 more) — check that the device server is on and that Port= names it' run.err
check "... one for a server alone, naming the file, the section and Port=" \
    grep -qx "kt560ax: lone: server refused after 1 try: site.ini \[lone\] Port=tcp://localhost:${closed[0]}: Connection refused — check that the device server is on and that Port= names it" run.err
check "... one for a device that is not there" \
    grep -q "site.ini \[gone\] Port=$work/gone.tty: the device does not exist — plug in the serial adapter, or name its device in Port=" run.err
check "... one for a silent address, naming Address=" \
    grep -q "site.ini \[ghost\] Address=9: no controller answered on $work/north.tty — check Address= (the Controller ID), the cable and the port's settings" run.err
check "... never the window's advice on Language.ini" lacks "Language.ini" run.err site.state report.html
check "... and backs up the two that answer" bash -c '[ -n "$(ls north/*.KT)" ] && [ -n "$(ls south/*.KT)" ]'
check "OnDone's summary is grouped too" \
    [ "$(grep -c 'door-' summary.txt)" -eq 1 ] && grep -q '(250 controllers: ' summary.txt
check "the report page begins with the groups" \
    grep -q 'Needs someone.*' report.html && grep -q '250 controllers: door-1, ' report.html

"$kt" status site.ini --problems >problems.out
check "status --problems exits 4" [ $? -eq 4 ]
check "... the largest failing group first" \
    grep -q '^server refused: tcp://127.0.0.1 (250 controllers: ' <(head -1 problems.out)
check "... then each failing controller alone" \
    [ "$(sed -n '2,$p' problems.out | cut -d: -f1 | tr '\n' ' ')" = "ghost gone lone " ]
check "... and never the fine" [ -z "$(grep -E '^(north|south)\b' problems.out)" ]
"$kt" status site.ini >status.out
check "status lists the failing first, by name" \
    [ "$(sed -n '2,4p' status.out | awk '{print $1 "/" $2}' | tr '\n' ' ')" = "door-1/failing door-2/failing door-3/failing " ]
check "... the fine last" [ "$(tail -2 status.out | awk '{print $1}' | tr '\n' ' ')" = "north south " ]

record() { # record NAME: its record in the fleet's state
    python3 -c 'import json,sys; print(json.dumps(json.load(open("site.state"))["controllers"][sys.argv[1]], sort_keys=True))' "$1"
}
door=$(record door-7)
backups=$(ls north south | wc -l)
"$kt" run site.ini --controllers north,nope --quiet "${fast[@]}" 2>unknown.err
check "--controllers with a name the fleet lacks exits 1" [ $? -eq 1 ]
check "... naming it, before any job" \
    grep -qx 'kt560ax: site.ini has no controller "nope".' unknown.err && [ "$(ls north south | wc -l)" -eq "$backups" ]
next_second
"$kt" run site.ini --controllers north,south --quiet "${fast[@]}" 2>chosen.err
check "--controllers north,south backs up those two" \
    [ $? -eq 0 ] && [ "$(ls north/*.KT south/*.KT | wc -l)" -eq 4 ]
check "... says nothing of the others" [ ! -s chosen.err ]
check "... and leaves their state as it was" [ "$(record door-7)" = "$door" ]
check "... where status still finds them failing" grep -q '^server refused: ' <("$kt" status site.ini --problems)
end_checks
