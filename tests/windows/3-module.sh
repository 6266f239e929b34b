# One simulated module for each build, alike: every command gives the same output and exit
# status through COM8 as through the pseudo-terminal on Linux.
simulate ttyLinux && simulate ttyWindows && com 8 ttyWindows
for args in "probe" "info" "-b 9600 read -n 3 --csv" "-b 9600 set-address 5" \
    "-b 9600 -a 5 read" "provision --address 17 --baud 19200 --serial 240517103001 --type sht2x" \
    "-b 19200 -a 17 info"; do
    # shellcheck disable=SC2086 # the words of args are the arguments
    check "$args: as on Linux" same "$(outcome cli_linux -p "$work/ttyLinux" $args)" \
        "$(outcome cli_windows -p COM8 $args)"
done
check "the Windows build's polls reached the module" grep -q "RX 05 03" "$work/ttyWindows.log"
# A pulled adapter: the port vanishes while the reading goes on.
simulate ttyVanish --vanish-after 2 && com 9 ttyVanish
check "a vanished port ends the reading with exit 3" \
    same "exit 3" "$(outcome cli_windows -p COM9 -b 9600 read -n 0 | tail -n 1)"
check "a port that is not there: exit 3" same "exit 3" "$(outcome cli_windows -p COM42 probe | tail -n 1)"
# Ctrl-C reaches the console handler (Wine turns SIGINT into CTRL_C_EVENT): the scan stops after
# the request under way, says where it was, and exits 130, as on Linux.
interrupted_scan() { # the last two lines of a scan interrupted after 3 s
    "$@" scan >"$work/scan" 2>&1 &
    local pid=$!
    sleep 3
    pkill -INT -f 'quorvel-cli(\.exe)? -p .*scan$'
    wait "$pid"
    echo "exit $?"
    grep -o 'scan interrupted at' "$work/scan"
}
simulate ttyScan && com 10 ttyScan
check "Ctrl-C ends a scan as on Linux" same "$(interrupted_scan cli_linux -p "$work/ttyScan")" \
    "$(interrupted_scan cli_windows -p COM10)"
