#!/bin/sh
# Runs a Windows program under Wine for the tests, its output going through files rather than
# the caller's pipes. Wine hands its Unix stderr and other descriptors on to the service and
# desktop processes a program may start; those outlive the program, so a caller that reads a
# pipe to its end (ctest) would wait for them for ever.
dir=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
wine "$@" >"$dir/out" 2>"$dir/err"
status=$?
cat "$dir/out"
cat "$dir/err" >&2
rm -rf "$dir"
exit "$status"
