#!/usr/bin/env bash
# End to end under Wine: the Windows eml2pst.exe converts the sample mailbox and a generated one
# of 2,000 messages (non-ASCII folder and file names, paths over 260 characters) into data files
# with non-ASCII names; on Linux our verifier and the independent readers check them, and they
# must hold what the Linux build writes from the same sources. Prints both conversion times.
# Needs build/ (Linux) and build-win/ (scripts/windows-build.sh); the readers' scripts come
# from ../shared when it is there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
linux=build/cli/eml2pst
windows=build-win/cli/eml2pst.exe
readers=$root/../shared/tools/pst-readers
count=${E2E_MESSAGES:-2000}

export WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
work=$(mktemp -d "${TMPDIR:-/tmp}/eml2pst-wine-e2e.XXXXXX")
export WINEPREFIX=${WINEPREFIX:-$work/wineprefix}
if wineserver -p </dev/null >/dev/null 2>&1; then
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
else
  trap 'rm -rf "$work"' EXIT
fi
wineboot --init </dev/null >/dev/null 2>&1 || true

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

python3 tests/e2e/wine/make_mailbox.py "$work/generated" "$count"

check() { # NAME SOURCE: converts SOURCE on both platforms and compares
  local name=$1 source=$2 lin="$work/$1 linux.pst" win="$work/$1 zoë ☃.pst"
  local t0 t1 t2
  t0=$(date +%s.%N)
  "$linux" convert --quiet "$source" "$lin" >"$work/$name.linux.out" 2>&1 || fail "$name: Linux conversion"
  t1=$(date +%s.%N)
  wine "$windows" convert --quiet "$(winepath -w "$source")" "$(winepath -w "$win")" \
    >"$work/$name.windows.out" 2>&1 || { fail "$name: conversion under Wine"; cat "$work/$name.windows.out"; }
  t2=$(date +%s.%N)
  awk -v n="$name" -v a="$t0" -v b="$t1" -v c="$t2" -v m="$(find "$source" -name '*.eml*' | wc -l)" \
    'BEGIN { printf "%s: %d messages, Linux %.2f s, Wine %.2f s\n", n, m, b - a, c - b }'
  [ -f "$win" ] || { fail "$name: no file named $(basename "$win") (non-ASCII name lost?)"; return; }
  "$linux" verify "$win" | tail -n 1 | grep -q ": sound," || fail "$name: our verifier"
  diff <("$linux" list "$lin" | tail -n +2) <("$linux" list "$win" | tail -n +2) \
    || fail "$name: folders or counts differ from the Linux build's"
  if [ -d "$readers" ]; then
    for r in readpst pffexport; do
      python3 "$readers/${r}_dump.py" "$win" >"$work/$name.$r.json" 2>"$work/$name.$r.err" \
        || fail "$name: $r cannot read the file"
    done
    /usr/bin/python3 "$readers/pypff_dump.py" --full "$win" >"$work/$name.win.json" 2>/dev/null \
      || fail "$name: pypff cannot read the file"
    /usr/bin/python3 "$readers/pypff_dump.py" --full "$lin" >"$work/$name.lin.json" 2>/dev/null || true
    python3 "$readers/compare.py" --strict "$work/$name.lin.json" "$work/$name.win.json" \
      >"$work/$name.compare" || { fail "$name: pypff sees other content than in the Linux file"; head -20 "$work/$name.compare"; }
  fi
}

check sample "$root/samples/mailbox"
check generated "$work/generated"

# Both mailboxes at once under Wine: two workers, each writing its own data file, which must hold
# what the Linux build wrote from the same sources.
mkdir -p "$work/root" "$work/jobs"
cp -r "$root/samples/mailbox" "$work/root/sample"
cp -r "$work/generated" "$work/root/generated"
wine "$windows" convert --mailboxes --quiet --jobs 2 "$(winepath -w "$work/root")" \
  "$(winepath -w "$work/jobs")" >"$work/jobs.out" 2>&1 || { fail "jobs: conversion under Wine"; cat "$work/jobs.out"; }
for name in sample generated; do
  "$linux" verify "$work/jobs/$name.pst" | tail -n 1 | grep -q ": sound," || fail "jobs: $name is not sound"
  diff <("$linux" list "$work/$name linux.pst" | tail -n +2) <("$linux" list "$work/jobs/$name.pst" | tail -n +2) \
    || fail "jobs: $name differs from the Linux build's"
done

echo "wine-e2e: $failures failures"
[ "$failures" -eq 0 ]
