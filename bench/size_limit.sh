#!/usr/bin/env bash
# The cost of a size limit: converts every photo of a folder (default
# ../shared/testdata/photos) to 640 pixels at quality 60 with pictavo-cli -j 1,
# once plainly and once with --max-kb 30, alternating PASSES times, and prints
# the best wall time of each, their ratio (the target is at most 3) and the
# largest file the limited run wrote.
#
# Usage: bench/size_limit.sh [photos-folder]    PASSES=n (default 5)
#        PICTAVO_CLI=path (default build/bin/pictavo-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
photos=$(realpath "${1:-../shared/testdata/photos}")
passes=${PASSES:-5}
cli=$(realpath "${PICTAVO_CLI:-build/bin/pictavo-cli}")
[ -x "$cli" ] || { echo "pictavo-cli not built" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/pictavo-limit.XXXXXX")
trap 'rm -rf "$work"' EXIT
mapfile -t files < <(find "$photos" -maxdepth 1 -iname '*.jpg' | sort)

milliseconds() { # milliseconds <output folder> <options...>
    local out=$1; shift
    rm -rf "$out"; mkdir -p "$out"
    local start end
    start=$(date +%s%N)
    "$cli" -j 1 -s 640 -q 60 -d "$out" "$@" "${files[@]}" >/dev/null
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

best_plain=999999; best_limited=999999
for _ in $(seq "$passes"); do
    t=$(milliseconds "$work/plain"); (( t < best_plain )) && best_plain=$t
    t=$(milliseconds "$work/limited" --max-kb 30); (( t < best_limited )) && best_limited=$t
done
largest=$(find "$work/limited" -name '*.jpg' -printf '%s\n' | sort -n | tail -1)
echo "${#files[@]} photos at 640 px: plain ${best_plain} ms, --max-kb 30 ${best_limited} ms," \
     "ratio $(( best_limited * 100 / best_plain ))/100; largest limited file ${largest} bytes"
