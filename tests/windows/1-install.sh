# The installer, silently into the fresh prefix: the same files as the portable zip, the
# Start-menu entry and the entry of Apps and Features. (9-uninstall.sh takes it away again.)
wine "$OUT/quorvel-$VERSION-setup.exe" /S
wineserver -w
zipped=$(unzip -Z1 "$OUT/quorvel-$VERSION-windows-x64.zip" | grep -v '/$' | sed "s|^quorvel-$VERSION/||" | sort)
check "the installer puts the zip's files in Program Files" \
    same "$zipped" "$(cd "$INSTALLED" && find . -type f ! -name uninstall.exe | sed 's|^\./||' | sort)"
for f in quorvel.exe quorvel-cli.exe platforms/qwindows.dll translations/Chinese.qm LICENSE.txt uninstall.exe; do
    check "installed: $f" test -s "$INSTALLED/$f"
done
check "no Qm folder beside the program (it would always win)" test ! -e "$INSTALLED/Qm"
start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvel.lnk"
check "Start-menu entry" test -s "$start_menu"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel'
check "registered in Apps and Features with its version" \
    grep -q "DisplayVersion.*$VERSION" <(wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null)
# What Explorer shows of a program: its icon and version resource.
shows_in_explorer() {
    local resources
    resources=$(x86_64-w64-mingw32-windres -i "$INSTALLED/$1" -O rc 2>/dev/null)
    grep -q "RT_GROUP_ICON" <<<"$resources" && grep -q '"ProductName", "Quorvel"' <<<"$resources" &&
        grep -q "\"ProductVersion\", \"$VERSION\"" <<<"$resources"
}
for exe in quorvel.exe quorvel-cli.exe; do
    check "$exe: icon, product name and version" shows_in_explorer "$exe"
done
