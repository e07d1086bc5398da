#!/usr/bin/env bash
# The main window's folder conversion as a user runs it, against pictavo-cli.
#   bench/window_batch.sh [bin-folder]        (default build/bin)
# Copies COUNT (default 55) photographs of ../shared/testdata/photos (or
# PHOTOS) into a temporary folder, starts an Xvfb on DISPLAY_NUMBER (default 93)
# with openbox, and then, RUNS times (default 3), alternating which goes first:
#   cli:    `pictavo-cli -j JOBS -s 640 -d OUT <the files>`, JOBS default 2,
#           timed from its start to its exit;
#   window: `Pictavo /V <folder>` with a fresh home whose settings preset 640 px,
#           quality 60, the destination and no question; once the dialog
#           "Verzeichnis umwandeln" is mapped, Return is pressed, and the time runs
#           from the Return until the destination holds all COUNT results.
# Per run it prints both times, the load average, and during the window's batch
# the processor time of the GUI thread, of the whole program, of Xvfb and of
# openbox; at the end min and median of each and their ratios. Then, unless
# STALLS=0, it runs pictavo_measure_window_batch (from the same folder) RUNS
# times on that display for the GUI thread's longest stall during a batch.
# THREADS=1 adds the processor time of each thread of the window's program;
# PERF_DATA=FILE records it with `perf record ${PERF_OPTS:--g}` from the Return
# to the last result, into FILE.<run>.
# Only processes this script started are ended, by their ids.
set -euo pipefail

bin=$(cd "${1:-build/bin}" && pwd)
photos=${PHOTOS:-$(cd "$(dirname "$0")/../.." && pwd)/shared/testdata/photos}
count=${COUNT:-55}
runs=${RUNS:-3}
jobs=${JOBS:-2}
display=":${DISPLAY_NUMBER:-93}"

for tool in Xvfb openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "window_batch: $tool is missing" >&2; exit 77; }
done
[ -x "$bin/Pictavo" ] && [ -x "$bin/pictavo-cli" ] || {
    echo "window_batch: no Pictavo / pictavo-cli in $bin" >&2
    exit 1
}
if [ -e "/tmp/.X${display#:}-lock" ]; then
    echo "window_batch: display $display is taken (set DISPLAY_NUMBER)" >&2
    exit 1
fi

work=$(mktemp -d /tmp/pictavo-window-batch.XXXXXX)
xvfb_pid=""
openbox_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null || true
    [ -n "$openbox_pid" ] && kill "$openbox_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/in"
mapfile -t sources < <(find "$photos" -maxdepth 1 -iname '*.jpg' -type f | sort)
[ ${#sources[@]} -gt 0 ] || { echo "window_batch: no photographs in $photos" >&2; exit 1; }
for ((i = 0; i < count; ++i)); do
    src=${sources[i % ${#sources[@]}]}
    cp "$src" "$work/in/$(printf '%02d' "$i")-$(basename "$src")"
done
files=("$work"/in/*.jpg)

Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp 2>"$work/xvfb.log" &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 100); do
    xprop -root >/dev/null 2>&1 && break
    sleep 0.1
done
openbox --sm-disable >"$work/openbox.log" 2>&1 &
openbox_pid=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# A pipe nobody writes to: `read -t` on it sleeps without starting a process.
exec 9<> <(:)
nap() { read -rt "$1" <&9 || true; }
now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }
# utime + stime in clock ticks of a process or thread (stat file given).
ticks() { local s; s=$(cat "$1" 2>/dev/null) || { echo 0; return; }; s=${s##*) }; set -- $s; echo $((${12} + ${13})); }
hz=$(getconf CLK_TCK)
results() { local f=("$1"/*.jpg); [ -e "${f[0]}" ] && echo ${#f[@]} || echo 0; }

run_cli() {
    local out="$work/cli-$1"
    mkdir -p "$out"
    local start end
    start=$(now_ms)
    "$bin/pictavo-cli" -j "$jobs" -s 640 -d "$out" "${files[@]}" >/dev/null 2>"$work/cli.err" || true
    end=$(now_ms)
    [ "$(results "$out")" -eq "$count" ] || { echo "window_batch: cli wrote $(results "$out") files" >&2; exit 1; }
    cli_times+=($((end - start)))
    echo "run $1 cli:    $((end - start)) ms   load $(cut -d' ' -f1-3 /proc/loadavg)"
}

run_window() {
    local home="$work/home-$1" out="$work/window-$1"
    mkdir -p "$home/config/Orvendel AG" "$home/data" "$home/tmp" "$out"
    cat >"$home/config/Orvendel AG/Pictavo.conf" <<EOF
[Setting]
X=640
Y=640
Quality=60
Destination=$out
Source=$work/in
Nachfragen=0
Mail%20senden=0
EOF
    HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        TEMP="$home/tmp" TMPDIR="$home/tmp" \
        "$bin/Pictavo" /V "$work/in" >"$work/app.log" 2>&1 &
    app_pid=$!
    local dialog=""
    for _ in $(seq 300); do
        dialog=$(xdotool search --onlyvisible --name '^Verzeichnis umwandeln$' 2>/dev/null | head -n1 || true)
        [ -n "$dialog" ] && break
        nap 0.05
    done
    [ -n "$dialog" ] || { echo "window_batch: the dialog did not show" >&2; cat "$work/app.log" >&2; exit 1; }
    xdotool windowactivate --sync "$dialog" 2>/dev/null || xdotool windowfocus --sync "$dialog"
    local gui0 all0 x0 wm0 start end
    gui0=$(ticks "/proc/$app_pid/task/$app_pid/stat")
    all0=$(ticks "/proc/$app_pid/stat")
    x0=$(ticks "/proc/$xvfb_pid/stat")
    wm0=$(ticks "/proc/$openbox_pid/stat")
    local perf_pid=""
    if [ -n "${PERF_DATA:-}" ]; then
        perf record ${PERF_OPTS:--g} -p "$app_pid" -o "$PERF_DATA.$1" >/dev/null 2>&1 &
        perf_pid=$!
        nap 0.3
    fi
    start=$(now_ms)
    xdotool key Return
    local timeout=$((start + 600000)) first=""
    while [ "$(results "$out")" -lt "$count" ]; do
        [ "$(now_ms)" -lt "$timeout" ] || { echo "window_batch: the window wrote $(results "$out") files" >&2; exit 1; }
        [ -z "$first" ] && [ "$(results "$out")" -gt 0 ] && first=$(($(now_ms) - start))
        nap 0.01
    done
    end=$(now_ms)
    if [ -n "$perf_pid" ]; then
        kill -INT "$perf_pid" 2>/dev/null || true
        wait "$perf_pid" 2>/dev/null || true
    fi
    if [ -n "${THREADS:-}" ]; then
        for task in /proc/"$app_pid"/task/*; do
            echo "    thread $(cat "$task/comm"): $(($(ticks "$task/stat") * 1000 / hz)) ms"
        done
    fi
    local gui all x wm
    gui=$(($(ticks "/proc/$app_pid/task/$app_pid/stat") - gui0))
    all=$(($(ticks "/proc/$app_pid/stat") - all0))
    x=$(($(ticks "/proc/$xvfb_pid/stat") - x0))
    wm=$(($(ticks "/proc/$openbox_pid/stat") - wm0))
    window_times+=($((end - start)))
    echo "run $1 window: $((end - start)) ms   first result after ${first:-?} ms, load $(cut -d' ' -f1-3 /proc/loadavg)   cpu ms: gui thread $((gui * 1000 / hz)), program $((all * 1000 / hz)), Xvfb $((x * 1000 / hz)), openbox $((wm * 1000 / hz))"
    # The closing box is left to the end of the program.
    kill "$app_pid" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$app_pid" 2>/dev/null || break
        nap 0.05
    done
    kill -9 "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

cli_times=()
window_times=()
echo "$count photographs at 640 px, pictavo-cli -j $jobs, display $display, $(nproc) processors"
for ((run = 1; run <= runs; ++run)); do
    if ((run % 2)); then
        run_cli "$run"
        run_window "$run"
    else
        run_window "$run"
        run_cli "$run"
    fi
done

# The same settings give the same files.
if ! diff -q <(ls "$work/cli-1") <(ls "$work/window-1") >/dev/null; then
    echo "window_batch: the window's files differ from pictavo-cli's:" >&2
    diff <(ls "$work/cli-1") <(ls "$work/window-1") | head >&2
    exit 1
fi

stats() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {printf "%d %d", v[1], v[int((NR + 1) / 2)]}'; }
read -r cli_min cli_median <<<"$(stats "${cli_times[@]}")"
read -r win_min win_median <<<"$(stats "${window_times[@]}")"
echo "cli:    min $cli_min ms, median $cli_median ms"
echo "window: min $win_min ms, median $win_median ms"
awk -v a="$win_min" -v b="$cli_min" -v c="$win_median" -v d="$cli_median" \
    'BEGIN {printf "window / cli: %.2f x (min), %.2f x (median)\n", a / b, c / d}'

# The GUI thread's longest stall during a window batch on this display: the
# benchmark shows the window, runs the folder command (its dialog accepted at
# once) and times a 10 ms timer meanwhile.
if [ "${STALLS:-1}" != 0 ] && [ -x "$bin/pictavo_measure_window_batch" ]; then
    mkdir -p "$work/stalls/config" "$work/stalls/tmp"
    for ((run = 1; run <= runs; ++run)); do
        (cd "$bin" && HOME="$work/stalls" XDG_CONFIG_HOME="$work/stalls/config" \
            TMPDIR="$work/stalls/tmp" ./pictavo_measure_window_batch 2>/dev/null) || true
    done
fi
