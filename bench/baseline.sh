#!/usr/bin/env bash
# The work of pictavo_bench's Pipeline/640 and Pipeline/1600 done with libjpeg-turbo's
# command-line tools: every photograph decoded, shrunk so its longer side is 640
# (1600) pixels, and written as JPEG at quality 60. Prints the wall time of one pass
# over all photographs, comparable with the Pipeline benchmarks' "Time" column.
#
# Three ways of doing it, from cheapest to closest to what Pictavo does:
#   dct     djpeg -scale M/8, then cjpeg. libjpeg shrinks while decoding, in eighths,
#           so the output is the smallest eighth at least as large as asked for
#           (2048 pixels at 640 gives 3/8 = 768); its output is larger than ours.
#   dct+fit the same, then pamscale (area averaging) to exactly our output size.
#   full    djpeg at full size, pamscale to exactly our output size, cjpeg: the
#           same steps as Pictavo (whole decode, area-averaging shrink, encode).
# Two more lines help to read these:
#   decode  djpeg of every photograph at full size (against the Decode benchmarks
#           summed over all photographs).
#   startup djpeg and cjpeg run once per photograph on an 8x8 picture: the cost of
#           starting the tools, contained in every other line (dct starts two tools
#           per photograph, dct+fit and full three).
# The tools run one after another through files in a temporary folder (in memory,
# under /dev/shm, where there is one), each tool on one core. Pictavo's benchmark
# also does one photograph at a time, but Qt's smooth scaling may share a large
# stretch out over more cores: run it under `taskset -c 0` for a one-core figure.
#
# Usage: bench/baseline.sh [photos-folder]
#   PASSES=n       timed passes per line (default 3), after one untimed warm-up pass
#   METHODS="..."  which of dct, dct+fit, full to run (default all three)
#   EXTRAS=0       leaves out the decode and startup lines
set -euo pipefail

script_dir=$(cd "$(dirname "$0")" && pwd)
photos=${1:-${PICTAVO_TESTDATA_DIR:-$script_dir/../../shared/testdata}/photos}
passes=${PASSES:-3}
quality=60
sizes=(640 1600)
read -r -a methods <<<"${METHODS:-dct dct+fit full}"

for tool in djpeg cjpeg rdjpgcom pamscale; do
    command -v "$tool" >/dev/null || { echo "missing $tool (libjpeg-turbo-progs, netpbm)" >&2; exit 1; }
done
shopt -s nullglob
files=("$photos"/*.jpg "$photos"/*.jpeg)
((${#files[@]} > 0)) || { echo "no photographs in $photos" >&2; exit 1; }

work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'P6\n8 8\n255\n' >"$work/tiny.ppm"
head -c 192 /dev/zero >>"$work/tiny.ppm"
cjpeg -outfile "$work/tiny.jpg" "$work/tiny.ppm"

# For every photograph and output size, worked out once outside the timing: the
# eighths djpeg shrinks by (the smallest M with M/8 of the longer side at least
# the size asked for, at most 8) and Pictavo's output size (longer side as asked,
# shorter one truncated).
declare -A scale target_w target_h dct_pixels
for f in "${files[@]}"; do
    read -r w h < <(rdjpgcom -verbose "$f" | sed -n 's/^JPEG image is \([0-9]*\)w \* \([0-9]*\)h.*/\1 \2/p')
    longer=$((w > h ? w : h))
    for n in "${sizes[@]}"; do
        m=$(((8 * n + longer - 1) / longer))
        ((m > 8)) && m=8
        ((m < 1)) && m=1
        scale[$f,$n]=$m
        if ((w >= h)); then tw=$n th=$((n * h / w)); else tw=$((n * w / h)) th=$n; fi
        target_w[$f,$n]=$((tw > 0 ? tw : 1))
        target_h[$f,$n]=$((th > 0 ? th : 1))
        dct_pixels[$f,$n]=$((((w * m + 7) / 8) * ((h * m + 7) / 8)))
    done
done

# One pass of `method` at longer side `n`.
one_pass() {
    local method=$1 n=$2 f out
    for f in "${files[@]}"; do
        out=$work/${f##*/}
        case $method in
        startup)
            djpeg -outfile "$out.ppm" "$work/tiny.jpg"
            cjpeg -quality "$quality" -outfile "$out-$n.jpg" "$work/tiny.ppm"
            continue
            ;;
        decode)
            djpeg -outfile "$out.ppm" "$f"
            continue
            ;;
        dct)
            djpeg -scale "${scale[$f,$n]}/8" -outfile "$out.ppm" "$f"
            ;;
        dct+fit)
            djpeg -scale "${scale[$f,$n]}/8" -outfile "$out.big.ppm" "$f"
            pamscale -width "${target_w[$f,$n]}" -height "${target_h[$f,$n]}" "$out.big.ppm" >"$out.ppm"
            ;;
        full)
            djpeg -outfile "$out.big.ppm" "$f"
            pamscale -width "${target_w[$f,$n]}" -height "${target_h[$f,$n]}" "$out.big.ppm" >"$out.ppm"
            ;;
        *)
            echo "unknown method $method (dct, dct+fit, full)" >&2
            exit 1
            ;;
        esac
        cjpeg -quality "$quality" -outfile "$out-$n.jpg" "$out.ppm"
    done
}

# Megapixels one pass of `method` at `n` writes.
output_megapixels() {
    local method=$1 n=$2 f pixels=0
    for f in "${files[@]}"; do
        if [[ $method == dct ]]; then
            pixels=$((pixels + dct_pixels[$f,$n]))
        else
            pixels=$((pixels + target_w[$f,$n] * target_h[$f,$n]))
        fi
    done
    awk -v p="$pixels" 'BEGIN { printf "%.2f", p / 1e6 }'
}

now_ns() { date +%s%N; }

# Prints one line: best and median time of `passes` passes of `method` at `n`.
timed_line() {
    local method=$1 n=$2 p start end times=() sorted label=$1 mp=-
    one_pass "$method" "$n" # warms the page cache and the tools
    for ((p = 0; p < passes; p++)); do
        start=$(now_ns)
        one_pass "$method" "$n"
        end=$(now_ns)
        times+=($(((end - start) / 1000000)))
    done
    mapfile -t sorted < <(printf '%s\n' "${times[@]}" | sort -n)
    if [[ $n != - ]]; then
        label+=/$n
        mp=$(output_megapixels "$method" "$n")
    fi
    printf '%-14s %10d %10d %12s\n' "$label" "${sorted[0]}" "${sorted[$((passes / 2))]}" "$mp"
}

echo "libjpeg-turbo baseline: ${#files[@]} photographs in $photos, $passes passes, quality $quality"
printf '%-14s %10s %10s %12s\n' "work" "best ms" "median ms" "output MP"
if [[ ${EXTRAS:-1} != 0 ]]; then
    timed_line startup -
    timed_line decode -
fi
for n in "${sizes[@]}"; do
    for method in "${methods[@]}"; do
        timed_line "$method" "$n"
    done
done
