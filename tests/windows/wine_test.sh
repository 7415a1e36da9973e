#!/usr/bin/env bash
# kt560ax.exe and kt560ax-backup.exe, built for Windows, run under Wine
# against virtual controllers of this computer on pseudo-terminals that
# Wine's COM ports lead to:
#   wine_test.sh FOLDER KT560AX VIRTUAL_CONTROLLER
# FOLDER holds the unpacked zip of scripts/windows; KT560AX and the
# virtual controller are built for this computer. Wine's prefix is $WINEPREFIX.
# Each check prints PASS or FAIL; the script exits 1 when one failed.
set -uo pipefail
windows=$(readlink -f "$1")
source "$(dirname "$(readlink -f "$0")")/wine_support.sh" "$2" "$3"

# The Windows kt560ax saves a controller; this computer's kt560ax saves the
# same controller: both backups hold the same records.
save_through_com5 "$windows/kt560ax.exe" windows 40 "kt560ax.exe saves through COM5"
sim_w=$last_sim
check "... and its backup is complete" [ "$(head_key windows.KT Complete)" = 1 ]
"$kt" save linux.KT --port windows.tty --cards 40 "${fast[@]}"
check "this computer's kt560ax saves the same controller" [ $? -eq 0 ]
check "... and both backups hold the same records, one by one" same_records windows.KT linux.KT
stop_sim "$sim_w"
check "... which are the controller's own" same_records windows.KT windows.sim.KT

# The Windows kt560ax restores that backup into an empty controller.
start_sim e.tty --empty --save e.sim.KT; sim_e=$last_sim
map_com e.tty 6
"$wine" "$windows/kt560ax.exe" load "$(windows_path "$work/windows.KT")" --port COM6 \
    "${fast[@]}" 2>windows-load.err
check "kt560ax.exe restores through COM6" [ $? -eq 0 ]
[ -s windows-load.err ] && sed 's/^/    /' windows-load.err
stop_sim "$sim_e"
check "... and the controller holds what the backup holds" same_records windows.KT e.sim.KT

# Ctrl+C in the middle of a save (Wine makes SIGINT the console's Ctrl+C):
# the job stops, exits 5 and leaves what it read, marked incomplete.
start_sim s.tty --cards 50; sim_s=$last_sim
map_com s.tty 5
"$wine" "$windows/kt560ax.exe" save "$(windows_path "$work/stop.KT")" --port COM5 --cards 50 \
    --tx-delay 10 --rx-delay 10 --quiet 2>stop.err &
job=$!
until_ended "$job" test -e .stop.KT.kt560ax-save/stop.KT
kill -INT "$job"
wait "$job"
check "Ctrl+C in the middle of a save exits 5" [ $? -eq 5 ]
stop_sim "$sim_s"
check "... and leaves Complete=0" [ "$(head_key stop.KT Complete)" = 0 ]

# A port that leads nowhere is said so, and nothing is called done.
"$wine" "$windows/kt560ax.exe" save "$(windows_path "$work/none.KT")" --port COM8 \
    --only system "${fast[@]}" 2>missing.err
check "a save through a port that is not there fails" [ $? -ne 0 ]
check "... and says the port does not exist" grep -q "COM8" missing.err

# A fleet on Windows: the backup, its history (read back by this
# computer's git), the report, the metrics and a hook that is a batch file,
# run without a shell of the program's own.
start_sim f.tty --cards 20 --save f.sim.KT; sim_f=$last_sim
map_com f.tty 7
printf '@echo off\r\necho %%1 > "%s"\r\n' "$(windows_path "$work/hook.txt")" >done.bat
printf '[fleet]\nHistory=history\nReport=report.html\nMetrics=kt.prom\nOnDone=done.bat hello\n' \
    >fleet.ini
printf '[north]\nPort=COM7\nCards=20\nFolder=backups\n' >>fleet.ini
"$wine" "$windows/kt560ax.exe" run "$(windows_path "$work/fleet.ini")" "${fast[@]}" >fleet.out 2>&1
check "a fleet runs on Windows" [ $? -eq 0 ]
stop_sim "$sim_f"
check "... its backup holds the controller's records" same_records backups/north/*.KT f.sim.KT
check "... its history holds the backup" eval 'git -C history show --stat HEAD | grep -q north.KT'
check "... its hook ran with its words" grep -q hello hook.txt
check "... and the report and the metrics name the controller" \
    eval 'grep -q north report.html && grep -q "controller=\"north\",state=\"changed\"" kt.prom'

# The window starts under Xvfb and shows its main window.
if need xvfb-run xwininfo; then
    window_shows "$windows/kt560ax-backup.exe"
    check "the window starts and shows \"$title\"" [ $? -eq 0 ]
fi

end_checks
