#!/usr/bin/env bash
# Converts every photo of a folder (default ../shared/testdata/photos) to 640
# pixels on the longer side at JPEG quality 60 with pictavo-cli (-j 1 and -j 2),
# vipsthumbnail, ImageMagick's mogrify and GraphicsMagick's gm mogrify, and
# prints for each tool the wall time (best of PASSES runs), the pictures per
# second, the time ratio against pictavo-cli -j 1 (above 1: that tool is slower)
# and the total size of its outputs. Tools that are not installed are skipped
# (libvips-tools, imagemagick, graphicsmagick).
#
# Usage: bench/compare.sh [photos-folder]    PASSES=n (default 3)
#        PICTAVO_CLI=path (default build-rel/bin/pictavo-cli, else build/bin/pictavo-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
photos=$(realpath "${1:-../shared/testdata/photos}")
passes=${PASSES:-3}
cli=${PICTAVO_CLI:-}
if [ -z "$cli" ]; then
    for candidate in build-rel/bin/pictavo-cli build/bin/pictavo-cli; do
        [ -x "$candidate" ] && cli=$(realpath "$candidate") && break
    done
fi
[ -x "$cli" ] || { echo "pictavo-cli not built (cmake --build build-rel)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pictavo-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
count=$(find "$photos" -maxdepth 1 -iname '*.jpg' | wc -l)
mapfile -t files < <(find "$photos" -maxdepth 1 -iname '*.jpg' | sort)

# best_time <command...>: runs the command PASSES times into a fresh output
# folder $out and prints the best wall time in seconds.
best_time() {
    local best="" start end elapsed
    for _ in $(seq "$passes"); do
        rm -rf "$work/out" && mkdir -p "$work/out"
        out="$work/out"
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        elapsed=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$elapsed < $best" | bc -l)" = 1 ]; then best=$elapsed; fi
    done
    echo "$best"
}

run_cli() { "$cli" -s 640 -q 60 -d "$out" -j "$1" "${files[@]}"; }
# One process for all files, as vipsthumbnail's users run it; the output path is
# absolute, since a relative one is taken relative to each input's folder.
run_vips() { vipsthumbnail "${files[@]}" -s 640 -o "$out/%s.jpg[Q=60]"; }
run_magick() { /usr/bin/mogrify -path "$out" -resize 640x640 -quality 60 "${files[@]}"; }
run_gm() { gm mogrify -output-directory "$out" -resize 640x640 -quality 60 "${files[@]}"; }

declare -a names times sizes
measure() {
    local name=$1; shift
    local t
    t=$(best_time "$@")
    names+=("$name"); times+=("$t")
    sizes+=("$(find "$work/out" -type f -printf "%s\n" | awk "{s+=\$1} END {print s+0}")")
}

measure "pictavo-cli -j 1" run_cli 1
measure "pictavo-cli -j 2" run_cli 2
command -v vipsthumbnail >/dev/null && measure "vipsthumbnail" run_vips
[ -x /usr/bin/mogrify ] && measure "ImageMagick mogrify" run_magick
command -v gm >/dev/null && measure "GraphicsMagick gm" run_gm

echo "$count photos from $photos, 640 px, quality 60, best of $passes"
printf '%-22s %9s %12s %18s %12s\n' tool seconds pictures/s "time / cli -j 1" "output bytes"
for i in "${!names[@]}"; do
    printf '%-22s %9.3f %12.1f %18.2f %12s\n' "${names[$i]}" "${times[$i]}" \
        "$(echo "$count / ${times[$i]}" | bc -l)" "$(echo "${times[$i]} / ${times[0]}" | bc -l)" "${sizes[$i]}"
done
