#!/usr/bin/env bash
# Times pictavo-cli on a generated photo archive in /dev/shm: -j 1, -j 2, two
# shards under GNU parallel, and a re-run with --skip-existing; checks that the
# shards together wrote the bytes of the single run and that the JSON records
# account for every picture. Prints photos per second.
#
#   bench/cli_archive.sh [build/bin/pictavo-cli] [FOLDERS]
#
# FOLDERS (default 8) folders of the photographs of ../shared/testdata/photos
# (11 photos) make the archive; the copies live in /dev/shm and are removed at
# the end. Needs GNU parallel and jq.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/bin/pictavo-cli}")
folders=${2:-8}
photos=$(realpath "$here/../../shared/testdata/photos")
work=$(mktemp -d /dev/shm/pictavo-archive.XXXXXX)
trap 'rm -rf "$work"' EXIT

for ((i = 1; i <= folders; i++)); do
    mkdir -p "$work/src/$((2000 + i))"
    # The photographs, not the small converted file the folder also holds.
    find "$photos" -name '*.jpg' -size +100k -exec cp {} "$work/src/$((2000 + i))/" \;
done
count=$(find "$work/src" -type f | wc -l)
echo "archive: $count photos in $folders folders ($(du -sh "$work/src" | cut -f1))"

# Seconds (3 decimals) that "$@" takes.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

rate() { echo "scale=1; $count / $1" | bc; }

sums() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha1sum); }

t1=$(seconds "$cli" -r -j 1 -d "$work/j1" "$work/src")
t2=$(seconds "$cli" -r -j 2 -d "$work/j2" "$work/src")
ts=$(seconds parallel -j 2 "$cli" -r -j 1 --shard {}/2 -d "$work/shards" "$work/src" ::: 1 2)
tr=$(seconds "$cli" -r -j 2 --skip-existing -d "$work/j2" "$work/src")

printf '%-34s %8s %10s\n' run seconds photos/s
printf '%-34s %8.2f %10s\n' "-j 1" "$t1" "$(rate "$t1")"
printf '%-34s %8.2f %10s\n' "-j 2" "$t2" "$(rate "$t2")"
printf '%-34s %8.2f %10s\n' "2 shards x -j 1 (parallel -j 2)" "$ts" "$(rate "$ts")"
printf '%-34s %8.2f %10s\n' "re-run of -j 2, --skip-existing" "$tr" "$(rate "$tr")"
echo "re-run / first run: $(echo "scale=3; $tr / $t2" | bc)"

if cmp -s <(sums "$work/j1") <(sums "$work/shards") && cmp -s <(sums "$work/j1") <(sums "$work/j2"); then
    echo "outputs: -j 1, -j 2 and the two shards are the same bytes"
else
    echo "outputs differ" >&2
    exit 1
fi

# Every picture accounted for: converted or in place, none failed.
"$cli" -r --skip-existing --json -d "$work/j2" "$work/src" 2>/dev/null |
    jq -se --argjson n "$count" '
        (map(select(.status)) | length == $n and all(.status != "failed"))
        and (last.summary.failed == 0)' >/dev/null &&
    echo "json: $count records, none failed"
