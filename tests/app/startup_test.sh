#!/usr/bin/env bash
# The program's start: where its Language.ini comes from, a second copy
# ends at once, and a copy that was killed does not keep the next one out.
# A copy has started when its single-copy socket appears, which it makes
# once its window exists.
#   startup_test.sh PROGRAM LANGUAGE_INI
set -u
source "$(dirname "$(readlink -f "$0")")/../support/check.sh"
program=$1
ini=$2
work=$(mktemp -d)
copies=()
cleanup() {
    for pid in "${copies[@]}"; do kill -9 "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen TMPDIR="$work" XDG_CONFIG_HOME="$work/config"
export XDG_CACHE_HOME="$work/cache"
unset XDG_RUNTIME_DIR
mkdir "$work/bin"
cp "$program" "$work/bin/kt560ax-backup"
# Starts a copy in the background under umask $1 (default 022): its id in
# $copy.
start() {
    find "$work" -name kt560ax-backup.socket -delete 2>/dev/null
    (umask "${1:-022}" && exec "$work/bin/kt560ax-backup") 2>"$work/err" </dev/null &
    copy=$!
    copies+=("$copy")
}
# The copy $copy runs and its socket is there; false once it has ended
# without one.
started() {
    while kill -0 "$copy" 2>/dev/null; do
        [ -n "$(find "$work" -name kt560ax-backup.socket 2>/dev/null)" ] && return 0
        sleep 0.05
    done
    return 1
}
stop() { kill -9 "$copy" 2>/dev/null; wait "$copy" 2>/dev/null; }
# Standard error of the last copy says $1: waits while the copy runs.
said() {
    while kill -0 "$copy" 2>/dev/null; do
        grep -q "$1" "$work/err" && return 0
        sleep 0.05
    done
    grep -q "$1" "$work/err"
}

# Without Language.ini beside it, the user's own copy is made from the
# shipped one and the program starts.
start 000
check "without Language.ini beside it the program starts" started
stop
check "... with the user's own copy of the shipped Language.ini" \
    cmp -s "$work/config/kt560ax/Language.ini" "$ini"
check "... that only its user may read or change" \
    [ "$(stat -c %a "$work/config/kt560ax/Language.ini")" = 600 ]
printf '\n; mine\n' >>"$work/config/kt560ax/Language.ini"
start
check "a second start starts too" started
stop
check "... and leaves the user's Language.ini as it was" \
    grep -q '; mine' "$work/config/kt560ax/Language.ini"

# When no Language.ini can be had, the program says why instead of ending
# silently (its message box waits for OK).
touch "$work/not-a-folder"
XDG_CONFIG_HOME="$work/not-a-folder" start
check "a Language.ini that cannot be made is reported" said "Language.ini cannot be created"
stop

# The single-copy lock is the user's own: a folder of its name that another
# user made first neither stops the program nor is used.
if [ "$(id -u)" -eq 0 ]; then
    rm -rf "$work/kt560ax-0"
    mkdir -m 777 "$work/kt560ax-0"
    chown 65534 "$work/kt560ax-0"
fi
cp "$ini" "$work/bin/Language.ini"
start
first=$copy
check "a first copy starts" started
"$work/bin/kt560ax-backup" 2>"$work/second" </dev/null &
second=$!
copies+=("$second")
# At once: well within a minute, however busy the machine.
for _ in $(seq 1200); do kill -0 "$second" 2>/dev/null || break; sleep 0.05; done
check "a second copy ends at once" eval '! kill -0 "$second" 2>/dev/null && wait "$second"'
check "... and brings the first to the front" grep -q "its window is in front now" "$work/second"
if [ "$(id -u)" -eq 0 ]; then
    check "... and no lock went into a folder of another user's" [ -z "$(ls -A "$work/kt560ax-0")" ]
fi
copy=$first
stop
start
check "after a killed copy the program starts" started
stop

end_checks
