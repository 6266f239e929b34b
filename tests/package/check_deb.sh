#!/usr/bin/env bash
# Checks a built quorvel_*.deb as a user would meet it: its files, lintian, the metainfo and the
# desktop entry, each program's --version, and which catalogue the program loads for a Chinese
# and an English user.  Usage: tests/package/check_deb.sh <package.deb>
set -euo pipefail
deb=$(realpath "$1")
version=$(dpkg-deb -f "$deb" Version)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$(basename "$deb")" = "quorvel_${version}_$(dpkg --print-architecture).deb" ] || fail "file name $deb"
share=usr/share
for f in usr/bin/quorvel usr/bin/quorvel-modsim $share/applications/quorvel.desktop \
    $share/icons/hicolor/scalable/apps/quorvel.svg $share/icons/hicolor/48x48/apps/quorvel.png \
    $share/icons/hicolor/256x256/apps/quorvel.png $share/metainfo/org.quorvel.Quorvel.metainfo.xml \
    $share/quorvel/translations/Chinese.qm $share/doc/quorvel/copyright $share/doc/quorvel/changelog.gz; do
    [ -s "$root/$f" ] || fail "missing $f"
done
for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    [ -s "$root/$share/man/man1/$name.1.gz" ] || fail "no manual page for $name"
    # Whatever has --version tells the package's version (quorvel itself takes no options).
    if [ "$name" != quorvel ]; then
        out=$("$program" --version 2>&1) || fail "$name --version failed: $out"
        [[ "$out" == *"$version"* ]] || fail "$name --version says '$out', the package $version"
    fi
done
# The chart plugin where the program looks (a UTF-16 literal); only the plugin needs QCustomPlot.
plugin_dir=$(strings -el "$root/usr/bin/quorvel" | grep -m1 -x '\.\./lib/.*quorvel' || true)
[ -n "$plugin_dir" ] && [ -s "$root/usr/bin/$plugin_dir/quorvel-trend.so" ] ||
    fail "no chart plugin at usr/bin/$plugin_dir"
objdump -p "$root/usr/bin/quorvel" | grep -Eqi 'NEEDED.*(qcustomplot|printsupport)' &&
    fail "quorvel itself links the chart library"
grep -q "<release version=\"$version\"" "$root/$share/metainfo/"*.xml || fail "metainfo version"
dpkg-deb -f "$deb" Depends | grep -q 'libqt5serialport5' || fail "Depends: $(dpkg-deb -f "$deb" Depends)"
appstreamcli validate --no-net "$root/$share/metainfo/"*.xml || fail "appstreamcli validate"
desktop-file-validate "$root/$share/applications/quorvel.desktop" || fail "desktop-file-validate"
lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian"

# The catalogue a user gets, from a working directory without Qm/: the trace of the choice.
catalogue_for() {
    local log=$root/quorvel-$1.log
    # env runs it as its own process (no subshell between), so that $! is the program's.
    env -C "$root" -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG="$1" QT_QPA_PLATFORM=offscreen \
        QT_LOGGING_RULES='quorvel.catalogue.debug=true' QT_MESSAGE_PATTERN='%{category}: %{message}' \
        "$root/usr/bin/quorvel" >"$log" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do grep -q '^quorvel.catalogue' "$log" && break; sleep 0.1; done
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    grep '^quorvel.catalogue' "$log" || echo "no trace: $(cat "$log")"
}
zh=$(catalogue_for zh_CN.UTF-8)
[ "$zh" = "quorvel.catalogue: catalogue \"$root/$share/quorvel/translations/Chinese.qm\" loaded" ] ||
    fail "Chinese user: $zh"
en=$(catalogue_for en_US.UTF-8)
[ "$en" = "quorvel.catalogue: no catalogue: English" ] || fail "English user: $en"

echo "package check of $(basename "$deb"): $failures failed"
[ "$failures" -eq 0 ]
