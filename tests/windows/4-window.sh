# quorvel.exe as a person meets it: started from its installation folder, as the Start-menu
# entry starts it; the window within 10 s, in the display language; Link, the COM port typed,
# 9600, OK, Read: the simulated module is polled and the values show.
started=$(date +%s%N)
start LANG=en_US.UTF-8
main=$(window "^Quorvel.*  V")
shown_ms=$((($(date +%s%N) - started) / 1000000))
check "the window shows within 10 s (${shown_ms} ms)" test -n "$main"
check "in English" grep -q '^Quorvel  ' <(xdotool getwindowname "$main")

simulate ttyWindow && com 7 ttyWindow
link_and_read "$main"
sleep 4
polls=$(grep -c "RX 01 03 00 00" "$work/ttyWindow.log")
check "linked through COM7 and polling: $polls polls" test "$polls" -ge 3
shot "$main" "$SHOTS/windows-wine.png"
check "a screenshot of the drawn window (not blank)" drawn "$SHOTS/windows-wine.png"
wineserver -k

# Chinese, where the display language is: Wine takes it from the locale.
mkdir -p "$work/locale"
localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" 2>/dev/null
start LOCPATH="$work/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
main=$(window "^Quorvel.*  V")
check "in Chinese under a Chinese locale" grep -q '温湿度' <(xdotool getwindowname "$main")
sleep 2 # drawn, not only mapped
shot "$main" "$SHOTS/windows-wine-zh.png"
check "a screenshot of the Chinese window (not blank)" drawn "$SHOTS/windows-wine-zh.png"
wineserver -k
