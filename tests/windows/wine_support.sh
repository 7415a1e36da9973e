# Shared by the tests under Wine: the command-line test support, Wine, its
# COM ports that lead to pseudo-terminals, and the window's start.
#   source wine_support.sh KT560AX VIRTUAL_CONTROLLER
# KT560AX and the virtual controller are built for this computer. Wine's
# prefix is $WINEPREFIX.
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../cli/support.sh" "$1" "$2"
wine=/usr/lib/wine/wine64
dosdevices=$WINEPREFIX/dosdevices
fast=(--tx-delay 10 --rx-delay 10 --timeout 500 --quiet)
mapped=()
cleanup_wine() {
    for com in "${mapped[@]}"; do rm -f "$dosdevices/$com"; done
    /usr/lib/wine/wineserver -k 2>/dev/null
    cleanup
}
trap cleanup_wine EXIT

# Wine's COM$2 leads to the pseudo-terminal linked at $1.
map_com() {
    ln -sfn "$(readlink -f "$1")" "$dosdevices/com$2"
    mapped+=("com$2")
}
# A path of this computer as programs under Wine see it: drive Z: is the
# root folder.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# save_through_com5 PROGRAM NAME CARDS CHECK: a virtual controller of CARDS
# cards behind COM5 (its pid in $last_sim, its records in NAME.sim.KT once
# stopped) saved by PROGRAM, a kt560ax.exe, into NAME.KT: the check CHECK.
save_through_com5() {
    start_sim "$2.tty" --cards "$3" --save "$2.sim.KT"
    map_com "$2.tty" 5
    "$wine" "$1" save "$(windows_path "$work/$2.KT")" --port COM5 --cards "$3" "${fast[@]}" \
        2>"$2.err"
    check "$4" [ $? -eq 0 ]
    [ -s "$2.err" ] && sed 's/^/    /' "$2.err"
}

# window_shows PROGRAM: the window program starts under Xvfb and shows its
# main window; false when Xvfb is missing (said by need).
title="KT560AX Data Backup System"
window_shows() {
    # Wine's desktop of the programs before has no display: a new one.
    /usr/lib/wine/wineserver -k 2>/dev/null
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$1" "$2" >window.out 2>&1 &
        for _ in $(seq 600); do
            if xwininfo -root -tree | grep -q "$3"; then
                xwininfo -root -tree | grep "$3" >window.seen
                exit 0
            fi
            sleep 0.1
        done
        exit 1' _ "$wine" "$1" "$title"
    local shown=$?
    /usr/lib/wine/wineserver -k 2>/dev/null
    return $shown
}
