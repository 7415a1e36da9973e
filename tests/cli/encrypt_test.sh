#!/usr/bin/env bash
# A fleet whose history is encrypted with Encrypt=, on a virtual controller,
# beside Debian's age: what the history and its remote hold, what opens it,
# what a run tells without reading it, and a history in clear rewritten:
#   encrypt_test.sh KT560AX VIRTUAL_CONTROLLER
set -uo pipefail
source "$(dirname "$0")/support.sh" "$1" "$2"
need age age-keygen git python3 || end_checks
fast=(--tx-delay 10 --rx-delay 10 --timeout 200)

age-keygen -o key.txt 2>/dev/null
age-keygen -y key.txt >recipients.txt
start_sim a.tty --cards 30
git init -q --bare remote.git
cat >fleet.ini <<INI
[fleet]
History=hist
Remote=remote.git
Encrypt=recipients.txt
[a]
Port=$work/a.tty
Folder=backups
Only=system,cards
Cards=30
INI
commits() { version_commits hist main; }

"$kt" run fleet.ini "${fast[@]}" --quiet
check "a run with Encrypt= exits 0" [ $? -eq 0 ]
backup=$(ls backups/a/*.KT | head -1)
card=$(awk -F= '/^HA0001=/{print $2}' "$backup" | tr -d '\r')
check "... its committed version opens with age -d -i KEY and is the backup" \
    cmp <(age -d -i key.txt hist/a/a.KT) "$backup"
check "... the pushed file is an age file" \
    [ "$(git -C remote.git cat-file blob fleet:a/a.KT | head -1)" = age-encryption.org/v1 ]
check "... and no card value is in the history or its remote" \
    lacks "$card" <(git -C hist log -p) <(git -C remote.git log -p fleet)
"$kt" status --remote remote.git >site.out
check "... its state is pushed in clear: status --remote reads it without a key" \
    [ $? -eq 0 -a "$(grep -cE '^fleet/a +changed ' site.out)" = 1 ]
check "... whose digests and their key are their owner's alone" \
    [ "$(stat -c %a fleet.digests fleet.digest-key | tr '\n' ' ')" = "600 600 " ]

"$kt" history fleet.ini a >versions.out
check "listing the versions needs no key" grep -q '^ *1  .*first version, 30 cards' versions.out
"$kt" history fleet.ini a --export 1 plain 2>plain.err
check "an export without --identity exits 2" [ $? -eq 2 ]
check "... says the history is encrypted, names the option and writes nothing" \
    [ "$(grep -c 'history is encrypted.*--identity FILE' plain.err)" = 1 -a ! -e plain ]
"$kt" history fleet.ini a --export 1 out --identity key.txt 2>out.err >/dev/null
check "with --identity it writes the version" same_records out/a.KT "$backup"
check "... and says nothing of a key that only its owner reads" [ ! -s out.err ]
chmod 644 key.txt
"$kt" history fleet.ini a --export 1 shared --identity key.txt 2>shared.err >/dev/null
check "a key that others may read is used, with a warning" \
    [ -f shared/a.KT -a "$(grep -c 'may be read by others' shared.err)" = 1 ]
chmod 600 key.txt

# One card changed on the controller: the run commits once, and says which.
sed 's/^HA0005=.*/HA0005=555555555555555555555555/' "$backup" >changed.KT
"$kt" load changed.KT --port a.tty --only cards --cards 30 --yes "${fast[@]}" --quiet
before=$(commits)
"$kt" run fleet.ini "${fast[@]}" --quiet
check "a second run commits the changed card" [ $? -eq 0 -a "$(commits)" = $((before + 1)) ]
check "... with the change line a history in clear has" \
    [ "$(git -C hist log -1 --format=%B | grep -c '^a: UserCardDatabase; cards changed 5; now 30 cards, 32 records$')" = 1 ]
"$kt" run fleet.ini "${fast[@]}" --quiet
check "a run without a change commits no version" [ "$(commits)" = $((before + 1)) ]
rm fleet.digests
"$kt" run fleet.ini "${fast[@]}" --quiet 2>lost.err
check "without its digests a run still commits" [ $? -eq 0 -a "$(commits)" = $((before + 2)) ]
check "... saying that it could not compare, on stderr and in the commit" \
    [ "$(grep -c '^kt560ax: a: could not compare with its last version' lost.err)" = 1 -a \
      "$(git -C hist log -1 --format=%B | grep -c '^a: could not compare with the last version;')" = 1 ]
check "... and keeps digests again" [ -s fleet.digests ]

# Versions put in place by hand, in a copy of the history: one that age
# encrypted opens; a damaged one, one for another key and one with no X25519
# stanza each end with why, and nothing written.
cp -a hist copy
sed 's/^History=hist/History=copy/' fleet.ini >copy.ini
put() { # FILE MESSAGE: a.KT's new version in the copy
    cp "$1" copy/a/a.KT && git -C copy -c user.name=t -c user.email=t@t commit -qam "$2"
}
age -R recipients.txt -o byage.age changed.KT
put byage.age "by age"
n=$("$kt" history copy.ini a | tail -1 | awk '{print $1}')
"$kt" history copy.ini a --export "$n" byage --identity key.txt >/dev/null
check "a file that age -r encrypted opens with history --export --identity" \
    same_records byage/a.KT changed.KT
python3 - byage.age <<'PY'
import base64, sys
body = open(sys.argv[1], "rb").read()
open("flipped.age", "wb").write(body[:-5] + bytes([body[-5] ^ 1]) + body[-4:])
open("cut.age", "wb").write(body[: body.index(b"\n--- ") + 50])
key = lambda: base64.b64encode(bytes(range(32))).decode().rstrip("=")
open("scrypt.age", "w").write(
    f"age-encryption.org/v1\n-> scrypt {key()[:22]} 18\n{key()}\n--- {key()}\n")
with open("scrypt.age", "ab") as f:
    f.write(body[-60:])
PY
age-keygen -o other.txt 2>/dev/null
for bad in "flipped:key.txt:fails authentication" "cut:key.txt:truncated" \
    "byage:other.txt:wrong key" "scrypt:key.txt:no X25519 recipient stanza"; do
    IFS=: read -r name identity why <<<"$bad"
    put "$name.age" "$name"
    n=$((n + 1))
    "$kt" history copy.ini a --export "$n" "out-$name" --identity "$identity" 2>"$name.err"
    code=$?
    check "$name: the export exits 2, says why and writes nothing" \
        [ $code -eq 2 -a "$(grep -c "$why" "$name.err")" = 1 -a ! -e "out-$name" ]
done

# A history in clear takes Encrypt= only once --reencrypt has rewritten it.
sed -e 's/^History=hist/History=clear/' -e '/^Encrypt=/d' -e '/^Remote=/d' fleet.ini >clear.ini
"$kt" run clear.ini "${fast[@]}" --quiet
sed -i 's/^History=clear$/History=clear\nEncrypt=recipients.txt/' clear.ini
"$kt" run clear.ini "${fast[@]}" --quiet 2>refused.err
check "Encrypt= on a history in clear is refused, naming --reencrypt" \
    [ $? -eq 2 -a "$(grep -c 'holds versions in clear.*--reencrypt' refused.err)" = 1 ]
"$kt" run clear.ini --reencrypt "${fast[@]}" --quiet 2>rewritten.err
check "--reencrypt rewrites it, and the run goes on" \
    [ $? -eq 0 -a "$(grep -c 'clear was rewritten: 1 commit, 1 file version' rewritten.err)" = 1 ]
check "... leaving no card value in it" lacks "$card" <(git -C clear log -p)
check "... and the fleet's state in clear" \
    [ "$(git -C clear cat-file blob main:.fleet-state.json | head -c 1)" = "{" ]
check "... and the history opens with the key" \
    [ "$("$kt" history clear.ini a --export 1 clear-out --identity key.txt)" = clear-out/a.KT ]

end_checks
