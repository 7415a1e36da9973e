#!/usr/bin/env bash
# kt560ax end to end, as a scheduler runs it, against virtual controllers
# on pseudo-terminals and through ser2net:
#   cli_test.sh KT560AX VIRTUAL_CONTROLLER
# Each check prints PASS or FAIL; the script exits 1 when one failed.
set -uo pipefail
source "$(dirname "$0")/support.sh" "$1" "$2"
fast=(--tx-delay 10 --rx-delay 10 --timeout 200 --quiet)

# Save, then load into an empty controller: both hold the same records.
start_sim a.tty --cards 30 --save a.sim.KT; sim_a=$last_sim
start_sim b.tty --empty --save b.sim.KT; sim_b=$last_sim
only=(--only master,system,appset,cards,diset)
"$kt" save a.KT --port a.tty --cards 30 "${only[@]}" "${fast[@]}"
check "save exits 0" [ $? -eq 0 ]
check "save is complete" [ "$(head_key a.KT Complete)" = 1 ]
"$kt" load a.KT --port b.tty "${only[@]}" "${fast[@]}"
check "load exits 0 and takes the file's card count" [ $? -eq 0 ]
stop_sim "$sim_a"
stop_sim "$sim_b"
keys='^(B|D|E|H|O)'
check "the restored controller equals the original" \
    diff <(records a.sim.KT | grep -aE "$keys") <(records b.sim.KT)
check "the backup holds every record" same_records a.KT b.sim.KT

# The exit statuses.
start_sim c.tty --cards 50; sim_c=$last_sim
"$kt" save 2>/dev/null
check "a wrong command line exits 1" [ $? -eq 1 ]
"$kt" load missing.KT --port c.tty "${fast[@]}" 2>/dev/null
check "a missing backup exits 2" [ $? -eq 2 ]
printf '[HEAD]\r\nTitle=KT560AX\r\nComplete=0\r\n' >stopped.KT
"$kt" load stopped.KT --port c.tty --only system "${fast[@]}" 2>stopped.err
check "a load from a stopped backup without --yes exits 2" [ $? -eq 2 ]
check "... and says why" grep -q "stopped before its end" stopped.err
check "... that it needs --yes" grep -q -- "needs --yes" stopped.err
check "... and asks nothing it cannot hear" lacks "Restore anyway?" stopped.err
"$kt" load stopped.KT --port c.tty --only system --yes "${fast[@]}" 2>/dev/null
check "... and with --yes it loads" [ $? -eq 0 ]
"$kt" save x.KT --port ./no-such-tty "${fast[@]}" 2>/dev/null
check "a port that cannot be opened exits 6" [ $? -eq 6 ]
"$kt" save r.KT --port tcp://127.0.0.1:1 --json "${fast[@]}" >refused.json 2>/dev/null
check "... and so does a device server that refuses" [ $? -eq 6 ]
check "... whose summary names the outcome and the reason" \
    grep -q '"error":"Cannot connect.*Connection refused.*"outcome":"connection-refused"' refused.json
"$kt" save d.KT --port c.tty --address 9 --only system "${fast[@]}" 2>silent.err
check "a controller that does not answer exits 3" [ $? -eq 3 ]
check "... naming the address and the port, and kt560ax scan" \
    grep -q 'No controller answered at address 09 on c.tty (.*c.tty)\..*kt560ax scan' silent.err
check "... and leaves no file" [ -z "$(ls -A | grep -E '^\.?d\.KT')" ]
cp -p a.KT kept.KT
"$kt" save kept.KT --port c.tty --address 9 --only system "${fast[@]}" 2>/dev/null
check "... and leaves a backup under that name as it was" cmp -s a.KT kept.KT
"$kt" save e.KT --port c.tty --cards 50 --tx-delay 10 --rx-delay 10 --quiet --json >e.json &
job=$!
# Once the save holds its set and has begun its file.
begun() { set_held e.KT && [ -e .e.KT.kt560ax-save/e.KT ]; }
until_ended "$job" begun
kill -TERM "$job"
wait "$job"
check "SIGTERM in the middle of a job exits 5" [ $? -eq 5 ]
check "... and leaves Complete=0" [ "$(head_key e.KT Complete)" = 0 ]
check "... and says so in the summary" grep -q '"outcome":"stopped"' e.json
# A complete backup is replaced only by a Save that completes.
cp -p a.KT whole.KT
"$kt" save whole.KT --port c.tty --cards 50 --tx-delay 10 --rx-delay 10 --json >whole.json \
    2>whole.err &
job=$!
# Its own set is there from its first record to its end.
begun() { set_held whole.KT && [ -e .whole.KT.kt560ax-save/whole.KT ]; }
until_ended "$job" begun
kill -INT "$job"
wait "$job"
check "a save stopped over a complete backup leaves it byte for byte" cmp -s a.KT whole.KT
kept=$(ls whole.stopped-*.KT 2>/dev/null)
check "... keeps what it read beside it, marked stopped" [ "$(head_key "$kept" Complete)" = 0 ]
check "... and names it" grep -q "\"keptIn\":\"[^\"]*$kept\"" whole.json
check "... in its summary too" grep -q "is kept in .*$kept" whole.err
"$kt" save whole.KT --port c.tty --cards 50 --only system --json "${fast[@]}" >whole.json
check "a save that completes replaces it and says so" \
    grep -q '"replacedComplete":{"controller":"01","finished":"20' whole.json
check "... leaving no folder of its own" [ ! -e .whole.KT.kt560ax-save ]
# A Language.ini without texts: the shipped ones stand in, and that is said once.
mkdir lang && cp "$kt" lang/kt560ax && : >lang/Language.ini
lang/kt560ax save lang.KT --port c.tty --only system --tx-delay 10 --rx-delay 10 2>lang.err
check "an empty Language.ini leaves a save its texts" \
    grep -qx "Backup finished: all selected data have been saved." lang.err
check "... and says once what it lacks" \
    [ "$(grep -c "^kt560ax: $work/lang/Language.ini has no texts of \[English\]" lang.err)" -eq 1 ]
stop_sim "$sim_c"

# Verify a controller against its backup, and compare two backups.
start_sim v.tty --cards 40; sim_v=$last_sim
"$kt" save v.KT --port v.tty --only system,cards --cards 40 "${fast[@]}"
"$kt" verify v.KT --port v.tty --only system,cards "${fast[@]}" >v.out
check "verify of an unchanged controller exits 0" [ $? -eq 0 ]
check "... and lists nothing" [ ! -s v.out ]
stop_sim "$sim_v"
start_sim w.tty --cards 40 --alter 12; sim_w=$last_sim
"$kt" verify v.KT --port w.tty --only system,cards "${fast[@]}" >w.out
check "verify of an altered controller exits 4" [ $? -eq 4 ]
check "... and lists each difference with both values" \
    grep -q '^  HA0022 (card 22) changed: file ".*", controller ".*Z"$' w.out
check "... by category, named as the window names it" grep -q '^Card Data: 3 differences$' w.out
stop_sim "$sim_w"
"$kt" diff v.KT v.KT --quiet
check "diff of a backup with itself exits 0" [ $? -eq 0 ]
sed 's/^HA0005=.*//' v.KT >v2.KT
"$kt" diff v.KT v2.KT --json >diff.json
check "diff of a backup without card 5 exits 4" [ $? -eq 4 ]
check "... and names it removed" grep -q '"key":"HA0005","kind":"removed"' diff.json
"$kt" log -n 3 >log.out
check "the job log lists the last jobs" [ "$(grep -c '^20' log.out)" -eq 3 ]
check "... with their outcome" grep -q 'verify .*differences (3)' log.out
check "... the port as given, with its device" \
    grep -qF "w.tty ($work/w.tty)" log.out
check "... and the file's full path" grep -qE " $work/v.KT\$" log.out
"$kt" log -n 100 >all.out
check "a port that could not be opened counts one failed try" \
    grep -qE ' 1  port unavailable .*/x.KT$' all.out

# The history of a controller that was never backed up says so.
start_sim h.tty --cards 5; sim_h=$last_sim
cat >fleet.ini <<FLEET
[fleet]
History=history
[door]
Port=$work/h.tty
Only=system
[gate]
Port=$work/no-such.tty
FLEET
"$kt" run fleet.ini "${fast[@]}" >/dev/null 2>&1
stop_sim "$sim_h"
"$kt" history fleet.ini gate >gate.out 2>gate.err
check "history of a controller without versions exits 0" [ $? -eq 0 ]
check "... and says it has none" grep -q '^\[gate\] has no versions in the history yet\.$' gate.err

# A bus scan finds the two controllers of 99 addresses.
start_sim bus.tty --address 3,42; sim_bus=$last_sim
check "scan lists the answering addresses" \
    [ "$("$kt" scan --port bus.tty --quiet --tx-delay 10 --rx-delay 10)" = "$(printf '03\n42')" ]
# A port lost in the middle of a scan ends it: no later address is called silent.
start_sim gone.tty --address 3; sim_gone=$last_sim
"$kt" scan --port gone.tty --quiet --tx-delay 10 --rx-delay 10 >gone.out 2>gone.err &
job=$!
until_ended "$job" grep -q '^03$' gone.out
stop_sim "$sim_gone"
wait "$job"
check "a scan whose port is lost exits 3" [ $? -eq 3 ]
check "... and says which addresses it reached" \
    grep -qE 'gone.tty was lost at address (0[4-9]|[1-9][0-9]); addresses 01\.\.[0-9]{2} were reached' gone.err

# A fleet of three controllers on two ports.
start_sim p1.tty --address 1,2 --cards 20; sim_p1=$last_sim
cat >fleet.ini <<FLEET
; two controllers on one bus, one on its own line
[north]
Port=$work/p1.tty
Address=1
Only=system,cards
Cards=20
Folder=$work/backups
[south]
Port=$work/p1.tty
Address=2
Only=system,holiday
[gate]
Port=$work/bus.tty
Address=42
Only=system
FLEET
"$kt" run fleet.ini --tx-delay 10 --rx-delay 10 >fleet.out 2>fleet.err
check "a fleet exits 0" [ $? -eq 0 ]
check "... with a complete backup per controller" \
    [ "$(grep -l '^Complete=1' backups/north/*.KT ./south/*.KT ./gate/*.KT 2>/dev/null | wc -l)" -eq 3 ]
check "... its summary table on standard output" grep -q "^north .*finished" fleet.out
check "... and nothing on standard error" [ ! -s fleet.err ]
next_second
"$kt" run fleet.ini --tx-delay 10 --rx-delay 10 --keep 1 --quiet
check "--keep 1 leaves one backup per controller" [ "$(ls backups/north | wc -l)" -eq 1 ]
printf '[gate]\nPort=%s\nAdress=4\n' "$work/bus.tty" >bad.ini
"$kt" run bad.ini 2>bad.err
check "a fleet file with a mistake exits 2" [ $? -eq 2 ]
check "... naming its line" grep -q "bad.ini line 3: unknown key \"Adress\"" bad.err

# A line that echoes each request: --echo and a fleet's Echo=1 read past it.
start_sim e.tty --cards 5 --echo; sim_e=$last_sim
"$kt" save echo.KT --port e.tty --only system "${fast[@]}" 2>/dev/null
check "a save on a line that echoes fails without --echo" [ $? -ne 0 ]
"$kt" save echo.KT --port e.tty --only system,cards --cards 5 --echo "${fast[@]}"
check "... and completes with it" [ $? -eq 0 -a "$(head_key echo.KT Complete)" = 1 ]
printf '[echoed]\nPort=%s\nOnly=system\nEcho=1\n' "$work/e.tty" >echo.ini
"$kt" run echo.ini --tx-delay 10 --rx-delay 10 --quiet >/dev/null
check "a fleet with Echo=1 exits 0" [ $? -eq 0 ]
stop_sim "$sim_e"

# The job process of a run's saves: what is not a job, or too long to be
# one, is said and dropped; a job whose command line is wrong ends with
# the usage error; the others run side by side, each ending on its line.
start_sim j1.tty --cards 5; sim_j1=$last_sim
start_sim j2.tty --cards 5; sim_j2=$last_sim
job() { # id file port
    printf '{"job":%d,"arguments":["save","%s","--port","%s","--only","system,cards","--cards","5",' \
        "$1" "$2" "$3"
    printf '"--tx-delay","10","--rx-delay","10","--quiet","--json"]}\n'
}
{
    echo garbage
    head -c 70000 /dev/zero | tr '\0' x
    echo
    job 1 j1.KT j1.tty
    printf '{"job":2,"arguments":["save","x.KT","--cards","0"]}\n'
    job 3 j2.KT j2.tty
} | "$kt" jobs >jobs.out 2>jobs.err
check "kt560ax jobs ends with its input and its jobs" [ $? -eq 0 ]
check "... saying what it dropped" \
    eval 'grep -q "not one was dropped: garbage" jobs.err && grep -q "longer than 65536" jobs.err'
check "... ending a wrong job with its usage error" \
    grep -q '{"errors":"kt560ax: --cards takes 1 to 9999.*","job":2,"status":1}' jobs.out
check "... and each save with its summary" eval '[ "$(grep -c "\"outcome\":\"finished\"" jobs.out)" = 2 ]'
check "... into its own file" eval 'same_records j1.KT j2.KT && [ "$(head_key j1.KT Complete)" = 1 ]'
stop_sim "$sim_j1"
stop_sim "$sim_j2"

# Through ser2net, in raw TCP and in RFC 2217 mode.
if need ser2net; then
    start_ser2net bus.tty
    "$kt" save direct.KT --port bus.tty --address 3 --only system,holiday,appset "${fast[@]}"
    for mode in tcp rfc2217; do
        p=$port
        [ $mode = rfc2217 ] && p=$((port + 1))
        "$kt" save $mode.KT --port $mode://127.0.0.1:$p --address 3 \
            --only system,holiday,appset "${fast[@]}"
        check "a save through ser2net ($mode) exits 0" [ $? -eq 0 ]
        check "... and holds what a direct save holds" same_records direct.KT $mode.KT
    done
fi
stop_sim "$sim_bus"
stop_sim "$sim_p1"

end_checks
