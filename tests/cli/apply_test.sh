#!/usr/bin/env bash
# kt560ax apply against three virtual controllers on pseudo-terminals that
# differ from a list in a few card slots:
#   apply_test.sh KT560AX VIRTUAL_CONTROLLER
set -uo pipefail
source "$(dirname "$0")/support.sh" "$1" "$2"
fast=(--tx-delay 10 --rx-delay 10 --timeout 200)
only=(--only system,cards --cards 30)

# The list: a's records with card 5 changed and cards 21 and 22 gone; b
# lacks card 3 and holds another card 8; c equals the list.
start_sim a.tty --cards 30 --log; sim_a=$last_sim
"$kt" save orig.KT --port a.tty "${only[@]}" "${fast[@]}" --quiet
sed -e 's/^HA0005=.*/HA0005=111111111111111111111111/' -e '/^HA002[12]=/d' orig.KT >list.KT
sed -e '/^HA0003=/d' -e 's/^HA0008=.*/HA0008=222222222222222222222222/' orig.KT >b.orig.KT
start_sim b.tty --load b.orig.KT --log; sim_b=$last_sim
start_sim c.tty --load list.KT --log; sim_c=$last_sim
cat >fleet.ini <<INI
[fleet]
History=hist
Retries=0
[a]
Port=$work/a.tty
Folder=backups
Only=system,cards
Cards=30
[b]
Port=$work/b.tty
Folder=backups
Only=system,cards
Cards=30
[c]
Port=$work/c.tty
Folder=backups
Only=system,cards
Cards=30
INI
writes() { grep -aoE '<SOH>01HA[0-9]{4}[0-9A-F]{24}' "$1.tty.log" | cut -c8-13 | sort | tr '\n' ' '; }
clear_logs() { for s in a b c; do : >"$s.tty.log"; done; }

"$kt" apply fleet.ini list.KT --controllers a,nope --dry-run "${fast[@]}" 2>unknown.err
check "an unknown controller exits 1" [ $? -eq 1 ]
check "... naming it, before any job" \
    [ "$(grep -c 'no controller "nope"' unknown.err)" = 1 -a ! -e backups ]
"$kt" apply fleet.ini list.KT "${fast[@]}" 2>plain.err
check "without --yes or --dry-run it exits 2" [ $? -eq 2 ]
check "... and says what each does" grep -q -- "--dry-run shows the plan, --yes applies it" plain.err

clear_logs
"$kt" apply fleet.ini list.KT --dry-run "${fast[@]}" >plan.out
check "--dry-run exits 4 when something would change" [ $? -eq 4 ]
check "... names exactly the slots to write" \
    [ "$(grep -c '^a: 1 record to write (cards 5); left as they are: 21, 22$' plan.out)" = 1 -a \
      "$(grep -c '^b: 3 records to write (cards 3, 5, 8); into empty slots: 3; left as they are: 21, 22$' plan.out)" = 1 -a \
      "$(grep -c '^c: 0 records to write (cards none)$' plan.out)" = 1 ]
check "... its values masked" lacks -e 111111111111111111111111 -e 222222222222222222222222 plan.out
check "... and writes nothing" [ -z "$(writes a)$(writes b)$(writes c)" ]
check "... and keeps no reading as a before-apply backup" [ -z "$(ls backups/*/ | grep apply)" ]

clear_logs
next_second
"$kt" apply fleet.ini list.KT --yes --json "${fast[@]}" >apply.json
check "--yes exits 0 once all read back equal" [ $? -eq 0 ]
check "... having written only the records that differ" \
    [ "$(writes a)" = "HA0005 " -a "$(writes b)" = "HA0003 HA0005 HA0008 " -a -z "$(writes c)" ]
reads() { grep -aoE '<SOH>01HB[0-9]{4}' "$1.tty.log" | wc -l; }
check "... and reading back only those: 30 card slots read, then 3" [ "$(reads b)" = 33 ]
for s in a b c; do
    "$kt" save "$s.after.KT" --port "$s.tty" "${only[@]}" "${fast[@]}" --quiet
done
equal_list() {
    for s in a b c; do
        diff <(records list.KT) <(records "$s.after.KT" | grep -v '^HA002[12]=') || return 1
    done
}
check "... and the controllers equal the list but in the slots it holds no card for" equal_list
applied() { "$kt" status fleet.ini --json | python3 -c "
import json, sys
s = {c['controller']: c.get('lastApply', {}) for c in json.load(sys.stdin)['controllers']}
print(' '.join(f\"{n}:{s[n].get('outcome')}:{s[n].get('written')}\" for n in sorted(s)))"; }
check "... each controller's apply is in the fleet's state" \
    [ "$(applied)" = "a:finished:1 b:finished:3 c:finished:0" ]
check "... and one history commit names the list and the controllers it changed" \
    [ "$(git -C hist log --format=%s | grep -c '^apply list.KT by .*@.*: 2 controllers changed$')" = 1 -a \
      "$(git -C hist log -1 --format=%b | grep -c '^[ab]: ')" = 2 ]
"$kt" history fleet.ini b --export 1 exported >/dev/null
written() { records "$1" | grep -e '^HA0003=' -e '^HA0005=' -e '^HA0008='; }
check "... whose version of b holds the records written" \
    [ "$(written exported/b.KT | wc -l)" = 3 -a "$(written exported/b.KT)" = "$(written list.KT)" ]
check "... and no value in its message" lacks -e 1111111111 -e 2222222222 <(git -C hist log --format=%B)

# A controller whose line is gone fails the apply with 3 or 6; the
# others are applied, and status names the failure.
sed -i 's|^Port=.*c.tty$|Port=/dev/null/none|' fleet.ini
"$kt" apply fleet.ini list.KT --yes --controllers c "${fast[@]}" >dead.out 2>&1
code=$?
check "a controller whose port is gone fails the apply" [ $code -eq 6 -o $code -eq 3 ]
check "... and status says its apply failed" \
    grep -q 'apply of list.KT port unavailable' <("$kt" status fleet.ini)
before=$(ls -t backups/b/*-before-apply.KT | head -1)
"$kt" load "$before" --port b.tty "${only[@]}" "${fast[@]}" --quiet
"$kt" save b.back.KT --port b.tty "${only[@]}" "${fast[@]}" --quiet
# A load leaves a slot its backup holds no card for as it is: the card
# the apply added to slot 3 stays.
check "the before-apply backup puts every record the controller held back" \
    diff <(records b.orig.KT) <(records b.back.KT | grep -v '^HA0003=')

# --keep 1 of a run keeps b's newest before-apply backup and no other.
next_second
"$kt" apply fleet.ini list.KT --yes --controllers b "${fast[@]}" --quiet
newest=$(ls -t backups/b/*-before-apply.KT | head -1)
"$kt" run fleet.ini --keep 1 --quiet "${fast[@]}" 2>/dev/null
check "a run's --keep 1 keeps the newest before-apply backup alone" \
    [ "$(ls backups/b/*-before-apply.KT)" = "$newest" ]

stop_sim "$sim_a"
stop_sim "$sim_b"
stop_sim "$sim_c"
end_checks
