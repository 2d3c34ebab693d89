#!/usr/bin/env bash
# Packages BUILD_DIR (scripts/windows-package.sh) and tries the setup under Wine in a throwaway
# prefix: silently per user into a folder of our choosing, then for all users into the default
# folder. Each time it checks the files, the Start-menu shortcuts and the Uninstall key, runs
# the installed eml2pst.exe on samples/mailbox, uninstalls silently and checks nothing is left.
#   .ci/wine-installer-test.sh BUILD_DIR VERSION
# Prints one line a check and a summary; exits non-zero when anything failed.
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR VERSION" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
version=$2
start=$(date +%s)

bash "$root/scripts/windows-package.sh" "$build" "$version" || exit 1
setup="$root/dist/eml2pst-$version-win64-setup.exe"
stage="$(cd "$build" && pwd)/win-package/eml2pst-$version"

tmp=$(mktemp -d)
export WINEPREFIX="$tmp/prefix" WINEARCH=win64 WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
# No menu entries or file associations on the real desktop, no Mono or Gecko downloads.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
mkdir -p "$WINEPREFIX"
# One server for the whole run, detached from our output (see wine-tests.sh).
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$tmp"' EXIT
wineboot --init </dev/null >/dev/null 2>&1

checks=0
failures=0
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}

winenv() { wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r' | sed 's/ *$//'; }
unix() { winepath -u "$1" 2>/dev/null; }
key_exists() { wine reg query "$1" >/dev/null 2>&1; }
no_key() { ! key_exists "$1"; }
# The data of one value, as `reg query` prints it after the name and type, in the OEM code page
# (437 for LANG=C.UTF-8).
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | iconv -f CP437 -t UTF-8 | tr -d '\r' |
        sed -n "s/^ *$2 \{2,\}REG_[A-Z_]* \{2,\}//p"
}

has_resources() {
    local dump
    dump=$(x86_64-w64-mingw32-objdump -p "$1" 2>/dev/null) || return 1
    # RT_MANIFEST (24), RT_VERSION (16) and our icon group.
    grep -q "Entry: ID: 0x000018" <<< "$dump" && grep -q "Entry: ID: 0x000010" <<< "$dump" &&
        grep -q "APPICON" <<< "$dump"
}
# Wine's shortcuts hold the target's whole path in the ANSI code page (1252 in a new prefix).
points_to() {
    local want
    want=$(printf '%s' "$2" | iconv -f UTF-8 -t CP1252) && LC_ALL=C grep -aqF -- "$want" "$1"
}

key_path="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\eml2pst"
appdata=$(winenv APPDATA)
programdata=$(winenv ProgramData)
programfiles=$(winenv ProgramFiles)
mailbox=$(winepath -w "$root/samples/mailbox" 2>/dev/null)

try_mode() {
    local mode=$1 hive=$2 other=$3 dir=$4 menu=$5
    shift 5
    local key="$hive\\$key_path" udir umenu status out
    echo "== $mode: setup $*"
    udir=$(unix "$dir")
    umenu=$(unix "$menu")

    wine "$setup" "$@" </dev/null >/dev/null 2>&1
    check "$mode: setup exits with 0" test $? -eq 0
    local f ok=0
    for f in eml2pst.exe eml2pst-wizard.exe README.txt; do
        cmp -s "$stage/$f" "$udir/$f" || ok=1
    done
    diff -r "$root/docs/help" "$udir/help" >/dev/null 2>&1 || ok=1
    [ -f "$udir/uninstall.exe" ] || ok=1
    check "$mode: programs, readme, help and uninstaller in $dir" test $ok -eq 0
    check "$mode: eml2pst.exe carries manifest, version and icon" has_resources "$udir/eml2pst.exe"
    check "$mode: eml2pst-wizard.exe carries manifest, version and icon" \
        has_resources "$udir/eml2pst-wizard.exe"
    check "$mode: Start-menu shortcut to the wizard" \
        points_to "$umenu/eml2pst.lnk" "$dir\\eml2pst-wizard.exe"
    check "$mode: Start-menu shortcut to the help manual" \
        points_to "$umenu/eml2pst help.lnk" "$dir\\help\\index.html"

    check "$mode: Uninstall key in $hive" key_exists "$key"
    check "$mode: no Uninstall key in $other" no_key "$other\\$key_path"
    check "$mode: DisplayName, DisplayVersion, Publisher" test \
        "$(reg_value "$key" DisplayName)|$(reg_value "$key" DisplayVersion)|$(reg_value "$key" Publisher)" \
        = "eml2pst|$version|eml2pst project"
    check "$mode: InstallLocation" test "$(reg_value "$key" InstallLocation)" = "$dir"
    check "$mode: UninstallString" test "$(reg_value "$key" UninstallString)" = "\"$dir\\uninstall.exe\" /$mode"
    local quiet
    quiet=$(reg_value "$key" QuietUninstallString)
    check "$mode: QuietUninstallString" test "$quiet" = "\"$dir\\uninstall.exe\" /S /$mode"
    check "$mode: EstimatedSize, NoModify, NoRepair" test \
        "$(($(reg_value "$key" EstimatedSize) > 0))|$(reg_value "$key" NoModify)|$(reg_value "$key" NoRepair)" \
        = "1|0x1|0x1"

    out=$(wine "$dir\\eml2pst.exe" --version 2>&1 </dev/null)
    status=$?
    check "$mode: eml2pst.exe --version exits with 0 and says $version" \
        test "$status|$(grep -c -F "$version" <<< "$out")" = "0|1"
    local pst="$tmp/$mode.pst"
    wine "$dir\\eml2pst.exe" convert "$mailbox" "$(winepath -w "$pst" 2>/dev/null)" </dev/null >/dev/null 2>&1
    status=$?
    check "$mode: eml2pst.exe convert samples/mailbox exits with 0" test $status -eq 0
    check "$mode: the data file was written" test -s "$pst"
    wine "$dir\\eml2pst.exe" verify "$(winepath -w "$pst" 2>/dev/null)" </dev/null >/dev/null 2>&1
    check "$mode: eml2pst.exe verify accepts it" test $? -eq 0

    # The uninstaller copies itself to a temporary folder, starts the copy and returns at once.
    if [[ $quiet =~ ^\"([^\"]+)\"(.*)$ ]]; then
        # shellcheck disable=SC2086  # the arguments are words of the registered command
        wine "${BASH_REMATCH[1]}" ${BASH_REMATCH[2]} </dev/null >/dev/null 2>&1
        check "$mode: uninstaller exits with 0" test $? -eq 0
    fi
    local waited=0
    while { [ -e "$udir" ] || key_exists "$key"; } && [ $waited -lt 60 ]; do
        sleep 1
        waited=$((waited + 1))
    done
    check "$mode: install folder removed (${waited} s)" test ! -e "$udir"
    check "$mode: Start-menu folder removed" test ! -e "$umenu"
    check "$mode: Uninstall key removed" no_key "$key"
}

# NSIS wants /D= unquoted, and Wine quotes any argument with a space: the chosen folder has
# none (the default folder for all users has one).
try_mode CurrentUser HKCU HKLM 'C:\Tools\eml2pst-ü' \
    "$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\eml2pst" \
    /S /CurrentUser '/D=C:\Tools\eml2pst-ü'
try_mode AllUsers HKLM HKCU "$programfiles\\eml2pst" \
    "$programdata\\Microsoft\\Windows\\Start Menu\\Programs\\eml2pst" \
    /S /AllUsers

echo "wine-installer-test: $checks checks, $failures failed, $(($(date +%s) - start)) s"
[ "$failures" -eq 0 ]
