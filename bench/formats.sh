#!/usr/bin/env bash
# Two figures of the newer photo formats, each the median wall time of RUNS runs
# (default 5) of whole programs, after one untimed warm-up run:
#
#   heic    a 12-megapixel HEIC (4032 x 3024, heif-enc quality 80) to 640 pixels:
#           pictavo-cli -s 640 against heif-convert to a JPEG followed by
#           ImageMagick's convert -resize 640x640 of that JPEG, the two tools'
#           times added. Target: pictavo-cli at most twice the tools' time.
#   colour  a 24-megapixel JPEG (6000 x 4000, quality 90) to 640 pixels through
#           pictavo-cli, untagged against the same photograph tagged Display P3.
#           Target: the tagged one at most 15 % slower.
#
# The sources are made once into CACHE (default: a folder under /tmp that is
# kept, since heif-enc takes a minute) by pictavo_make_format_sources.
#
# Usage: bench/formats.sh BUILD_BIN_FOLDER
set -euo pipefail

bin=$(cd "${1:?usage: bench/formats.sh BUILD_BIN_FOLDER}" && pwd)
runs=${RUNS:-5}
cache=${CACHE:-/tmp/pictavo-format-bench}
magick=$(command -v convert-im6.q16 || command -v convert)
for tool in heif-enc heif-convert "$magick"; do
    command -v "$tool" >/dev/null || { echo "missing $tool (libheif-examples, imagemagick)" >&2; exit 1; }
done

mkdir -p "$cache"
if [ ! -f "$cache/photo12.heic" ]; then
    "$bin/pictavo_make_format_sources" "$cache"
    heif-enc -q 80 -o "$cache/photo12.heic" "$cache/photo12.png" >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/pictavo-formats.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Median wall time in milliseconds of running "$@" RUNS times.
median_ms() {
    "$@" >/dev/null 2>&1
    local times=() start end
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        times+=($(((end - start) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

tools() {
    heif-convert -q 90 "$cache/photo12.heic" "$work/full.jpg"
    "$magick" "$work/full.jpg" -resize 640x640 -quality 60 "$work/tools.jpg"
}

pictavo=$(median_ms "$bin/pictavo-cli" -s 640 -d "$work" "$cache/photo12.heic")
baseline=$(median_ms tools)
echo "heic    pictavo-cli ${pictavo} ms, heif-convert + convert -resize ${baseline} ms," \
     "ratio $(awk -v a="$pictavo" -v b="$baseline" 'BEGIN { printf "%.2f", a / b }')"

untagged=$(median_ms "$bin/pictavo-cli" -s 640 -d "$work" "$cache/photo24.jpg")
tagged=$(median_ms "$bin/pictavo-cli" -s 640 -d "$work" "$cache/photo24-p3.jpg")
echo "colour  untagged ${untagged} ms, Display P3 ${tagged} ms," \
     "extra $(awk -v a="$tagged" -v b="$untagged" 'BEGIN { printf "%+.1f %%", (a / b - 1) * 100 }')"
