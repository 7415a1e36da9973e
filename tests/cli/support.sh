# Shared by the command-line test scripts: the programs under test, a
# scratch folder that goes with the script, PASS/FAIL checks and virtual
# controllers on pseudo-terminals.
#   source support.sh KT560AX VIRTUAL_CONTROLLER
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../support/check.sh"
kt=$(readlink -f "$1")
sim=$(readlink -f "$2")
work=$(mktemp -d)
pids=()
cleanup() {
    [ -n "${KEEP:-}" ] && return
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export XDG_STATE_HOME=$work/state # the job log of these runs
# need PROGRAM...: true when all are there. A missing one is a failure
# under CI (CI=true), and said and skipped elsewhere.
need() {
    local missing=()
    for p in "$@"; do command -v "$p" >/dev/null || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ -n "${CI:-}" ]; then
        check "${missing[*]} installed" false
    else
        skipped=$((skipped + 1))
        echo "SKIP: ${missing[*]} not installed"
    fi
    return 1
}
# until_ended PID COMMAND...: runs COMMAND until it succeeds, for as long
# as process PID runs (then once more); its status is COMMAND's last.
until_ended() {
    local pid=$1
    shift
    until "$@"; do
        kill -0 "$pid" 2>/dev/null || {
            "$@"
            return
        }
        sleep 0.05
    done
}
# True while a process runs whose command line holds $1; read by the shell
# alone, so that the looking is never what it finds.
running_with() {
    local f argv
    for f in /proc/[0-9]*/cmdline; do
        mapfile -d '' -t argv <"$f" 2>/dev/null || continue
        [[ "${argv[*]}" == *"$1"* ]] && return 0
    done
    return 1
}
# True while a process other than $2 (the simulator that serves it) holds
# the device that $1 names open.
holding() {
    local device
    device=$(readlink -f "$1")
    find /proc/[0-9]*/fd -maxdepth 1 -lname "$device" -printf '%h\n' 2>/dev/null |
        grep -qv "^/proc/$2/fd$"
}
# True while a job holds the lock of backup set $1. It only looks (the
# kernel's table of locks names the lock file's inode), never takes it.
set_held() {
    local inode
    inode=$(stat -c %i "$(dirname "$1")/.$(basename "$1").lock" 2>/dev/null) || return 1
    grep -q ":$inode " /proc/locks
}
# version_commits REPOSITORY BRANCH: the commits of BRANCH that hold a new
# version of a controller; those that hold only the fleet's state are not.
version_commits() {
    git -C "$1" rev-list --count "$2" -- . ':(exclude).fleet-state.json' 2>/dev/null || echo 0
}
# shown FILE.json PYTHON-EXPRESSION-ON-d: true when the expression holds of
# what browser_check.py printed of a page.
shown() {
    python3 -c "import json,re,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if ($2) else 1)" "$1"
}
# Waits until the clock's second has changed: backups are named by the
# second they start in.
next_second() {
    local now
    now=$(date +%s)
    while [ "$(date +%s)" = "$now" ]; do sleep 0.05; done
}
# Two free TCP ports in a row on 127.0.0.1: the first in $port.
free_ports() {
    port=$(python3 -c '
import random, socket
while True:
    first = random.randint(20000, 60000)
    try:
        for p in (first, first + 1):
            s = socket.socket(); s.bind(("127.0.0.1", p)); s.close()
        print(first); break
    except OSError:
        pass')
}
# True once something accepts connections on 127.0.0.1:$1, within a
# minute however busy the machine.
accepting() {
    for _ in $(seq 1200); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}
# A virtual controller on a pty linked at $1; the rest are its options.
start_sim() {
    local link=$1
    shift
    "$sim" --link "$link" "$@" >"$link.log" 2>&1 &
    pids+=($!)
    last_sim=$!
    until_ended "$last_sim" test -e "$link" && return 0
    echo "the virtual controller at $link did not start" >&2
    return 1
}
stop_sim() { kill -TERM "$1" && wait "$1" 2>/dev/null; }
# The sorted key=value lines of a backup's Data sections, card files included.
records() {
    local dir base
    dir=$(dirname "$1")
    base=$(basename "$1")
    for f in "$1" "$dir/2$base" "$dir/4$base" "$dir/6$base" "$dir/8$base"; do
        [ -f "$f" ] && awk '/^\[/{d=($0 ~ /^\[Data\]/)} d && /=/' "$f" | tr -d '\r'
    done | sort
}
# Both backups exist and hold the same records.
same_records() {
    [ -f "$1" ] && [ -f "$2" ] && [ -n "$(records "$1")" ] && diff <(records "$1") <(records "$2")
}
# No file under the paths holds the text: lacks TEXT PATH...
lacks() { ! grep -rqF "$@"; }
head_key() { awk -F= -v k="$2" '$1==k{print $2}' "$1" | tr -d '\r' | head -1; }
# ser2net serving the pty linked at $1: raw TCP on $port, RFC 2217 on
# $port + 1.
start_ser2net() {
    local tty
    tty=$(readlink -f "$1")
    free_ports
    cat >ser2net.yaml <<YAML
%YAML 1.1
---
connection: &raw
  accepter: tcp,127.0.0.1,$port
  connector: serialdev,$tty,19200e81,local
connection: &rfc2217
  accepter: telnet(rfc2217),tcp,127.0.0.1,$((port + 1))
  connector: serialdev,$tty,19200e81,local
YAML
    ser2net -n -u -c ser2net.yaml -P "$work/ser2net.pid" >ser2net.log 2>&1 &
    pids+=($!)
    accepting "$port" && accepting $((port + 1))
}
