#!/usr/bin/env bash
# The program's start: where its Language.ini comes from, a second copy
# ends at once, and a copy that was killed does not keep the next one out.
#   startup_test.sh PROGRAM LANGUAGE_INI
set -u
program=$1
ini=$2
work=$(mktemp -d)
first=""
trap '[ -n "$first" ] && kill -9 "$first" 2>/dev/null; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen TMPDIR="$work" XDG_CONFIG_HOME="$work/config"
export XDG_CACHE_HOME="$work/cache"
unset XDG_RUNTIME_DIR
mkdir "$work/bin"
cp "$program" "$work/bin/kt560ax-backup"
fail() { echo "FAILED: $*"; exit 1; }

# Without Language.ini beside it, the user's own copy is made from the
# shipped one and the program starts.
(umask 000 && timeout 2 "$work/bin/kt560ax-backup" 2>/dev/null)
[ $? -eq 124 ] || fail "without Language.ini beside it the program did not start"
cmp -s "$work/config/kt560ax/Language.ini" "$ini" || fail "the user's Language.ini is not the shipped one"
[ "$(stat -c %a "$work/config/kt560ax/Language.ini")" = 600 ] ||
    fail "the user's Language.ini may be read or changed by others"
printf '\n; mine\n' >>"$work/config/kt560ax/Language.ini"
timeout 2 "$work/bin/kt560ax-backup" 2>/dev/null
grep -q '; mine' "$work/config/kt560ax/Language.ini" || fail "the user's Language.ini was overwritten"

# When no Language.ini can be had, the program says why instead of ending silently.
touch "$work/not-a-folder"
XDG_CONFIG_HOME="$work/not-a-folder" timeout 10 "$work/bin/kt560ax-backup" 2>"$work/err" </dev/null &
sleep 1
pkill -f "$work/bin/kt560ax-backup" # the message box waits for OK
grep -q "Language.ini cannot be created" "$work/err" || fail "a Language.ini that cannot be made is not reported"

# The single-copy lock is the user's own: a folder of its name that another
# user made first neither stops the program nor is used.
if [ "$(id -u)" -eq 0 ]; then
    rm -rf "$work/kt560ax-0"
    mkdir -m 777 "$work/kt560ax-0"
    chown 65534 "$work/kt560ax-0"
fi
cp "$ini" "$work/bin/Language.ini"
"$work/bin/kt560ax-backup" 2>/dev/null &
first=$!
sleep 1
kill -0 "$first" 2>/dev/null || fail "the first copy did not keep running"
timeout 10 "$work/bin/kt560ax-backup" 2>"$work/second"
[ $? -eq 0 ] || fail "a second copy did not end at once"
grep -q "its window is in front now" "$work/second" || fail "a second copy did not bring the first to the front"
if [ "$(id -u)" -eq 0 ]; then
    [ -z "$(ls -A "$work/kt560ax-0")" ] || fail "the lock went into a folder of another user's"
fi

kill -9 "$first"
wait "$first" 2>/dev/null
first=""
timeout 2 "$work/bin/kt560ax-backup" 2>/dev/null
[ $? -eq 124 ] || fail "after a killed copy the program did not start"
echo "1 passed, 0 failed"
