#!/usr/bin/env bash
# Three gateways (folders), each running its fleet and pushing its history
# to its own branch of one bare repository; status and report --remote
# answer for the whole site from the states the runs commit:
#   site_test.sh KT560AX VIRTUAL_CONTROLLER
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/support.sh" "$1" "$2"
need git python3 || end_checks
fast=(--tx-delay 10 --rx-delay 10 --timeout 200 --quiet)
export XDG_CACHE_HOME=$work/cache # where a remote URL's copy goes

start_sim door.tty --cards 5
git init -q --bare site.git
# gateway NAME [SETTING...]: a folder with a fleet file of one controller
# that answers, named door-NAME.
gateway() {
    local name=$1
    shift
    mkdir -p "$name"
    printf '[fleet]\nHistory=history\nRemote=%s\nRetries=0\n' "$work/site.git" >"$name/$name.ini"
    printf '%s\n' "$@" >>"$name/$name.ini"
    printf '[door-%s]\nPort=%s\nOnly=system,cards\nCards=10\n' "$name" "$work/door.tty" \
        >>"$name/$name.ini"
}
gateway east
gateway west
gateway north
printf '[dead]\nPort=%s\nOnly=system\n' "$work/dead.tty" >>west/west.ini
for name in east west north; do "$kt" run "$name/$name.ini" "${fast[@]}" 2>/dev/null; done

"$kt" status --remote "file://$work/site.git" >site.out
check "status --remote of a URL exits 4 for the failing controller" [ $? -eq 4 ]
check "... shows every controller of the three gateways, by branch" \
    [ "$(grep -cE '^(east/door-east|west/door-west|north/door-north) +changed ' site.out)" = 3 ]
check "... and names the one that fails with its fleet" \
    grep -qE '^west/dead +failing .* port unavailable ' site.out
check "... from a copy in the user's cache, for the user alone" \
    [ "$(stat -c %a "$work/cache/kt560ax/remotes")" = 700 ]
"$kt" status --remote site.git --problems >problems.out
check "a folder is read where it is, --problems naming the fleet" \
    grep -q '^west/dead: port unavailable after 1 try: ' problems.out

# north's gateway stopped running three days ago; the others go on.
python3 - north/history/.fleet-state.json <<'PY'
import datetime, json, sys
state = json.load(open(sys.argv[1]))
then = (datetime.datetime.now().astimezone() - datetime.timedelta(days=3)).isoformat(timespec="seconds")
state["lastRun"] = state["controllers"]["door-north"]["lastCompleteAt"] = then
json.dump(state, open(sys.argv[1], "w"))
PY
git -C north/history -c user.name=t -c user.email=t@t commit -qam "three days ago" &&
    git -C north/history push -q "$work/site.git" main:north
for name in east west; do "$kt" run "$name/$name.ini" "${fast[@]}" 2>/dev/null; done
"$kt" status --remote site.git >stopped.out
check "a gateway that stops running turns stale, with its gateway's name" \
    grep -qE "^north \(gateway\) +stale .*no run of north on $(hostname) since " stopped.out
check "... and so do its controllers" grep -qE '^north/door-north +stale ' stopped.out
"$kt" status --remote site.git --json >stopped.json
check "... which --json says too" shown stopped.json \
    "[g['fleet'] for g in d['gateways'] if g['state'] == 'stale'] == ['north']"

# A branch without a state, and a remote that cannot be reached.
git clone -q site.git clone 2>/dev/null && git -C clone checkout -q --orphan other &&
    git -C clone -c user.name=t -c user.email=t@t commit -q --allow-empty -m other &&
    git -C clone push -q origin other
"$kt" status --remote site.git >other.out 2>other.err
check "a branch without a state is named, and status exits 4" \
    [ $? -eq 4 -a "$(grep -c 'branch other of .* holds no fleet state' other.err)" = 1 ]
"$kt" status --remote clone >clone.out 2>/dev/null
check "a clone's folder reads the remote's branches" \
    [ "$(grep -cE '^(east|west|north)/door-' clone.out)" = 3 ]
"$kt" status --remote http://127.0.0.1:1/site.git --fetch-timeout 5 2>unreachable.err
check "an unreachable remote exits 2, saying so" \
    [ $? -eq 2 -a "$(grep -c 'could not be read' unreachable.err)" = 1 ]

"$kt" report --remote site.git -o site.html 2>/dev/null
check "report --remote writes the site's page" [ $? -eq 0 -a -s site.html ]
check "... with a section for each gateway" [ "$(grep -c '<section class="gateway">' site.html)" = 4 ]
check "... whose controllers' versions are said to be on their gateway" \
    [ "$(grep -c 'Its versions are in the history of west, on its gateway.' site.html)" -ge 1 \
      -a "$(grep -c 'keeps no history' site.html)" = 0 ]
if need chromium chromedriver; then
    for view in 1280:900:desktop 390:844:phone; do
        IFS=: read -r width height name <<<"$view"
        python3 "$here/../report/browser_check.py" site.html "$width" "$height" "$name.png" \
            >"$name.json"
        check "$name: the site's totals first" shown "$name.json" \
            "d['summary'][0] == '✗ 1 Failing' and d['summary'][3] == '⚠ 1 Stale'"
        check "$name: the stale and the failing controller, each in its gateway's section" \
            shown "$name.json" \
            "[r[0].split('\n')[0] for r in d['rows']] == ['north / door-north', 'west / dead']"
        check "$name: says that north's runs have stopped" shown "$name.json" \
            "'The newest run of north ($(hostname)) ended' in d['text']"
        check "$name: nothing loaded or referred to from elsewhere" shown "$name.json" \
            "d['loaded'] == [] and all(r.startswith('#') for r in d['refs']) \
             and d['cssUrls'] == 0 and d['scripts'] == 0"
        check "$name: no column, cell or line cut" shown "$name.json" "d['cut'] == []"
        check "$name: every time with its zone" shown "$name.json" \
            "d['times'] and all(re.fullmatch(r'\d{4}-\d\d-\d\d \d\d:\d\d UTC([+-]\d\d:\d\d)?', t) \
                                for t in d['times'])"
    done
    check "the page fits a phone's width" shown phone.json "d['width'] <= 390"
fi

end_checks
