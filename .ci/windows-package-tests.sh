#!/usr/bin/env bash
# Tests the Windows packaging without the real programs: builds the dummies of
# packaging/windows/test with our resources into build-dist-fake, checks under Wine that the
# manifest, icon and version block take effect, then runs the installer test on them.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-dist-fake"
version=0.0-test
start=$(date +%s)

cmake -S "$root/packaging/windows/test" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DEML2PST_VERSION="$version" >/dev/null
ninja -C "$build" -j "${JOBS:-2}"

tmp=$(mktemp -d)
export WINEPREFIX="$tmp/prefix" WINEARCH=win64 WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$tmp"' EXIT
wineboot --init </dev/null >/dev/null 2>&1

status=0
# UTF-8 as the ANSI code page can only come from the embedded manifest.
want="acp=65001 appicon=yes version=$version"
for exe in cli/eml2pst.exe gui/eml2pst-wizard.exe; do
    got=$(wine "$build/$exe" resources </dev/null 2>&1 | tr -d '\r')
    if [ "$got" = "$want" ]; then
        echo "ok   $exe: $got"
    else
        echo "FAIL $exe: $got, expected $want"
        status=1
    fi
done

bash "$root/.ci/wine-installer-test.sh" "$build" "$version" || status=1

# The portable zip: programs, readme and the whole help manual in one folder.
top="eml2pst-$version"
listing=$(unzip -Z1 "$root/dist/$top-win64.zip" | LC_ALL=C sort)
want=$({
    printf '%s\n' "$top/" "$top/README.txt" "$top/eml2pst.exe" "$top/eml2pst-wizard.exe"
    [ ! -f "$build/win-package/$top/LICENSE.txt" ] || echo "$top/LICENSE.txt"
    cd "$root/docs" && find help -type d -printf "$top/%p/\n" -o -type f -printf "$top/%p\n"
} | LC_ALL=C sort)
if [ "$listing" = "$want" ]; then
    echo "ok   portable zip"
else
    echo "FAIL portable zip holds: ${listing//$'\n'/ }"
    status=1
fi

echo "windows-package-tests: $(($(date +%s) - start)) s, exit status $status"
exit "$status"
