#!/usr/bin/env bash
# Runs the Windows program under Wine in a virtual X display, against the stand-in
# counter library, and checks it as a user would: the window, the traffic with the
# counter, the keys, the menu, and a start without any library at all.
#
# Usage: run_wine_test.sh [SOURCE_DIR [BUILD_DIR]]
#   SOURCE_DIR  the repository (default: two folders up from this script)
#   BUILD_DIR   an already built Windows build folder; without it the script builds
#               the "windows" preset into SOURCE_DIR/build/windows
# Exits 0 when every check passes, 1 when one fails, 77 (skipped) when a tool it
# needs is missing. Leaves its logs and screenshots in BUILD_DIR/wine-test.
set -uo pipefail

# Nothing may hang: besides the time-out on every wait below, the whole run is bounded.
if [[ -z "${PULSEMETER_WINE_TEST_BOUNDED:-}" ]]; then
    PULSEMETER_WINE_TEST_BOUNDED=1 exec timeout --kill-after=20 290 "$0" "$@"
fi

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "${1:-$script_dir/../..}" && pwd)
build_dir=${2:-}

skip() {
    echo "SKIP: $*"
    exit 77
}

for tool in wine wineserver x86_64-w64-mingw32-g++ x86_64-w64-mingw32-windres cmake Xvfb \
    xdotool xwininfo import convert; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/deps.sh build windows gui)"
done
# grep reads to the end: with -q it could leave the lister to die of SIGPIPE, which
# pipefail would count as a failure.
locale -a 2>/dev/null | grep -i '^ja_JP\.utf-\?8$' >/dev/null ||
    skip "the ja_JP.UTF-8 locale is missing (scripts/deps.sh windows)"
fc-list 2>/dev/null | grep IPAGothic >/dev/null || skip "the IPAGothic font is missing (scripts/deps.sh build)"

# --- build -------------------------------------------------------------------------
if [[ -z "$build_dir" ]]; then
    build_dir=$source_dir/build/windows
    echo "== building the windows preset into $build_dir"
    (cd "$source_dir" && cmake --preset windows >/dev/null && cmake --build --preset windows -j2) ||
        { echo "FAIL: the Windows build failed"; exit 1; }
fi
build_dir=$(cd "$build_dir" && pwd)
exe=$build_dir/platform/windows/pulsemeter.exe
dll=$build_dir/platform/windows/FTD2XX.dll
probe=$build_dir/platform/windows/window_probe.exe
for built in "$exe" "$dll" "$probe"; do
    [[ -f "$built" ]] || { echo "FAIL: $built was not built"; exit 1; }
done

work=$build_dir/wine-test
# A Wine server left behind by an earlier, interrupted run goes before its prefix does.
[[ -d "$work/prefix" ]] && WINEPREFIX=$work/prefix timeout 20 wineserver -k >/dev/null 2>&1
rm -rf "$work"
mkdir -p "$work/with-sim" "$work/alone"
# The stand-in sits beside one copy of the program; the other copy has no library.
cp "$exe" "$dll" "$work/with-sim/"
cp "$exe" "$work/alone/"
cp "$probe" "$work/"

export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
unset WINEARCH

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok   - $what"
    else
        echo "FAIL - $what"
        failures=$((failures + 1))
    fi
}
started=$SECONDS
elapsed() { echo "$((SECONDS - started)) s"; }

# --- resources, read back from the executable --------------------------------------
resources=$(x86_64-w64-mingw32-windres -J coff -i "$exe" -O rc 2>/dev/null | tr -d '\r')
has_resource() { grep -qF -- "$1" <<<"$resources"; }
check "menu 101 is there, in Japanese (language 17, 1)" eval 'grep -B2 "^101 MENU" <<<"$resources" | grep -q "LANGUAGE 17, 1"'
# ﾒﾆｭｰ and ﾌﾟﾛｸﾞﾗﾑ終了 in UTF-16, as Windows shows them
check "the popup reads ﾒﾆｭｰ" has_resource 'POPUP L"\xff92\xff86\xff6d\xff70"'
check "the item reads ﾌﾟﾛｸﾞﾗﾑ終了 and sends 40001" \
    has_resource 'MENUITEM L"\xff8c\xff9f\xff9b\xff78\xff9e\xff97\xff91\x7d42\x4e86", 40001'
check "the manifest asks for asInvoker without uiAccess" \
    has_resource 'requestedExecutionLevel level=""asInvoker"" uiAccess=""false""'
check "no icon resource" eval '! grep -q "Type: icon\|Type: group icon" <<<"$resources"'

# --- clean-up, whatever happens ----------------------------------------------------
xvfb_pid=""
program_pid=""
cleanup() {
    [[ -n "$program_pid" ]] && kill "$program_pid" 2>/dev/null
    [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]] && timeout 20 wineserver -k >/dev/null 2>&1
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'echo "FAIL: interrupted or out of time"; exit 1' INT TERM

# Polls a condition every 0.2 s for at most $1 seconds.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# --- X display ---------------------------------------------------------------------
exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec {display_fd}>&-
wait_for 10 test -s "$work/display" || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
echo "== X display $DISPLAY"

# --- Wine prefix -------------------------------------------------------------------
echo "== creating the Wine prefix"
prefix_started=$SECONDS
timeout 120 wine wineboot -i >"$work/wineboot.log" 2>&1
timeout 60 wineserver -w
# The program asks for the Japanese system font by its Japanese name; map it and
# the dialog fonts to IPAGothic, else the texts come out as empty boxes. Wine draws
# its own window frame (no window manager runs here), so the X window is the whole
# 500 x 400 window.
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for font in "ＭＳ ゴシック" "MS Gothic" "MS UI Gothic" "MS Shell Dlg"; do
        printf '"%s"="IPAGothic"\r\n' "$font"
    done
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n'
} | iconv -f UTF-8 -t UTF-16 >"$work/settings.reg"
timeout 60 wine regedit /S "$(winepath -w "$work/settings.reg" 2>/dev/null || echo "$work/settings.reg")" \
    >>"$work/wineboot.log" 2>&1
timeout 60 wineserver -w
# Wine's own frame draws its caption buttons with Marlett (from fonts-wine), which
# this Wine does not pick up from its data folder by itself.
for marlett in /usr/share/wine/fonts/marlett.ttf /usr/share/fonts/truetype/wine/marlett.ttf; do
    [[ -f "$marlett" ]] && cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/" && break
done
grep -q 'IPAGothic' "$WINEPREFIX/system.reg" ||
    { echo "FAIL: the font substitutes did not reach the prefix"; exit 1; }
echo "   prefix ready in $((SECONDS - prefix_started)) s"

# --- helpers on the running program ------------------------------------------------
window=""
find_window() {
    # Wine names an X window's class after the process, not after the Win32 class.
    window=$(xdotool search --onlyvisible --classname '^pulsemeter\.exe$' 2>/dev/null | head -n1)
    [[ -n "$window" ]]
}
window_size() {
    xwininfo -id "$window" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}'
}
expected_title="ＴＯＲＶ パルス周期計測プログラム"
title_matches() { [[ "$(xdotool getwindowname "$window")" == "$expected_title" ]]; }
# The window seen from Windows: class WIN32CLASS, 500 x 400, title, styles.
probe_window() {
    (cd "$work" && timeout 30 wine window_probe.exe) 2>&1 | tr -d '\r' | sed 's/^/     /'
    return "${PIPESTATUS[0]}"
}

start_program() {
    local folder=$1
    shift
    (cd "$folder" && exec env "$@" timeout 120 wine pulsemeter.exe >"$work/program.log" 2>&1) &
    program_pid=$!
}
# Ends the program as its user would: F10 opens the menu bar, Down opens the popup,
# Return chooses its only item.
choose_exit_item() {
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key F10
    sleep 0.3
    xdotool key Down
    sleep 0.3
    xdotool key Return
}
program_exit=""
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
await_exit() {
    program_exit=""
    if wait_for 20 program_ended; then
        wait "$program_pid"
        program_exit=$?
    fi
    program_pid=""
    timeout 20 wineserver -w
}

log=$work/device.log
logged() { grep -q -- "$1" "$log" 2>/dev/null; }
# Milliseconds of the first log line holding $1.
logged_at() { grep -m1 -- "$1" "$log" | awk '{print $1}'; }
line_of() { grep -n -m1 -- "$1" "$log" | cut -d: -f1; }
after() { # $2 is logged on a later line than $1
    local first second
    first=$(line_of "$1")
    second=$(grep -n -- "$2" "$log" | cut -d: -f1 | awk -v f="${first:-0}" '$1 > f' | head -n1)
    [[ -n "$first" && -n "$second" ]]
}
screenshot() { import -window "$window" "$1" 2>/dev/null; }
# The share of non-white pixels in a part of a screenshot: the readout is black text
# on white.
ink_in() { convert "$1" -crop "$2" +repage -colorspace Gray -format '%[fx:1-mean]' info:; }
has_ink() { awk -v v="$(ink_in "$1" "$2")" 'BEGIN {exit !(v > 0.02)}'; }

# --- 1: the program against the simulated counter ----------------------------------
# 30 kHz: about 3000 range counts per 100 ms, so the automatic range picks the divider
# 10000 (gate 0.33 s) with room on both sides for the timing of the two samples.
frequency=30000
echo "== the program with the stand-in library, input $frequency Hz"
start_program "$work/with-sim" PULSEMETER_SIM_FREQUENCY=$frequency \
    PULSEMETER_SIM_DEVICE_LOG="$(winepath -w "$log" 2>/dev/null || echo "$log")"
check "the main window appears" wait_for 30 find_window
if [[ -n "$window" ]]; then
    check "the window is 500 x 400 (is $(window_size))" test "$(window_size)" = 500x400
    check "the title reads $expected_title" title_matches
    check "seen from Windows, the window has class WIN32CLASS, its size and title" probe_window
    check "start-up configuration with divider 8000000 (M02008ff, M030003d)" \
        wait_for 15 eval 'logged M02008ff && logged M030003d'
    echo "     first configuration logged at $(logged_at M02008ff) ms"
    check "queries follow (M00 ... M07)" wait_for 10 eval "after M02008ff '> M00\$' && after M02008ff '> M07\$'"
    check "automatic range reconfigures with divider 10000 (M0201387)" \
        wait_for 15 after M02008ff M0201387
    echo "     reconfigured at $(logged_at M0201387) ms"
    # A valid reading shows after the settling and on the next refresh of the lines.
    sleep 4
    screenshot "$work/reading.png"
    check "the readout is drawn" has_ink "$work/reading.png" 480x250+10+45
    check "space then + reach the program: fixed range, divider 100000 (M020c34f)" eval '
        xdotool windowfocus --sync "$window" 2>/dev/null
        xdotool type --delay 150 " +"
        wait_for 10 after M0201387 M020c34f'
    sleep 1
    screenshot "$work/fixed-range.png"
    choose_exit_item
    await_exit
    check "the menu item ends the program with exit code 0 (got ${program_exit:-none})" \
        test "$program_exit" = 0
    check "the device is closed" logged closed
else
    await_exit
fi

# --- 2: the counter pulled out and plugged back in ---------------------------------
# Times count from the library's loading, while the window is created.
echo "== the counter pulled out 2 s after the start and plugged back in 2 s later"
log=$work/device-replug.log
window=""
start_program "$work/with-sim" PULSEMETER_SIM_FREQUENCY=$frequency \
    PULSEMETER_SIM_UNPLUG_AT=2 PULSEMETER_SIM_PLUG_AT=4 \
    PULSEMETER_SIM_DEVICE_LOG="$(winepath -w "$log" 2>/dev/null || echo "$log")"
if wait_for 30 find_window; then
    check "the loss is seen (unplugged SIM00001)" wait_for 15 logged 'unplugged SIM00001'
    sleep 0.7
    screenshot "$work/unplugged.png"
    check "the no-device text is drawn" has_ink "$work/unplugged.png" 400x60+10+45
    check "nothing else of the readout is left" eval '! has_ink "$work/unplugged.png" 480x200+10+190'
    check "plugged back in, it is configured again" \
        wait_for 15 after 'plugged in SIM00001' '> M024$'
    check "and queried" wait_for 10 after 'plugged in SIM00001' '> M07$'
    choose_exit_item
    await_exit
    check "the menu item ends it with exit code 0 (got ${program_exit:-none})" \
        test "$program_exit" = 0
else
    check "the main window appears" false
    await_exit
fi

# --- 3: no library beside the program ----------------------------------------------
echo "== the program alone, without the counter library"
window=""
start_program "$work/alone"
check "the main window appears without the library" wait_for 30 find_window
if [[ -n "$window" ]]; then
    check "seen from Windows, the window has class WIN32CLASS, its size and title" probe_window
    sleep 1.5
    screenshot "$work/no-device.png"
    check "the no-device text is drawn" has_ink "$work/no-device.png" 400x60+10+45
    choose_exit_item
    await_exit
    check "the menu item ends it with exit code 0 (got ${program_exit:-none})" \
        test "$program_exit" = 0
else
    await_exit
fi

# --- 3: a Windows whose ANSI code page is not 932 -----------------------------------
echo "== the program under LANG=C (code page 1252)"
window=""
start_program "$work/alone" LANG=C LC_ALL=C
check "the main window appears under LANG=C" wait_for 30 find_window
if [[ -n "$window" ]]; then
    check "the title still reads $expected_title" title_matches
    check "seen from Windows, the Unicode title is the Japanese one" probe_window
    choose_exit_item
    await_exit
else
    await_exit
fi

# --- 4: stand-in settings that cannot be used --------------------------------------
# Each is named in a message box; the library then does not load (no device).
box=""
find_box() { box=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1); [[ -n "$box" ]]; }
for setting in "PULSEMETER_SIM_FREQUENCY=2000 " "PULSEMETER_SIM_NO_DEVICE=10"; do
    name=${setting%%=*}
    echo "== the program with $setting"
    window=""
    start_program "$work/with-sim" "$setting"
    check "a message box names $name" wait_for 30 find_box "$name"
    [[ -n "$box" ]] && xdotool windowfocus --sync "$box" 2>/dev/null && xdotool key Return
    check "then the main window appears" wait_for 30 find_window
    if [[ -n "$window" ]]; then
        choose_exit_item
    fi
    await_exit
    check "and the program ends with exit code 0 (got ${program_exit:-none})" test "$program_exit" = 0
done

echo "== $(elapsed) in all; logs and screenshots in $work"
if ((failures)); then
    echo "$failures check(s) failed; the device log:"
    tail -n 40 "$log" 2>/dev/null
    exit 1
fi
echo "all checks passed"
