#!/usr/bin/env bash
# Picture quality of pictavo-cli against vipsthumbnail (libvips-tools):
#
# 1. SSIM at equal bytes: five photos to 640 pixels at quality 80 with
#    pictavo-cli; vipsthumbnail at every Q from 60 to 100 (metadata stripped, so
#    its bytes are picture data only); the two Qs whose files bracket
#    Pictavo's bytes are measured and vips' SSIM interpolated linearly in bytes
#    to Pictavo's. SSIM is luma SSIM against the full decode resampled by a
#    double-precision Lanczos-3 (pictavo_measure_quality). Target: Pictavo's
#    SSIM >= vips' - 0.002 on each photo.
# 2. Zone plate: a 4096x4096 grey plate (PNG) to 640 pixels at quality 100 with
#    both; the amplitude (of 127) of the rings at 0.30-0.45 cycles per result
#    pixel (targets: >= 90 % of vips') and at 0.8-1.2, beyond what 640 pixels
#    hold (target: <= 3).
#
# Usage: bench/quality.sh [pictavo-cli]    (default build/bin/pictavo-cli)
# Everything is written into a fresh folder under /dev/shm.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/bin/pictavo-cli}")
measure=${MEASURE_QUALITY:-$(realpath build/bin/pictavo_measure_quality)}
photos=$(realpath ../shared/testdata/photos)
names=(Sumo_Museum T-45A_Goshawk_03 cameratrap_african_elephants cameratrap_human libjxl_flower)
work=$(mktemp -d /dev/shm/pictavo-quality.XXXXXX)
trap 'rm -rf "$work"' EXIT

files=()
for name in "${names[@]}"; do files+=("$photos/$name.jpg"); done
mkdir -p "$work/pictavo" "$work/vips"
"$cli" -j 1 -s 640 -q 80 -d "$work/pictavo" "${files[@]}" >/dev/null
for q in $(seq 60 100); do
    vipsthumbnail -s 640 -o "$work/vips/%s.$q.jpg[Q=$q,strip]" "${files[@]}"
done

bytes() { stat -c %s "$1"; }
ssim() { "$measure" ssim "$1" "${@:2}" | awk '{print $2}'; }

echo "SSIM at equal bytes (640 px, pictavo q80)"
printf '%-30s %8s %8s   %7s %8s %8s   %8s\n' photo p.bytes p.ssim vips.Q v.bytes v.ssim diff
for name in "${names[@]}"; do
    ours=$(ls "$work/pictavo/$name"*.jpg)
    target=$(bytes "$ours")
    below=60; above=100
    for q in $(seq 60 100); do
        b=$(bytes "$work/vips/$name.$q.jpg")
        if [ "$b" -le "$target" ]; then below=$q; fi
        if [ "$b" -ge "$target" ] && [ "$above" -eq 100 ] && [ "$q" -lt 100 ]; then above=$q; fi
    done
    if [ "$above" -lt "$below" ]; then above=$below; fi
    read -r s_ours s_low s_high <<<"$(ssim "$photos/$name.jpg" "$ours" \
        "$work/vips/$name.$below.jpg" "$work/vips/$name.$above.jpg" | tr '\n' ' ')"
    b_low=$(bytes "$work/vips/$name.$below.jpg"); b_high=$(bytes "$work/vips/$name.$above.jpg")
    awk -v n="$name" -v tb="$target" -v ts="$s_ours" -v ql="$below" -v qh="$above" \
        -v bl="$b_low" -v bh="$b_high" -v sl="$s_low" -v sh="$s_high" 'BEGIN {
        s = (bh == bl) ? sl : sl + (sh - sl) * (tb - bl) / (bh - bl);
        printf "%-30s %8d %8.4f   %3d-%-3d %8d %8.4f   %+8.4f\n", n, tb, ts, ql, qh,
               (bh == bl) ? bl : tb, s, ts - s }'
done

echo
echo "Zone plate 4096 -> 640 (amplitude of 127)"
"$measure" zoneplate "$work/plate.png"
"$cli" -j 1 -s 640 -q 100 -o "$work/plate-pictavo.jpg" "$work/plate.png" >/dev/null
vipsthumbnail -s 640 -o "$work/plate-vips.jpg[Q=100,strip]" "$work/plate.png"
printf '%-10s %12s %12s\n' tool 0.30-0.45 0.8-1.2
"$measure" bands "$work/plate-pictavo.jpg" "$work/plate-vips.jpg" |
    awk '{ n = ($3 ~ /plate-pictavo/) ? "pictavo" : "vips"; printf "%-10s %12.1f %12.1f\n", n, $1, $2 }'
