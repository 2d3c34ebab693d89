#!/bin/sh
# Cross-builds the file-system layer and its tests for Windows with MinGW-w64 and runs them
# under Wine. Prints ctest's summary; exits non-zero when the build or any test fails.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-mingw"
jobs="${JOBS:-2}"

export WINEDEBUG=-all
export LANG=C.UTF-8
export LC_ALL=C.UTF-8

start=$(date +%s)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DEML2PST_FS_ONLY=ON

# One Wine server for the whole run, started detached from our output. Otherwise the server
# and its service processes, started by the first test, inherit ctest's output pipe and every
# test waits for them to exit (seconds each). The first start in a fresh prefix also sets the
# prefix up (about 5 s), done here before test discovery runs the executable.
# A server that was already running is left alone at the end.
if wineserver -p </dev/null >/dev/null 2>&1; then
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
fi
wineboot --init </dev/null >/dev/null 2>&1 || true

ninja -C "$build" -j "$jobs" tests_fs

status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?

echo "wine-tests: $(($(date +%s) - start)) s, ctest exit status $status"
exit "$status"
