#!/usr/bin/env bash
# Packages the Windows cross build into dist/eml2pst-VERSION-win64-setup.exe (NSIS) and the
# portable dist/eml2pst-VERSION-win64.zip (one folder eml2pst-VERSION: programs, help, readme).
#   scripts/windows-package.sh BUILD_DIR VERSION
# BUILD_DIR is the cross-build folder (cli/eml2pst.exe, gui/eml2pst-wizard.exe) or a folder that
# holds both programs. Needs nsis, zip and the MinGW-w64 binutils.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR VERSION" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-packages.sh" nsis zip binutils-mingw-w64-x86-64 >&2
build=$(cd "$1" && pwd)
version=$2
start=$(date +%s)

# The version goes into file names and into the four numbers of the version blocks.
if ! [[ $version =~ ^([0-9]+(\.[0-9]+){0,3})([-+~][0-9A-Za-z.+~-]*)?$ ]]; then
    echo "$0: version '$version' does not start with numbers like 1.2.3" >&2
    exit 2
fi
IFS=. read -r -a numbers <<< "${BASH_REMATCH[1]}.0.0.0"
version4="${numbers[0]}.${numbers[1]}.${numbers[2]}.${numbers[3]}"

program() {
    local candidate
    for candidate in "$build/$1/$2" "$build/$2"; do
        if [ -f "$candidate" ]; then
            echo "$candidate"
            return
        fi
    done
    echo "$0: no $2 in $build or $build/$1" >&2
    exit 1
}
cli=$(program cli eml2pst.exe)
wizard=$(program gui eml2pst-wizard.exe)

work="$build/win-package"
stage="$work/eml2pst-$version"
rm -rf "$work"
mkdir -p "$stage" "$root/dist"

x86_64-w64-mingw32-strip -o "$stage/eml2pst.exe" "$cli"
x86_64-w64-mingw32-strip -o "$stage/eml2pst-wizard.exe" "$wizard"
cp -r "$root/docs/help" "$stage/help"
# Notepad before Windows 10 1809 shows LF-only text as one line.
sed 's/\r*$/\r/' "$root/README.md" > "$stage/README.txt"
for licence in LICENSE LICENSE.txt LICENSE.md COPYING; do
    if [ -f "$root/$licence" ]; then
        sed 's/\r*$/\r/' "$root/$licence" > "$stage/LICENSE.txt"
        break
    fi
done

# The uninstaller removes exactly the staged files, then their folders deepest first.
list="$work/uninstall-list.nsh"
# shellcheck disable=SC2016  # $INSTDIR is the installer's, not ours
(
    cd "$stage"
    find . -type f | LC_ALL=C sort | while IFS= read -r f; do
        f=${f#./}
        f=${f//\$/\$\$}
        printf 'Delete "$INSTDIR\\%s"\n' "${f//\//\\}"
    done
    find . -mindepth 1 -type d | LC_ALL=C sort -r | while IFS= read -r d; do
        d=${d#./}
        d=${d//\$/\$\$}
        printf 'RMDir "$INSTDIR\\%s"\n' "${d//\//\\}"
    done
) > "$list"

setup="$root/dist/eml2pst-$version-win64-setup.exe"
zip="$root/dist/eml2pst-$version-win64.zip"
rm -f "$setup" "$zip"
makensis -V2 -WX -DVERSION="$version" -DVERSION4="$version4" -DSTAGE="$stage" \
    -DUNINSTALL_LIST="$list" -DOUTFILE="$setup" "$root/packaging/windows/installer.nsi"
(cd "$work" && zip -qrX "$zip" "eml2pst-$version")

ls -l "$setup" "$zip"
echo "windows-package: $(($(date +%s) - start)) s"
