#!/usr/bin/env bash
# Times what a user waits for, process start to the last file in place: the
# photos of a folder (default ../shared/testdata/photos) to 640 pixels at
# quality 60 by `pictavo-cli -j 1` and by one vipsthumbnail process over all of
# them, outputs on tmpfs (/dev/shm). The two run in alternating pairs, so a
# load that comes and goes on a shared machine hits both alike; prints every
# pair and the medians, and the ratio vipsthumbnail / pictavo-cli.
#
# Usage: bench/speed_pairs.sh [photos-folder]    PAIRS=n (default 9)
#        PICTAVO_CLI=path (default build/bin/pictavo-cli)   SIZE=640  QUALITY=60
set -euo pipefail
cd "$(dirname "$0")/.."
photos=$(realpath "${1:-../shared/testdata/photos}")
pairs=${PAIRS:-9}
size=${SIZE:-640}
quality=${QUALITY:-60}
cli=$(realpath "${PICTAVO_CLI:-build/bin/pictavo-cli}")
[ -x "$cli" ] || { echo "pictavo-cli not built: $cli" >&2; exit 1; }
command -v vipsthumbnail >/dev/null || { echo "vipsthumbnail missing (apt-get install libvips-tools)" >&2; exit 1; }
mapfile -t files < <(find "$photos" -maxdepth 1 -iname '*.jpg' | sort)

work=$(mktemp -d /dev/shm/pictavo-pairs.XXXXXX)
trap 'rm -rf "$work"' EXIT

# seconds <command...>: wall time of one run into a fresh $work/out.
seconds() {
    rm -rf "$work/out" && mkdir "$work/out"
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
run_cli() { "$cli" -s "$size" -q "$quality" -j 1 -d "$work/out" "${files[@]}"; }
run_vips() { vipsthumbnail "${files[@]}" -s "$size" -o "$work/out/%s.jpg[Q=$quality]"; }

# One of each first, unmeasured: the libraries into the page cache.
run_cli >/dev/null 2>&1 || true
rm -rf "$work/out" && mkdir "$work/out" && run_vips >/dev/null 2>&1 || true

cli_times=()
vips_times=()
echo "${#files[@]} photos, $size px, quality $quality, $pairs alternating pairs"
printf '%6s %14s %14s\n' pair pictavo-cli vipsthumbnail
for i in $(seq "$pairs"); do
    c=$(seconds run_cli)
    v=$(seconds run_vips)
    cli_times+=("$c")
    vips_times+=("$v")
    printf '%6d %14.3f %14.3f\n' "$i" "$c" "$v"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
mc=$(median "${cli_times[@]}")
mv=$(median "${vips_times[@]}")
printf 'median %14.3f %14.3f\n' "$mc" "$mv"
printf 'vipsthumbnail / pictavo-cli: %.2f\n' "$(echo "$mv / $mc" | bc -l)"
