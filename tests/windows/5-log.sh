# The log file's crash safety on Windows (FlushFileBuffers, the lock): rows logged from the
# monitor window, the program killed, a torn last line as a power cut leaves one; logging to the
# file again cuts the torn line and goes on with whole rows.
log="$WINEPREFIX/drive_c/quorvel-log.csv"
log_rows() { # log_rows SECONDS: start the window, link, poll, log to C:\quorvel-log.csv, kill
    local main monitor ask
    start LANG=en_US.UTF-8
    main=$(window "^Quorvel.*  V") || return 1
    link_and_read "$main"
    click "$main" WIDTH/2-81 HEIGHT-23 # Monitor
    monitor=$(window "Monitor") || return 1
    click "$monitor" 129 HEIGHT-23 # Log to file...
    ask=$(window "Log to file") || return 1
    type_into 'C:\quorvel-log.csv'
    xdotool key Return
    sleep "$1"
    wineserver -k
}
whole_rows() { # every line of the file has the header's eight fields
    [ -s "$log" ] && awk -F, 'NF != 8 { bad = 1 } END { exit bad }' "$log"
}
[ -e "$work/ttyWindow" ] || { simulate ttyWindow && com 7 ttyWindow; }
log_rows 6
rows=$(($(wc -l <"$log") - 1))
check "rows logged before the kill ($rows)" test "$rows" -ge 2
check "all of them whole" whole_rows
printf '2026-12-07T10:11:12.345Z,2026-12-07 1' >>"$log" # torn
log_rows 6
check "logging again cut the torn line and went on" whole_rows
check "with more rows than before" test "$(($(wc -l <"$log") - 1))" -gt "$rows"
