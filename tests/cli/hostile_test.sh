#!/usr/bin/env bash
# kt560ax against hostile input: bad numbers, FIFOs and devices in place of
# backups, two jobs on one file, servers that flood or break the protocol,
# signals while connecting, a closed pipe, one server spelt two ways.
#   hostile_test.sh KT560AX VIRTUAL_CONTROLLER HOSTILE_SERVER
# Each check prints PASS or FAIL; the script exits 1 when one failed.
set -uo pipefail
server_program=$(readlink -f "$3")
source "$(dirname "$0")/support.sh" "$1" "$2"
fast=(--tx-delay 10 --rx-delay 10 --timeout 200 --quiet)
# Memory is measured only without the sanitizers, which keep freed memory.
measure_memory=1
[ -n "${ASAN_OPTIONS:-}" ] && measure_memory=0

# Runs kt560ax with a time limit; sets $status and $peak_kb (its peak RSS).
run_kt() {
    local limit=$1
    shift
    "$kt" "$@" &
    local job=$!
    peak_kb=0
    local waited=0
    while kill -0 "$job" 2>/dev/null && [ "$waited" -lt $((limit * 10)) ]; do
        local hwm
        hwm=$(awk '/^VmHWM/{print $2}' "/proc/$job/status" 2>/dev/null)
        [ -n "$hwm" ] && [ "$hwm" -gt "$peak_kb" ] && peak_kb=$hwm
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$job" 2>/dev/null; then
        kill -KILL "$job"
        wait "$job" 2>/dev/null
        status=124
    else
        wait "$job"
        status=$?
    fi
}
small_peak() { [ "$measure_memory" -eq 0 ] || [ "$peak_kb" -lt 61440 ]; }
start_server() { # start_server MODE SECONDS: sets $server_port
    # A new file: the last server's port must not be read for this one's.
    rm -f server.port
    "$server_program" "$1" "$2" >server.port &
    pids+=($!)
    # A whole line: a port number read half written would be another port.
    until_ended "$!" grep -qx '[0-9][0-9]*' server.port
    server_port=$(cat server.port)
}

# Numbers that are not numbers, settings and ports that are no such thing.
start_sim a.tty --cards 20; sim_a=$last_sim
for option in "--tx-delay nan" "--rx-delay inf" "--timeout 1e3" "--timeout -5"; do
    run_kt 5 save n.KT --port a.tty $option --quiet 2>/dev/null
    check "$option is a usage error" [ "$status" -eq 1 ]
done
run_kt 5 save n.KT --port a.tty --settings 19200,q,8,1 2>/dev/null
check "a malformed --settings is a usage error" [ "$status" -eq 1 ]
run_kt 5 save n.KT --port COM99999999999 2>port.err
check "a port that cannot be is a usage error" [ "$status" -eq 1 ]
check "... named as given" grep -q "COM99999999999" port.err

# Only regular files of a sane size.
mkfifo fifo.KT
run_kt 10 load fifo.KT --port a.tty "${fast[@]}" 2>fifo.err
check "a backup that is a FIFO exits 2 at once" [ "$status" -eq 2 ]
check "... naming it" grep -q "fifo.KT - is not a regular file" fifo.err
"$kt" save good.KT --port a.tty --only cards --cards 20 "${fast[@]}"
ln -s /dev/zero 2good.KT
run_kt 10 verify good.KT --port a.tty "${fast[@]}" 2>zero.err
check "a card file linked to /dev/zero exits 2" [ "$status" -eq 2 ]
check "... naming it" grep -q "2good.KT - is not a regular file" zero.err
run_kt 10 diff good.KT fifo.KT 2>/dev/null
check "diff of a FIFO exits 2" [ "$status" -eq 2 ]
rm 2good.KT

# A file name is taken as given, blanks and all.
"$kt" save "blank.KT  " --port a.tty --only system "${fast[@]}"
check "a file name ending in blanks is kept" [ -f "blank.KT  " -a ! -e blank.KT ]

# A 5-card Save, then a 3-card Save into the same file: slots 4 and 5 are
# left from the older backup and a restore leaves them out unless asked.
"$kt" save stale.KT --port a.tty --only cards --cards 5 "${fast[@]}"
"$kt" save stale.KT --port a.tty --only cards --cards 3 "${fast[@]}"
"$kt" load stale.KT --port a.tty --only cards "${fast[@]}" --json >stale.json 2>stale.err
check "a default load restores the 3 cards of the last backup" \
    grep -q '"cards":3,' stale.json
check "... naming the older slots it leaves out" \
    grep -q "also hold cards in slots 4, 5, left by an older backup" stale.err
"$kt" load stale.KT --port a.tty --only cards --cards 5 --yes "${fast[@]}" --json >stale.json
check "--cards 5 restores them" grep -q '"cards":5,' stale.json
stop_sim "$sim_a"

# Two saves from two controllers into one file: the second starts nothing.
start_sim b.tty --cards 300; sim_b=$last_sim
start_sim c.tty --cards 300 --seed 2; sim_c=$last_sim
"$kt" save two.KT --port b.tty --only cards --cards 300 "${fast[@]}" &
first=$!
until_ended "$first" set_held two.KT
check "the first save holds the set while it runs" set_held two.KT
"$kt" save two.KT --port c.tty --only cards --cards 300 "${fast[@]}" 2>two.err
check "a second save into a file in use exits 2" [ $? -eq 2 ]
check "... naming the file" grep -q "two.KT - is in use by another job" two.err
wait "$first"
check "... and the first save completes" [ $? -eq 0 -a "$(head_key two.KT Complete)" = 1 ]
stop_sim "$sim_c"

# A closed pipe for the progress: the job goes on and is logged.
(umask 000 && "$kt" save pipe.KT --port b.tty --only system --tx-delay 10 --rx-delay 10 2>&1 | head -c 1 >/dev/null
 exit "${PIPESTATUS[0]}")
check "a closed standard error pipe does not end the job" \
    [ $? -eq 0 -a "$(head_key pipe.KT Complete)" = 1 ]
check "... and the job log has its line" grep -q "pipe.KT" state/kt560ax/jobs.log
check "the job log is private under umask 000" [ "$(stat -c %a state/kt560ax/jobs.log)" = 600 ]
# A write the system refuses (a limit on the size of files): its reason is
# told and logged.
(ulimit -f 8
 trap '' XFSZ
 XDG_STATE_HOME=$PWD/limited "$kt" save big.KT --port b.tty --only cards --cards 300 "${fast[@]}" \
     2>big.err)
check "a save whose write is refused exits 2" [ $? -eq 2 ]
check "... giving the system's reason" grep -q "File too large" big.err
check "... in the job log too" grep -q "File too large" limited/kt560ax/jobs.log
stop_sim "$sim_b"

# A signal while a device server is reached exits 5.
start_server silent 20
"$kt" save sig.KT --port "rfc2217://127.0.0.1:$server_port" "${fast[@]}" 2>/dev/null &
job=$!
# Once it is connected and waiting for the server's answer.
connected() { ss -Htn state established "( dport = :$server_port )" | grep -q .; }
until_ended "$job" connected
kill -TERM "$job"
wait "$job"
check "SIGTERM while connecting exits 5" [ $? -eq 5 ]
"$kt" save quiet.KT --port "rfc2217://127.0.0.1:$server_port" "${fast[@]}" 2>quiet.err
check "a server that never answers is a port error" [ $? -eq 6 ]
check "... saying so" grep -q "does not take serial settings by RFC 2217" quiet.err

# Servers that flood or break the protocol: a communication error within
# the time-outs, in bounded memory.
for mode in flood endless-sb do-no-read; do
    scheme=rfc2217
    [ $mode = flood ] && scheme=tcp
    start_server $mode 40
    run_kt 30 save "$mode.KT" --port "$scheme://127.0.0.1:$server_port" --only system "${fast[@]}" \
        2>/dev/null
    check "a server that does $mode ends as a communication error" [ "$status" -eq 3 ]
    check "... with a peak of ${peak_kb} kB, under 60 MB" small_peak
done

# One device server spelt two ways is one line: its controllers one by one.
if need ser2net; then
    start_sim bus.tty --address 1,2 --cards 10; sim_bus=$last_sim
    start_ser2net bus.tty
    mkdir site
    printf '[fleet]\nReport=page.html\nMetrics=fleet.prom\n' >site/fleet.ini
    printf '[one]\nPort=tcp://127.0.0.1:%s\nAddress=1\nOnly=system,cards\nCards=10\nFolder=out\n' \
        "$port" >>site/fleet.ini
    printf '[two]\nPort=tcp://localhost:%s\nAddress=2\nOnly=system\nFolder=out\n' "$port" \
        >>site/fleet.ini
    # A backup dated tomorrow (a clock stepped back) must not push out the new one.
    mkdir -p site/out/one
    tomorrow=$(date -d tomorrow +%Y-%m-%d)
    printf '[HEAD]\r\nTitle=KT560AX\r\nComplete=1\r\nFinished=%sT02:00:00+00:00\r\n' "$tomorrow" \
        >"site/out/one/${tomorrow}_020000.KT"
    (umask 000 && cd / && "$kt" run "$work/site/fleet.ini" --keep 1 --tx-delay 10 --rx-delay 10 \
        --quiet)
    check "a fleet on one server spelt two ways exits 0" [ $? -eq 0 ]
    check "... with both backups complete" \
        [ "$(grep -l '^Complete=1' site/out/one/"$(date +%Y-%m-%d)"_*.KT site/out/two/*.KT |
            wc -l)" -eq 2 ]
    check "... a relative folder taken from the fleet file's" [ -d site/out/one ]
    check "... fleet folders private under umask 000" [ "$(stat -c %a site/out/two)" = 700 ]
    check "... the report and the metrics writable by their owner only" \
        [ "$(stat -c %a site/page.html site/fleet.prom | sort -u)" = 644 ]
    stop_sim "$sim_bus"
fi

# Another user's backup: permission denied, with its name.
if [ "$(id -u)" -eq 0 ] && need setpriv; then
    chmod 755 "$work"
    setpriv --reuid=65534 --regid=65534 --clear-groups "$kt" diff good.KT good.KT 2>denied.err
    check "another user's backup exits 2" [ $? -eq 2 ]
    check "... with permission denied and its name" grep -q "good.KT - permission denied" denied.err

    # A folder every user may write into: nothing another user plants there
    # goes into a backup or a controller, and nothing is written through it.
    mkdir -m 1777 shared
    start_sim shared.tty --cards 3; sim_shared=$last_sim
    "$kt" save shared/x.KT --port shared.tty --only system,cards --cards 3 "${fast[@]}" --quiet
    as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    as_nobody sh -c 'printf "S	0	HA0003	PLANTED0000000000000000
" >shared/.x.KT.journal'
    before=$(sha256sum shared/x.KT)
    "$kt" load shared/x.KT --port shared.tty --only cards --cards 3 --yes "${fast[@]}" \
        2>planted.err
    check "a journal another user planted stops a restore" [ $? -eq 2 ]
    check "... which names it and uses nothing of it" \
        grep -q "x.KT.journal - was written by another user" planted.err
    "$kt" diff shared/x.KT shared/x.KT 2>planted-diff.err
    check "... and a diff, which writes nothing" \
        [ $? -eq 2 -a "$(sha256sum shared/x.KT)" = "$before" ]
    check "... and the planted card reached no controller" lacks PLANTED shared.tty.log
    # A card file that is another user's link to a file of root's, and one
    # that leads nowhere: a job that writes the set writes through neither.
    printf 'secret\n' >secret && chmod 600 secret
    for name in y z; do
        cp shared/x.KT shared/$name.KT
        printf 'S\t1\tHA2001\t0012345678123401FF00FF00\n' >shared/.$name.KT.journal
        chmod 600 shared/.$name.KT.journal
    done
    as_nobody ln -s "$work/secret" shared/2y.KT
    as_nobody ln -s "$work/nowhere" shared/2z.KT
    for name in y z; do
        "$kt" save shared/$name.KT --port shared.tty --only system "${fast[@]}" --quiet \
            2>link-$name.err
        check "a card file that is a link ($name) stops the job" [ $? -eq 2 ]
        check "... and names it" grep -q "2$name.KT - is not a regular file" link-$name.err
    done
    check "... nothing was written through it" [ "$(cat secret)" = secret -a ! -e nowhere ]
    # A backup its user may not write: a Save says so before it reads the
    # controller, and leaves the backup and nothing beside it.
    mkdir mine
    cp shared/x.KT mine/ro.KT
    chmod 444 mine/ro.KT
    chown -R 65534 mine
    chmod 666 "$(readlink -f shared.tty)"
    as_nobody "$kt" save mine/ro.KT --port shared.tty --only system "${fast[@]}" 2>ro.err
    check "a save into a backup its user may not write exits 2" [ $? -eq 2 ]
    check "... which names it" grep -q "ro.KT - " ro.err
    check "... and is left alone, with nothing beside it" \
        [ "$(ls -A mine)" = ro.KT ] && cmp -s shared/x.KT mine/ro.KT
    stop_sim "$sim_shared"
fi

# A report page that is a link or a FIFO is neither written through nor
# replaced, and the command says so.
printf '[a]\nPort=COM1\n' >r.ini
printf 'mine\n' >target
ln -s target link.html
mkfifo fifo.html
for page in link.html fifo.html; do
    timeout 10 "$kt" report r.ini -o $page 2>page.err
    check "a report page that is $page exits 2" [ $? -eq 2 ]
    check "... says it is no regular file" grep -q "$page is not a regular file" page.err
done
check "... and the file behind the link is as it was" [ "$(cat target)" = mine -a -L link.html ]

# A fleet file with terminal escapes: they reach the terminal by name.
printf '[a]\nPort=COM1\n\033]0;owned\007 line\n' >escape.ini
"$kt" status escape.ini 2>escape.err
check "a fleet file's escape is told by name, never sent raw" \
    eval '! grep -q $'"'"'\033'"'"' escape.err && grep -q "ESC" escape.err'

end_checks
