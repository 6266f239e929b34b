# quorvel-cli.exe prints what the Linux build prints.
check "--version as on Linux" same "$(cli_linux --version)" "$(cli_windows --version)"
check "--help as on Linux" same "$(cli_linux --help)" "$(cli_windows --help)"
# A port Windows lists is one a driver registered: Wine registers those of its Ports key when it
# starts (a bare dosdevices link opens, but is not listed).
simulate ttyPorts
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$work/ttyPorts" /f >/dev/null 2>&1
wineserver -k
check "ports lists the registered COM6" grep -q '^COM6 ' <(cli_windows ports)
