#!/usr/bin/env bash
# The installer of scripts/windows under Wine: a silent install into
# Program Files with its Start-menu entries and its uninstall entry, the
# installed programs at work, and a silent uninstall that leaves the
# user's own files:
#   installer_test.sh SETUP KT560AX VIRTUAL_CONTROLLER
# Each check prints PASS or FAIL; the script exits 1 when one failed.
set -uo pipefail
setup=$(readlink -f "$1")
source "$(dirname "$(readlink -f "$0")")/wine_support.sh" "$2" "$3"
# A folder of Wine's as this computer sees it.
unix_path() { "$wine" winepath -u "$1" 2>/dev/null; }
windows_variable() { "$wine" cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }

installed=$(unix_path 'C:\Program Files\KT560AX Backup')
menu=$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\KT560AX Backup')
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KT560AXBackup'
settings=$(unix_path "$(windows_variable APPDATA)\\kt560ax")
state=$(unix_path "$(windows_variable LOCALAPPDATA)\\kt560ax")
# This user's files of the programs come from the programs installed here.
rm -rf "$settings" "$state"
trap 'rm -rf "$settings" "$state"; cleanup_wine' EXIT

"$wine" "$setup" /S
check "the installer installs silently" [ $? -eq 0 ]
check "... both programs, Qt and its translations into Program Files" eval '
    for file in kt560ax.exe kt560ax-backup.exe uninstall.exe Qt6Widgets.dll platforms/qwindows.dll \
        translations/qtbase_zh_TW.qm translations/qtbase_zh_CN.qm qt.conf kt560ax-prompt.cmd; do
        [ -f "$installed/$file" ] || { echo "    $file is missing"; exit 1; }
    done'
check "... and no Language.ini: each user gets one" [ ! -e "$installed/Language.ini" ]
# A shortcut's words, its arguments among them, are UTF-16: without the
# zero bytes an ASCII word reads as itself.
shortcut_says() { tr -d '\0' <"$menu/$1.lnk" | grep -aq "$2"; }
check "... a Start-menu entry for the window" shortcut_says "KT560AX Backup" kt560ax-backup.exe
check "... and one for a command prompt that finds kt560ax" \
    shortcut_says "KT560AX Command Prompt" kt560ax-prompt.cmd
"$wine" reg query "$uninstall_key" >uninstall-entry.txt 2>&1
check "... and an uninstall entry among the installed programs" eval '
    grep -q "DisplayName.*KT560AX Data Backup System" uninstall-entry.txt &&
    grep -q "UninstallString.*uninstall.exe" uninstall-entry.txt'

# The installed kt560ax saves through a COM port.
save_through_com5 "$installed/kt560ax.exe" installed 10 "the installed kt560ax.exe saves through COM5"
stop_sim "$last_sim"
check "... the controller's records" same_records installed.KT installed.sim.KT
check "... into the user's job log, with the user's Language.ini" \
    eval '[ -s "$state/jobs.log" ] && [ -s "$settings/Language.ini" ]'

if need xvfb-run xwininfo; then
    window_shows "$installed/kt560ax-backup.exe"
    check "the installed window shows \"$title\"" [ $? -eq 0 ]
fi

# The uninstaller runs a copy of itself and returns: Wine's server ends
# once the copy has.
"$wine" "$installed/uninstall.exe" /S
check "the uninstaller runs silently" [ $? -eq 0 ]
/usr/lib/wine/wineserver -w
check "... the programs are gone" [ ! -e "$installed" ]
check "... and their Start-menu entries" [ ! -e "$menu" ]
check "... and the uninstall entry" eval '! "$wine" reg query "$uninstall_key" >/dev/null 2>&1'
check "... and the user's Language.ini and job log stay" \
    eval '[ -s "$settings/Language.ini" ] && [ -s "$state/jobs.log" ]'

end_checks
