#!/usr/bin/env bash
# Window tests: the real eml2pst-wizard under Xvfb, driven by its test hook (a script of folder,
# file and message-box answers and of clicks) through a single-folder job over samples/mailbox
# and a multiple-folder job over a root of two mailboxes, then the data files read back with
# pypff. Screenshots of every window go to BUILD/gui-shots. A display that cannot start fails.
# With --windows, the same jobs run the Windows build (eml2pst-wizard.exe) under Wine; the
# wizard then draws its own screenshots, since X11 ones miss what Wine draws.
#   usage: .ci/gui-tests.sh [--windows] [BUILD_DIR]   (default: build, or build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE=$(pwd)
WINDOWS=0
if [ "${1:-}" = --windows ]; then
    WINDOWS=1
    shift
fi
if [ "$WINDOWS" = 1 ]; then
    BUILD=$(cd "${1:-build-win}" && pwd)
    WIZARD="$BUILD/gui/eml2pst-wizard.exe"
    export WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
    # A Wine prefix of its own: each run restarts its server, which must not end other jobs'.
    export WINEPREFIX="$BUILD/wine-gui"
    # Setting a fresh prefix up goes on in processes that outlive wineboot: wait for them, or
    # the first runs meet a half-made prefix (programs that Wine cannot start).
    wineboot --init </dev/null >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
else
    BUILD=$(cd "${1:-build}" && pwd)
    WIZARD="$BUILD/gui/eml2pst-wizard"
    command -v import >/dev/null || echo "gui-tests: imagemagick's import is missing: no screenshots" >&2
fi
SHARED=${EML2PST_SHARED_DIR:-$SOURCE/../shared}
SHOTS="$BUILD/gui-shots"

# A path as the wizard sees it. Under Wine, winepath may print Wine's own error text instead
# of a path when it cannot start: that is retried, then fails, never passed on as a path.
host() {
    [ "$WINDOWS" = 1 ] || { echo "$1"; return; }
    local path try
    for try in 1 2 3 4 5; do
        path=$(winepath -w "$1" 2>/dev/null) || path=""
        if [[ "$path" =~ ^[A-Za-z]:\\ && "$path" != *$'\n'* ]]; then echo "$path"; return; fi
        sleep 2
    done
    echo "gui-tests: winepath gave no Windows path for $1: $path" >&2
    return 1
}

[ -f "$WIZARD" ] || { echo "gui-tests: $WIZARD is not built" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "gui-tests: xvfb-run is missing (apt-get install xvfb xauth)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/eml2pst-gui.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$SHOTS" "$WORK/root" "$WORK/out"
mkdir -p "$WORK/home/Desktop" "$WORK/home/Documents" "$WORK/home/.config"
# Expectations that hold on Linux only (Windows names its own known folders).
linux_only() { if [ "$WINDOWS" = 0 ]; then echo "$*"; else echo "# $*"; fi; }
cp -r "$SOURCE/samples/mailbox" "$WORK/root/alice"
# A non-ASCII mailbox name checks that names pass through the toolkit as UTF-8.
cp -r "$SOURCE/samples/mailbox" "$WORK/root/zoë"
FAILED=0

# Runs the wizard on script $1 with log $2 under a fresh virtual display.
play() {
    local script=$1 log=$2 run=("$WIZARD") by=""
    # Paths in the wizard's form first: under Wine that starts the server, without a display.
    local script_path log_path shots_path
    script_path=$(host "$script") || return 1
    log_path=$(host "$log") || return 1
    shots_path=$(host "$SHOTS") || return 1
    : >"$log"
    if [ "$WINDOWS" = 1 ]; then
        run=(wine "$WIZARD")
        by=toolkit
        # Wine's desktop process belongs to the display it was started on, and a server started
        # without one shows no window anywhere: each run starts a server of its own.
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
    fi
    # On Linux a home of its own with Desktop and Documents folders and no desktop settings
    # file: the wizard must find the folders themselves.
    if [ "$WINDOWS" = 0 ]; then export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"; fi
    if ! GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 ASAN_OPTIONS=detect_leaks=0 \
        EML2PST_WIZARD_SCRIPT="$script_path" EML2PST_WIZARD_LOG="$log_path" \
        EML2PST_WIZARD_SHOTS="$shots_path" EML2PST_WIZARD_SHOTS_BY="$by" \
        timeout 600 xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "${run[@]}" \
        >"$log.out" 2>&1; then
        echo "gui-tests: the wizard or the display failed ($script)" >&2
        sed 's/^/  | /' "$log" "$log.out" >&2
        return 1
    fi
    # The toolkit must not complain about the windows' layout.
    if grep -q "CRITICAL" "$log.out"; then
        echo "gui-tests: the toolkit reported critical warnings ($script)" >&2
        grep "CRITICAL" "$log.out" | sed 's/^/  | /' >&2
        return 1
    fi
    # The Windows build ends its lines with CR LF.
    if ! tr -d '\r' <"$log" | grep -qx exit; then
        echo "gui-tests: the script did not reach the end ($script)" >&2
        sed 's/^/  | /' "$log" >&2
        return 1
    fi
}

expect_log() {  # $1 log, $2 fixed text that must appear
    grep -qF -- "$2" "$1" || { echo "gui-tests: missing in $1: $2" >&2; FAILED=1; }
}

# The number of messages pypff finds in a data file, or nothing when /work/shared is absent.
messages_in() {
    local dump="$SHARED/tools/pst-readers/pypff_dump.py"
    [ -f "$dump" ] || return 0
    /usr/bin/python3 "$dump" --tree "$1" | awk -F'\t' '{ n += $1 } END { print n }'
}

echo "== single-folder job"
cat >"$WORK/single.txt" <<SCRIPT
sleep 600
shot start
expect start.next enabled
click start.next
sleep 500
expect single.next disabled
folder -
click single.select
expect single.next disabled
folder $(host "$SOURCE/samples/mailbox")
click single.select
expect single.next enabled
expect-text single.source $(host "$SOURCE/samples/mailbox")
click single.help
browser none
click single.help
wait-box Help
browser default
sleep 300
shot single
save $(host "$WORK/single.pst")
click single.next
sleep 500
key status.start escape
sleep 300
expect status.start hidden
save $(host "$WORK/single.pst")
click single.next
sleep 500
expect status.stop hidden
shot status
click status.start
wait-box Completed
sleep 400
shot status-done
close status
sleep 300
expect-text single.source $(host "$SOURCE/samples/mailbox")
key single.next escape
sleep 300
expect single.next hidden
answer no
close start
expect start.next enabled
answer yes
close start
SCRIPT
if play "$WORK/single.txt" "$WORK/single.log"; then
    expect_log "$WORK/single.log" "folder [Choose Source Folder...] -> -"
    expect_log "$WORK/single.log" "url file://"
    expect_log "$WORK/single.log" "index.html#select-folder"
    expect_log "$WORK/single.log" "#select-folder (no browser)"
    expect_log "$WORK/single.log" "box [Help] No web browser could be started to show the help."
    expect_log "$WORK/single.log" "save [Outlook Data File(s) (*.pst)|*.pst] proposed mailbox"
    [ "$WINDOWS" = 1 ] || expect_log "$WORK/single.log" ".pst in $WORK/home/Documents -> "
    expect_log "$WORK/single.log" "box [Completed] EML Messages Converted Successfully."
    expect_log "$WORK/single.log" "box [eml2pst Converter] Are you sure you want to exit now? -> no"
    [ -s "$WORK/single.pst" ] || { echo "gui-tests: single.pst was not written" >&2; FAILED=1; }
    n=$(messages_in "$WORK/single.pst")
    [ -z "$n" ] || [ "$n" = 6 ] || { echo "gui-tests: single.pst holds $n messages, not 6" >&2; FAILED=1; }
else
    FAILED=1
fi

echo "== multiple-folder job"
cat >"$WORK/multiple.txt" <<SCRIPT
sleep 400
click start.multiple
click start.next
sleep 500
expect start.next hidden
expect multiple.select-all disabled
$(linux_only expect-text multiple.output "$WORK/home/Desktop")
click multiple.next
wait-box Select Folder(s) to Convert
folder $(host "$WORK/root")
click multiple.select
sleep 300
expect multiple.select-all enabled
expect-text multiple.select-all Check All
select 2
key multiple.list space
expect-checked 2 yes
expect-checked 1 no
key multiple.list space
expect-checked 2 no
key multiple.list space
expect-text multiple.select-all Check All
folder $(host "$WORK/out")
click multiple.change
expect-text multiple.output $(host "$WORK/out")
click multiple.select-all
expect-text multiple.select-all Uncheck All
expect-tip 1 1 =
expect-tip 2 1 =
expect-tip 2 0 -
sleep 300
shot multiple
click multiple.back
sleep 300
shot start-multiple
click start.next
sleep 300
expect-text multiple.output $(host "$WORK/out")
expect-text multiple.select-all Uncheck All
click multiple.next
sleep 500
shot multiple-status
click status.start
wait-box Completed
sleep 400
shot multiple-status-done
close status
sleep 400
shot multiple-marked
close multiple
sleep 300
expect start.next shown
answer yes
close start
SCRIPT
if play "$WORK/multiple.txt" "$WORK/multiple.log"; then
    expect_log "$WORK/multiple.log" "box [Select Folder(s) to Convert] No Folders Selected ! | Please Select alteast one folder to convert."
    expect_log "$WORK/multiple.log" "box [Completed] All Folders Converted Successfully."
    for who in alice zoë; do
        f="$WORK/out/$who.pst"
        [ -s "$f" ] || { echo "gui-tests: $who.pst was not written" >&2; FAILED=1; continue; }
        n=$(messages_in "$f")
        [ -z "$n" ] || [ "$n" = 6 ] || { echo "gui-tests: $who.pst holds $n messages, not 6" >&2; FAILED=1; }
    done
else
    FAILED=1
fi

echo "== stop while converting"
# Enough messages that the run is still going when Stop is pressed: the engine then closes the
# status window from inside the running handler, which must neither crash nor hang.
# The converter takes several thousand small messages a second, so there are 20,000.
mkdir -p "$WORK/many"
/usr/bin/python3 - "$WORK/many" <<'PY'
import sys
for i in range(1, 20001):
    with open(f"{sys.argv[1]}/m{i}.eml", "w", newline="") as f:
        f.write(f"From: a@example.org\r\nSubject: message {i}\r\n\r\nbody {i}\r\n")
PY
cat >"$WORK/stop.txt" <<SCRIPT
sleep 300
click start.next
sleep 300
folder $(host "$WORK/many")
click single.select
save $(host "$WORK/stopped.pst")
click single.next
sleep 300
click status.start
wait-for status.stop
shot status-running
answer yes
click status.stop
wait-box Confirm Stop
wait-box Completed
sleep 300
expect-text single.source $(host "$WORK/many")
save $(host "$WORK/again.pst")
click single.next
sleep 300
expect status.start enabled
expect-text status.count Conversion Not Started Yet...
click status.start
wait-box Completed
sleep 300
close status
sleep 300
close single
sleep 200
answer yes
close start
SCRIPT
if play "$WORK/stop.txt" "$WORK/stop.log"; then
    expect_log "$WORK/stop.log" "box [Confirm Stop] This action will STOP complete conversion process."
    expect_log "$WORK/stop.log" "box [Completed] Conversion stopped."
    # The same program converts again after the stop.
    expect_log "$WORK/stop.log" "box [Completed] EML Messages Converted Successfully."
    [ -s "$WORK/again.pst" ] || { echo "gui-tests: again.pst was not written" >&2; FAILED=1; }
    [ -s "$WORK/stopped.pst" ] || { echo "gui-tests: stopped.pst was not written" >&2; FAILED=1; }
    n=$(messages_in "$WORK/stopped.pst")
    [ -z "$n" ] || [ "$n" -lt 20000 ] || { echo "gui-tests: the stop did not stop ($n messages)" >&2; FAILED=1; }
else
    FAILED=1
fi

[ -d "$SHARED" ] || echo "gui-tests: $SHARED is absent: data files not read back with pypff"
echo "screenshots: $SHOTS"
[ "$FAILED" = 0 ] && echo "gui-tests: all passed"
exit "$FAILED"
