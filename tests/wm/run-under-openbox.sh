#!/usr/bin/env bash
# Runs a command on a display of its own: a new Xvfb (the first free display
# number, as Xvfb picks it) with openbox as its window manager, and a fresh home
# for settings, desktop files and temporary pictures. Both go when the command
# ends; the command's exit status is the script's.
#   tests/wm/run-under-openbox.sh build/bin/Pictavo
# Without Xvfb, openbox, xprop or xdotool it exits 77 (CTest: skipped), in CI
# (CI=true) 1, since CI installs them.
set -euo pipefail

missing=()
for tool in Xvfb openbox xprop xdotool; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "run-under-openbox: ${missing[*]} not installed (tools/install-deps.sh installs them)" >&2
    [ "${CI:-}" = "true" ] && exit 1
    exit 77
fi

work=$(mktemp -d)
xvfb_pid=""
openbox_pid=""
cleanup() {
    local status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
        for log in "$work"/xvfb.log "$work"/openbox.log; do
            [ -s "$log" ] && { echo "--- $(basename "$log"):"; cat "$log"; } >&2
        done
    fi
    [ -n "$openbox_pid" ] && kill "$openbox_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 5 -screen 0 1600x1000x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
if [ ! -s "$work/display" ]; then
    echo "run-under-openbox: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
openbox_pid=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    echo "run-under-openbox: openbox did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
fi

mkdir -p "$work/config" "$work/data" "$work/tmp"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" TEMP="$work/tmp" TMPDIR="$work/tmp"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
"$@"
