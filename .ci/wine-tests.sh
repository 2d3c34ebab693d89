#!/bin/sh
# Cross-builds the programs and the whole test suite for Windows with MinGW-w64 (into build-win,
# with the static prefix of scripts/windows-deps.sh) and runs the tests under Wine. Prints
# ctest's summary; exits non-zero when the build or any test fails.
#
# Left out here (label linux-only), and run by the Linux suite: the cases that start the Linux
# PST readers (python3 with pypff, readpst, pffexport) - CorpusRoundTrip.* (tests_mime_readers),
# ReaderMatrixTest.*, OutlookMadeContexts.*IndependentReaders, Encodings/Transcoded.* - and
# gui_wizard_windows, which drives the GTK wizard under Xvfb. Other cases that end with a
# reader check make their own checks here and leave the readers out
# (testsupport::RunsLinuxPrograms). The shared corpus is read here too: Wine finds the Linux
# path of EML2PST_SHARED_DIR on drive Z:, the drive of the build folder.
# Not built for Windows at all: the POSIX-only cases in the tests' posix/ folders (fork and
# kill, setuid to an unprivileged user, symbolic links, /proc, a FIFO, SIGINT to the command
# line, a backslash inside a folder name).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-win"
jobs="${JOBS:-2}"

export WINEDEBUG=-all
export LANG=C.UTF-8
export LC_ALL=C.UTF-8

start=$(date +%s)

# One Wine server for the whole run, started detached from our output. Otherwise the server
# and its service processes, started by the first test, inherit ctest's output pipe and every
# test waits for them to exit (seconds each, or until its timeout). The first start in a fresh
# prefix also sets the prefix up (about 5 s), done here before test discovery runs the
# executables while building.
# A server that was already running is left alone at the end. The desktop and service processes
# a test's program may start later hold that program's descriptors; the tests therefore run
# through cmake/wine-run.sh, whose output goes through files.
if wineserver -p </dev/null >/dev/null 2>&1; then
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
fi
wineboot --init </dev/null >/dev/null 2>&1 || true

JOBS="$jobs" bash "$root/scripts/windows-build.sh" all

status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 900 -LE linux-only || status=$?

echo "wine-tests: $(($(date +%s) - start)) s, ctest exit status $status"
exit "$status"
