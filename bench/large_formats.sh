#!/usr/bin/env bash
# Time and peak memory of the 24-megapixel formats that are decoded through their
# libraries: a WebP (6000 x 4000, quality 90) and a 16-bit TIFF (6000 x 4000 RGB,
# uncompressed, and the same with deflate), each to 640 pixels at quality 60 with one worker, against
# vipsthumbnail on the same file. Whole processes, alternating which goes first;
# prints the median wall time and the median peak resident set (/usr/bin/time -v)
# of RUNS runs (default 5) per program and file. Target: Pictavo at most the
# peer's time and memory on both.
#
# The sources are made once (vips, from a shared photo) into CACHE (default
# /dev/shm/pictavo-large-formats); outputs go to tmpfs as well.
#
# Usage: bench/large_formats.sh [PICTAVO_CLI]   (default build/bin/pictavo-cli)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/bin/pictavo-cli}")
runs=${RUNS:-5}
cache=${CACHE:-/dev/shm/pictavo-large-formats}
photo=${PHOTO:-$here/../../shared/testdata/photos/Sumo_Museum.jpg}
for tool in vips vipsthumbnail /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (libvips-tools, time)" >&2; exit 1; }
done

mkdir -p "$cache"
files=(photo24.webp photo24-16bit.tif photo24-16bit-deflate.tif)
if [ ! -f "$cache/photo24-16bit-deflate.tif" ]; then
    vips resize "$photo" "$cache/photo24.v" \
        "$(python3 -c "import sys; print(6000 / $(vipsheader -f width "$photo"))")"
    vips extract_area "$cache/photo24.v" "$cache/photo24-crop.v" 0 0 6000 4000
    vips webpsave "$cache/photo24-crop.v" "$cache/photo24.webp" --Q 90 --strip
    vips colourspace "$cache/photo24-crop.v" "$cache/photo24-16bit.tif" rgb16
    vips copy "$cache/photo24-16bit.tif" "$cache/photo24-16bit-deflate.tif[compression=deflate]"
    rm -f "$cache/photo24.v" "$cache/photo24-crop.v"
fi
out=$(mktemp -d /dev/shm/pictavo-large-out.XXXXXX)
trap 'rm -rf "$out"' EXIT

# One run of "$@": prints "SECONDS KIB" (wall time, peak resident set).
measure() {
    /usr/bin/time -f '%e %M' -o "$out/time" "$@" >/dev/null 2>&1
    cat "$out/time"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

for file in "${files[@]}"; do
    source="$cache/$file"
    pictavo=(nice -n 0 "$cli" -s 640 -q 60 -j 1 -d "$out" "$source")
    vipsrun=(vipsthumbnail "$source" -s 640 -o "$out/%s.jpg[Q=60]")
    "${pictavo[@]}" >/dev/null 2>&1
    "${vipsrun[@]}" >/dev/null 2>&1
    : >"$out/pictavo" && : >"$out/vips"
    for run in $(seq "$runs"); do
        if [ $((run % 2)) -eq 1 ]; then
            measure "${pictavo[@]}" >>"$out/pictavo"
            measure "${vipsrun[@]}" >>"$out/vips"
        else
            measure "${vipsrun[@]}" >>"$out/vips"
            measure "${pictavo[@]}" >>"$out/pictavo"
        fi
    done
    for who in pictavo vips; do
        seconds=$(cut -d' ' -f1 "$out/$who" | median)
        kib=$(cut -d' ' -f2 "$out/$who" | median)
        printf '%-20s %-8s %6.2f s %6d MiB\n' "$file" "$who" "$seconds" $((kib / 1024))
    done
done
