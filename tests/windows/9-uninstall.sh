# The uninstaller takes away everything the installer put there, and its registration.
check "there is an installation to remove" test -e "$INSTALLED/uninstall.exe"
wine "$INSTALLED/uninstall.exe" /S
wineserver -w
for _ in $(seq 100); do [ -e "$INSTALLED" ] || break; sleep 0.1; done
check "the uninstaller removes the installation folder" test ! -e "$INSTALLED"
check "and the Start-menu entry" test ! -e "$start_menu"
check "and its Apps and Features entry" not wine reg query "$uninstall_key"
