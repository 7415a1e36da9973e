#!/usr/bin/env bash
# The program's start: it ends silently without Language.ini, a second copy
# ends at once, and a copy that was killed does not keep the next one out.
#   startup_test.sh PROGRAM LANGUAGE_INI
set -u
program=$1
ini=$2
work=$(mktemp -d)
first=""
trap '[ -n "$first" ] && kill -9 "$first" 2>/dev/null; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen TMPDIR="$work"
cp "$program" "$work/kt560ax-backup"
fail() { echo "FAILED: $*"; exit 1; }

timeout 10 "$work/kt560ax-backup" 2>/dev/null
[ $? -eq 0 ] || fail "without Language.ini the program did not end at once"

cp "$ini" "$work/Language.ini"
"$work/kt560ax-backup" 2>/dev/null &
first=$!
sleep 1
kill -0 "$first" 2>/dev/null || fail "the first copy did not keep running"
timeout 10 "$work/kt560ax-backup" 2>/dev/null
[ $? -eq 0 ] || fail "a second copy did not end at once"

kill -9 "$first"
wait "$first" 2>/dev/null
first=""
timeout 2 "$work/kt560ax-backup" 2>/dev/null
[ $? -eq 124 ] || fail "after a killed copy the program did not start"
echo "1 passed, 0 failed"
