# quorvel-cli.exe prints what the Linux build prints.
check "--version as on Linux" same "$(cli_linux --version)" "$(cli_windows --version)"
check "--help as on Linux" same "$(cli_linux --help)" "$(cli_windows --help)"
simulate ttyPorts && com 7 ttyPorts
check "ports lists the mapped COM7" grep -q '^COM7\b' <(cli_windows ports)
