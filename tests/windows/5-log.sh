# NOT YET RUN: written before the cross-built Qt Gui and Widgets were there; the click
# positions are taken from the Linux window and need checking against the window under Wine.
# The log file's crash safety on Windows (FlushFileBuffers): rows logged from the monitor
# window, the program killed, a torn last line as a power cut leaves one; logging to the file
# again cuts the torn line and goes on with whole rows.
log="$WINEPREFIX/drive_c/quorvel-log.csv"
log_rows() { # log_rows SECONDS: start the window, link, poll, log to C:\quorvel-log.csv, kill
    start LANG=en_US.UTF-8
    main=$(window "^Quorvel.*  V") || return 1
    click "$main" WIDTH/2 HEIGHT-28 # Link
    local dialog
    dialog=$(window "Serial port") || return 1
    xdotool key --window "$dialog" ctrl+a && xdotool type --window "$dialog" COM7
    xdotool key --window "$dialog" Tab && xdotool type --window "$dialog" 9600
    xdotool key --window "$dialog" Return
    sleep 1
    click "$main" 437 217 # Read
    click "$main" WIDTH/2-86 HEIGHT-28 # Monitor
    local monitor
    monitor=$(window "Monitor") || return 1
    click "$monitor" 140 HEIGHT-25 # Log to file...
    local ask
    ask=$(window "Log to file") || return 1
    xdotool key --window "$ask" ctrl+a && xdotool type --window "$ask" 'C:\quorvel-log.csv'
    xdotool key --window "$ask" Return
    sleep "$1"
    wineserver -k
}
whole_rows() { # every line of the file has the header's eight fields
    [ -s "$log" ] && awk -F, 'NF != 8 { bad = 1 } END { exit bad }' "$log"
}
log_rows 4
rows=$(($(wc -l <"$log") - 1))
check "rows logged before the kill ($rows)" test "$rows" -ge 2
check "all of them whole" whole_rows
printf '2026-12-07T10:11:12.345Z,2026-12-07 1' >>"$log" # torn
log_rows 3
check "logging again cut the torn line and went on" whole_rows
check "with more rows than before" test "$(($(wc -l <"$log") - 1))" -gt "$rows"
